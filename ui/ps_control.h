// The controls of the settings dialog, one per editable parameter. A control
// builds its widgets in the container it is given, writes every user edit
// straight into its parameter record and announces it with changed().
#pragma once

#include <QObject>
#include <QSize>
#include <QWidget>
#include <functional>
#include <vector>

#include "framework/parameter.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class ColorButton;
class RangeWidget;

class psControl : public QObject {
  Q_OBJECT

 public:
  explicit psControl(fx::Parameter& parameter, QObject* owner = nullptr);
  ~psControl() override;

  // The parameter's default becomes its value, and the widgets show it.
  virtual void resetToDefault() = 0;
  // Shows the parameter's current value without emitting changed().
  virtual void updateFromParameter() = 0;
  virtual QSize sizeHint() const;
  virtual QWidget* mainWidget() const = 0;
  virtual void showControl();
  virtual void hideControl();

  fx::Parameter& parameter() const { return parameter_; }

 signals:
  void changed();

 protected:
  // Appends a widget to its container's box layout.
  static void addToContainer(QWidget* container, QWidget* widget);
  // Calls commit whenever the edit loses focus or takes Return.
  void commitOnLeave(QLineEdit* edit, std::function<void()> commit);
  // Limits what the user types to limit characters; text the control shows
  // itself may be longer.
  static void limitTyping(QLineEdit* edit, int limit);
  static void showText(QLineEdit* edit, const QString& text);

  fx::Parameter& parameter_;
};

// Lays out the label, slider and edit of one range control itself.
class RangeContainer : public QWidget {
 public:
  explicit RangeContainer(QWidget* parent);
  void setParts(QLabel* label, RangeWidget* slider, QLineEdit* edit);
  QSize sizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void place();
  QLabel* label_ = nullptr;
  RangeWidget* slider_ = nullptr;
  QLineEdit* edit_ = nullptr;
};

class RangeControl : public psControl {
  Q_OBJECT

 public:
  RangeControl(fx::Parameter& parameter, QWidget* container);
  void resetToDefault() override;
  void updateFromParameter() override;
  QWidget* mainWidget() const override;

  // Slider steps per unit of the value.
  int scale() const { return scale_; }
  RangeWidget* slider() const { return slider_; }
  QLineEdit* edit() const { return edit_; }

 private slots:
  void valueChanged(int value);
  void textChanged();

 private:
  void showValue();
  RangeContainer* box_;
  QLabel* label_;
  RangeWidget* slider_;
  QLineEdit* edit_;
  int scale_;
};

class BooleanControl : public psControl {
  Q_OBJECT

 public:
  BooleanControl(fx::Parameter& parameter, QWidget* container);
  void resetToDefault() override;
  void updateFromParameter() override;
  QWidget* mainWidget() const override;
  QCheckBox* checkBox() const { return box_; }

 private slots:
  void buttonChanged();

 private:
  QCheckBox* box_;
};

class ListControl : public psControl {
  Q_OBJECT

 public:
  ListControl(fx::Parameter& parameter, QWidget* container);
  void resetToDefault() override;
  void updateFromParameter() override;
  QWidget* mainWidget() const override;
  QComboBox* comboBox() const { return combo_; }

 private slots:
  void activated(int index);

 private:
  QWidget* row_;
  QLabel* label_;
  QComboBox* combo_;
};

class ColorControl : public psControl {
  Q_OBJECT

 public:
  ColorControl(fx::Parameter& parameter, QWidget* container);
  void resetToDefault() override;
  void updateFromParameter() override;
  QWidget* mainWidget() const override;
  ColorButton* button() const { return button_; }

 private slots:
  void onColorChanged();

 private:
  QWidget* row_;
  QLabel* label_;
  ColorButton* button_;
};

class PointControl : public psControl {
  Q_OBJECT

 public:
  PointControl(fx::Parameter& parameter, QWidget* container);
  void resetToDefault() override;
  void updateFromParameter() override;
  QWidget* mainWidget() const override;
  QLineEdit* xEdit() const { return x_; }
  QLineEdit* yEdit() const { return y_; }

 private slots:
  void textChanged();

 private:
  QWidget* row_;
  QLabel* label_;
  QLineEdit* x_;
  QLineEdit* y_;
};

class ImageFileControl : public psControl {
  Q_OBJECT

 public:
  ImageFileControl(fx::Parameter& parameter, QWidget* container);
  void resetToDefault() override;
  void updateFromParameter() override;
  QWidget* mainWidget() const override;
  QLineEdit* edit() const { return edit_; }
  QPushButton* button() const { return button_; }

 private slots:
  void onButton();

 private:
  QWidget* row_;
  QLabel* label_;
  QLineEdit* edit_;
  QPushButton* button_;
};

// A group shown as a page: its radio button in the page selector, and the
// controls of its page.
class GroupButton : public psControl {
  Q_OBJECT

 public:
  // The button is placed in the selector's two-column grid at position id.
  GroupButton(fx::Parameter& parameter, QGroupBox* selector, int id);
  void resetToDefault() override {}
  void updateFromParameter() override {}
  QWidget* mainWidget() const override;
  QRadioButton* radioButton() const { return radio_; }

  void addControl(psControl* control) { controls_.push_back(control); }
  const std::vector<psControl*>& controls() const { return controls_; }

 private:
  QRadioButton* radio_;
  std::vector<psControl*> controls_;
};
