#include "ui/about_dialog.h"

#include <QBoxLayout>
#include <QPushButton>
#include <QTextEdit>

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setModal(true);
  setSizeGripEnabled(false);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  edit_ = new QTextEdit(this);
  edit_->setObjectName(QStringLiteral("edit"));
  edit_->setReadOnly(true);
  layout->addWidget(edit_);
  auto* buttons = new QHBoxLayout();
  layout->addLayout(buttons);
  buttons->addStretch(100);
  auto* ok = new QPushButton(QStringLiteral("&OK"), this);
  ok->setDefault(true);
  buttons->addWidget(ok);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  setFixedSize(300, 200);
}
