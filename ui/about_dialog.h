// The About box: the product, its version and the maker's notice.
#pragma once

#include <QDialog>

class QTextEdit;

class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDialog(QWidget* parent);
  QTextEdit* edit() const { return edit_; }

 private:
  QTextEdit* edit_;
};
