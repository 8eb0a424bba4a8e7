#include "ui/ps_control.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QValidator>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "ui/color_button.h"
#include "ui/data_folders.h"
#include "ui/range_widget.h"

namespace {

// The edits commit when they lose focus, changed or not, as the dialog's
// controls always have; Return commits too, so that a value typed just
// before the default button fires is kept.
class CommitWatcher final : public QObject {
 public:
  CommitWatcher(QObject* owner, std::function<void()> commit) : QObject(owner), commit_(std::move(commit)) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::FocusOut) {
      if (static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) commit_();
    } else if (event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Return || key == Qt::Key_Enter) commit_();
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<void()> commit_;
};

// At most limit typed characters; what the control shows itself passes
// whole (a negative value with two decimals needs six).
class TypingLimit final : public QValidator {
 public:
  TypingLimit(int limit, QObject* parent) : QValidator(parent), limit_(limit) {}
  State validate(QString& input, int&) const override {
    return input.size() <= std::max<qsizetype>(limit_, shown_) ? Acceptable : Invalid;
  }
  void Showing(qsizetype length) { shown_ = length; }

 private:
  int limit_;
  qsizetype shown_ = 0;
};

QWidget* MakeRow(QWidget* container, int spacing) {
  auto* row = new QWidget(container);
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(spacing);
  return row;
}

void AddToRow(QWidget* row, QWidget* widget) {
  static_cast<QBoxLayout*>(row->layout())->addWidget(widget);
}

QString Label(const fx::Parameter& p) {
  return QString::fromUtf8(p.label ? p.label : "");
}

// Text typed in an edit as a number; anything else reads as 0.
double NumberIn(const QLineEdit* edit) {
  bool ok = false;
  const double v = edit->text().trimmed().toDouble(&ok);
  return ok ? v : 0.0;
}

}  // namespace

// ---------------------------------------------------------------- psControl

psControl::psControl(fx::Parameter& parameter, QObject* owner) : QObject(owner), parameter_(parameter) {}

psControl::~psControl() = default;

QSize psControl::sizeHint() const {
  QWidget* w = mainWidget();
  return w != nullptr ? w->sizeHint() : QSize(0, 0);
}

void psControl::showControl() {
  if (QWidget* w = mainWidget()) w->show();
}

void psControl::hideControl() {
  if (QWidget* w = mainWidget()) w->hide();
}

void psControl::addToContainer(QWidget* container, QWidget* widget) {
  if (container == nullptr) return;
  if (auto* box = qobject_cast<QBoxLayout*>(container->layout())) box->addWidget(widget);
}

void psControl::commitOnLeave(QLineEdit* edit, std::function<void()> commit) {
  edit->installEventFilter(new CommitWatcher(this, std::move(commit)));
}

void psControl::limitTyping(QLineEdit* edit, int limit) {
  edit->setValidator(new TypingLimit(limit, edit));
}

void psControl::showText(QLineEdit* edit, const QString& text) {
  if (auto* limit = const_cast<TypingLimit*>(dynamic_cast<const TypingLimit*>(edit->validator())))
    limit->Showing(text.size());
  edit->setText(text);
}

// ---------------------------------------------------------------- RangeControl

RangeContainer::RangeContainer(QWidget* parent) : QWidget(parent) {}

void RangeContainer::setParts(QLabel* label, RangeWidget* slider, QLineEdit* edit) {
  label_ = label;
  slider_ = slider;
  edit_ = edit;
  place();
}

QSize RangeContainer::sizeHint() const {
  if (edit_ == nullptr || slider_ == nullptr) return {200, 0};
  return {200, edit_->height() + slider_->height() + 1};
}

void RangeContainer::resizeEvent(QResizeEvent*) {
  place();
}

void RangeContainer::place() {
  if (label_ == nullptr) return;
  label_->setGeometry(QRect(QPoint(0, 0), label_->sizeHint()));
  edit_->move(width() - edit_->width() - 3, 0);
  slider_->setGeometry(0, edit_->height() + 1, width(), slider_->height());
}

RangeControl::RangeControl(fx::Parameter& parameter, QWidget* container) : psControl(parameter) {
  box_ = new RangeContainer(container);
  label_ = new QLabel(Label(parameter), box_);
  slider_ = new RangeWidget(box_, "range");
  edit_ = new QLineEdit(box_);
  label_->setFixedWidth(label_->sizeHint().width());
  limitTyping(edit_, 5);
  edit_->setFixedWidth(60);
  edit_->setFixedHeight(edit_->sizeHint().height());
  if (parameter.flags & fx::kWholeNumbers) {
    scale_ = 1;
  } else {
    // Decimals is 1 in every table; kept within what an int can scale.
    const int decimals = std::clamp(parameter.declaration ? parameter.declaration->decimals : 1, 0, 7);
    scale_ = static_cast<int>(std::lround(std::pow(10.0, decimals + 1)));
  }
  const auto scaled = [this](double v) {
    return static_cast<int>(std::clamp(std::trunc(v * scale_), -2.0e9, 2.0e9));
  };
  slider_->setRange(scaled(parameter.Minimum()), scaled(parameter.Maximum()));
  box_->setParts(label_, slider_, edit_);
  addToContainer(container, box_);
  connect(slider_, &RangeWidget::valueChanged, this, &RangeControl::valueChanged);
  commitOnLeave(edit_, [this] { textChanged(); });
}

QWidget* RangeControl::mainWidget() const {
  return box_;
}

void RangeControl::showValue() {
  char text[64];
  if (parameter_.flags & fx::kWholeNumbers) {
    std::snprintf(text, sizeof text, "%d", static_cast<int>(std::clamp(parameter_.number, -2.0e9, 2.0e9)));
  } else {
    std::snprintf(text, sizeof text, "%lg", parameter_.number);
  }
  showText(edit_, QString::fromLatin1(text));
}

void RangeControl::updateFromParameter() {
  slider_->setValue(static_cast<int>(std::clamp(std::trunc(parameter_.number * scale_), -2.0e9, 2.0e9)));
  showValue();
}

void RangeControl::valueChanged(int value) {
  fx::SetRange(parameter_, static_cast<double>(value) / scale_);
  showValue();
  emit changed();
}

void RangeControl::textChanged() {
  fx::SetRange(parameter_, std::clamp(NumberIn(edit_), parameter_.Minimum(), parameter_.Maximum()));
  updateFromParameter();
  emit changed();
}

void RangeControl::resetToDefault() {
  fx::ResetToDefault(parameter_);
  updateFromParameter();
}

// ---------------------------------------------------------------- BooleanControl

BooleanControl::BooleanControl(fx::Parameter& parameter, QWidget* container) : psControl(parameter) {
  box_ = new QCheckBox(Label(parameter), container);
  addToContainer(container, box_);
  connect(box_, &QCheckBox::clicked, this, &BooleanControl::buttonChanged);
}

QWidget* BooleanControl::mainWidget() const {
  return box_;
}

void BooleanControl::updateFromParameter() {
  box_->setChecked(parameter_.boolean);
}

void BooleanControl::buttonChanged() {
  fx::SetBoolean(parameter_, box_->isChecked());
  emit changed();
}

void BooleanControl::resetToDefault() {
  fx::ResetToDefault(parameter_);
  updateFromParameter();
}

// ---------------------------------------------------------------- ListControl

ListControl::ListControl(fx::Parameter& parameter, QWidget* container) : psControl(parameter) {
  row_ = MakeRow(container, 4);
  label_ = new QLabel(Label(parameter), row_);
  combo_ = new QComboBox(row_);
  AddToRow(row_, label_);
  AddToRow(row_, combo_);
  for (int32_t i = 0; i < parameter.ItemCount(); ++i) combo_->addItem(QString::fromUtf8(parameter.Item(i)));
  combo_->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Expanding);
  addToContainer(container, row_);
  connect(combo_, &QComboBox::activated, this, &ListControl::activated);
}

QWidget* ListControl::mainWidget() const {
  return row_;
}

void ListControl::updateFromParameter() {
  combo_->setCurrentIndex(parameter_.listIndex);
}

void ListControl::activated(int index) {
  if (index == parameter_.listIndex) return;
  fx::SetListIndex(parameter_, index);
  emit changed();
}

void ListControl::resetToDefault() {
  fx::ResetToDefault(parameter_);
  updateFromParameter();
}

// ---------------------------------------------------------------- ColorControl

ColorControl::ColorControl(fx::Parameter& parameter, QWidget* container) : psControl(parameter) {
  row_ = MakeRow(container, 0);
  label_ = new QLabel(Label(parameter), row_);
  button_ = new ColorButton(row_, "color");
  AddToRow(row_, label_);
  AddToRow(row_, button_);
  button_->setFixedSize(button_->sizeHint());
  addToContainer(container, row_);
  connect(button_, &ColorButton::colorChanged, this, &ColorControl::onColorChanged);
}

QWidget* ColorControl::mainWidget() const {
  return row_;
}

void ColorControl::updateFromParameter() {
  const fx::Rgb& c = parameter_.colour;
  button_->setColor(
      QColor(static_cast<int>(c.r * 255), static_cast<int>(c.g * 255), static_cast<int>(c.b * 255)));
}

void ColorControl::onColorChanged() {
  // A little over 1/255, so that every channel comes back whole when the
  // swatch is shown again.
  constexpr double kPerStep = 0.003921569;
  const QColor c = button_->color();
  fx::SetColour(parameter_, {c.red() * kPerStep, c.green() * kPerStep, c.blue() * kPerStep});
  emit changed();
}

void ColorControl::resetToDefault() {
  fx::ResetToDefault(parameter_);
  updateFromParameter();
}

// ---------------------------------------------------------------- PointControl

PointControl::PointControl(fx::Parameter& parameter, QWidget* container) : psControl(parameter) {
  row_ = MakeRow(container, 0);
  label_ = new QLabel(Label(parameter), row_);
  label_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  QWidget* inner = MakeRow(row_, 4);
  auto* xLabel = new QLabel(QStringLiteral("X:"), inner);
  x_ = new QLineEdit(inner);
  auto* yLabel = new QLabel(QStringLiteral("Y:"), inner);
  y_ = new QLineEdit(inner);
  for (QWidget* w : {static_cast<QWidget*>(xLabel), static_cast<QWidget*>(x_), static_cast<QWidget*>(yLabel),
                     static_cast<QWidget*>(y_)})
    AddToRow(inner, w);
  for (QLineEdit* edit : {x_, y_}) {
    limitTyping(edit, 5);
    edit->setFixedWidth(50);
    edit->setFixedHeight(edit->sizeHint().height());
    commitOnLeave(edit, [this] { textChanged(); });
  }
  inner->setFixedWidth(inner->sizeHint().width());
  AddToRow(row_, label_);
  AddToRow(row_, inner);
  addToContainer(container, row_);
}

QWidget* PointControl::mainWidget() const {
  return row_;
}

void PointControl::updateFromParameter() {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f", parameter_.point.x * 100);
  showText(x_, QString::fromLatin1(text));
  std::snprintf(text, sizeof text, "%.2f", parameter_.point.y * 100);
  showText(y_, QString::fromLatin1(text));
}

void PointControl::textChanged() {
  fx::SetPoint(parameter_, {NumberIn(x_) / 100, NumberIn(y_) / 100});
  updateFromParameter();
  emit changed();
}

void PointControl::resetToDefault() {
  fx::ResetToDefault(parameter_);
  updateFromParameter();
}

// ---------------------------------------------------------------- ImageFileControl

ImageFileControl::ImageFileControl(fx::Parameter& parameter, QWidget* container) : psControl(parameter) {
  row_ = MakeRow(container, 4);
  label_ = new QLabel(Label(parameter), row_);
  edit_ = new QLineEdit(row_);
  button_ = new QPushButton(QStringLiteral("Browse..."), row_);
  AddToRow(row_, label_);
  AddToRow(row_, edit_);
  AddToRow(row_, button_);
  label_->setFixedWidth(label_->sizeHint().width());
  edit_->setFixedHeight(edit_->sizeHint().height());
  edit_->setReadOnly(true);
  button_->setFixedSize(button_->sizeHint().width(), edit_->height());
  addToContainer(container, row_);
  connect(button_, &QPushButton::clicked, this, &ImageFileControl::onButton);
}

QWidget* ImageFileControl::mainWidget() const {
  return row_;
}

void ImageFileControl::updateFromParameter() {
  const QString path = QFile::decodeName(parameter_.fileName.c_str());
  edit_->setText(path.isEmpty() ? QStringLiteral("None") : QFileInfo(path).fileName());
}

void ImageFileControl::onButton() {
  const fx::ParamSpec* declaration = parameter_.declaration;
  const char* vendor = declaration ? declaration->vendorFolder : nullptr;
  const char* sub = declaration ? declaration->subFolder : nullptr;
  QFileDialog chooser(row_, QStringLiteral("Choose Texture..."), ps::DataFolder(vendor, sub),
                      QStringLiteral("Supported files (*.jpeg *.jpg *.png)"));
  chooser.setObjectName(QStringLiteral("load"));
  chooser.setAcceptMode(QFileDialog::AcceptOpen);
  chooser.setFileMode(QFileDialog::ExistingFile);
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return;
  const QFileInfo chosen(chooser.selectedFiles().constFirst());
  // Files of the module's own folders are kept by name, found again beside
  // whichever module loads the settings.
  const bool byName = vendor != nullptr && vendor[0] != '\0' && sub != nullptr && sub[0] != '\0';
  fx::SetImageFile(parameter_,
                   QFile::encodeName(byName ? chosen.fileName() : chosen.absoluteFilePath()).toStdString());
  updateFromParameter();
  emit changed();
}

void ImageFileControl::resetToDefault() {
  fx::ResetToDefault(parameter_);
  updateFromParameter();
}

// ---------------------------------------------------------------- GroupButton

GroupButton::GroupButton(fx::Parameter& parameter, QGroupBox* selector, int id) : psControl(parameter) {
  radio_ = new QRadioButton(Label(parameter), selector);
  if (auto* grid = qobject_cast<QGridLayout*>(selector->layout())) grid->addWidget(radio_, id / 2, id % 2);
}

QWidget* GroupButton::mainWidget() const {
  return radio_;
}
