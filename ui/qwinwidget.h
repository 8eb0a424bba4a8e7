// The bridge that makes a Qt dialog behave as a modal child of the host's
// own window: the host window is disabled while the dialog is shown, and
// gets focus and activation back when it goes. The native operations come
// from the host's platform data; where the host gives none, nothing is done.
#pragma once

#include <QWidget>
#include <cstdint>

#include "plugin/protocol/filter_record.h"

class QWinWidget : public QWidget {
  Q_OBJECT

 public:
  QWinWidget(intptr_t parentWindow, const NativeWindowOps* ops);
  ~QWinWidget() override;

  intptr_t parentWindow() const { return parent_; }
  intptr_t previousFocus() const { return previousFocus_; }
  bool owesReenable() const { return reenableParent_; }

  void setVisible(bool visible) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void childEvent(QChildEvent* event) override;

 private:
  void saveFocus();
  void enableParent(bool enable);

  intptr_t parent_;
  const NativeWindowOps* ops_;
  intptr_t previousFocus_ = 0;
  bool reenableParent_ = false;
};
