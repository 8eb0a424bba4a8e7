#include "ui/qwinwidget.h"

#include <QChildEvent>
#include <QEvent>

QWinWidget::QWinWidget(intptr_t parentWindow, const NativeWindowOps* ops)
    : QWidget(nullptr), parent_(parentWindow), ops_(ops) {
  if (parent_ != 0 && ops_ != nullptr) {
    const auto self = static_cast<intptr_t>(winId());
    if (ops_->setChildStyle != nullptr) ops_->setChildStyle(ops_->context, self);
    if (ops_->setParent != nullptr) ops_->setParent(ops_->context, self, parent_);
  }
  // The bridge never paints.
  setAttribute(Qt::WA_NoSystemBackground);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

QWinWidget::~QWinWidget() {
  // A dialog that went without a hide still leaves the host usable.
  if (reenableParent_) {
    reenableParent_ = false;
    enableParent(true);
  }
}

void QWinWidget::enableParent(bool enable) {
  if (parent_ != 0 && ops_ != nullptr && ops_->enableWindow != nullptr)
    ops_->enableWindow(ops_->context, parent_, enable ? 1 : 0);
}

void QWinWidget::saveFocus() {
  if (previousFocus_ != 0) return;
  if (ops_ != nullptr && ops_->getFocus != nullptr) previousFocus_ = ops_->getFocus(ops_->context);
  if (previousFocus_ == 0) previousFocus_ = parent_;
}

void QWinWidget::setVisible(bool visible) {
  if (visible) saveFocus();
  QWidget::setVisible(visible);
}

void QWinWidget::childEvent(QChildEvent* event) {
  QObject* child = event->child();
  if (event->added()) {
    if (child->isWidgetType()) {
      auto* w = static_cast<QWidget*>(child);
      if (w->isWindow() || w->testAttribute(Qt::WA_ShowModal)) w->installEventFilter(this);
    }
  } else if (event->removed() && reenableParent_) {
    reenableParent_ = false;
    enableParent(true);
  }
  QWidget::childEvent(event);
}

bool QWinWidget::eventFilter(QObject* watched, QEvent* event) {
  auto* child = qobject_cast<QWidget*>(watched);
  if (child != nullptr) {
    switch (event->type()) {
      case QEvent::Show:
        if (child->isWindow()) {
          saveFocus();
          hide();
          if (child->isModal() && !reenableParent_) {
            enableParent(false);
            reenableParent_ = true;
          }
        }
        break;
      case QEvent::Hide:
        if (reenableParent_) {
          enableParent(true);
          reenableParent_ = false;
        }
        if (ops_ != nullptr && ops_->setFocus != nullptr) {
          const intptr_t focus = previousFocus_ != 0 ? previousFocus_ : parent_;
          if (focus != 0) ops_->setFocus(ops_->context, focus);
        }
        break;
      case QEvent::Close:
        if (parent_ != 0 && ops_ != nullptr && ops_->setActiveWindow != nullptr)
          ops_->setActiveWindow(ops_->context, parent_);
        if (child->testAttribute(Qt::WA_DeleteOnClose)) deleteLater();
        break;
      case QEvent::WindowDeactivate:
        if (child->isModal() && parent_ != 0 && ops_ != nullptr && ops_->bringWindowToTop != nullptr)
          ops_->bringWindowToTop(ops_->context, parent_);
        break;
      default:
        break;
    }
  }
  return QWidget::eventFilter(watched, event);
}
