#include "ui/color_button.h"

#include <QColorDialog>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

ColorButton::ColorButton(QWidget* parent, const char* name) : QAbstractButton(parent) {
  if (name != nullptr) setObjectName(QString::fromLatin1(name));
  setCheckable(false);
  connect(this, &QAbstractButton::clicked, this, &ColorButton::onClicked);
}

void ColorButton::setColor(const QColor& color) {
  color_ = color;
  update();
}

QSize ColorButton::sizeHint() const {
  const int h = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
  return {2 * h, h};
}

void ColorButton::onClicked() {
  const QColor chosen = QColorDialog::getColor(color_, this);
  if (!chosen.isValid() || chosen.rgb() == color_.rgb()) return;
  color_ = chosen;
  update();
  emit colorChanged();
}

void ColorButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QStyleOptionButton option;
  option.initFrom(this);
  option.rect = rect();
  option.state |= isDown() ? QStyle::State_Sunken : QStyle::State_Raised;
  style()->drawPrimitive(QStyle::PE_PanelButtonCommand, &option, &p, this);
  const int inset = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
  p.fillRect(rect().adjusted(inset, inset, -inset, -inset), color_);
}
