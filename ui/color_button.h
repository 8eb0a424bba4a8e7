// The colour swatch of colour parameters: a command button filled with its
// colour that opens the colour chooser.
#pragma once

#include <QAbstractButton>
#include <QColor>

class ColorButton : public QAbstractButton {
  Q_OBJECT

 public:
  explicit ColorButton(QWidget* parent = nullptr, const char* name = nullptr);

  QColor color() const { return color_; }
  // Shows the colour without emitting colorChanged.
  void setColor(const QColor& color);

  QSize sizeHint() const override;

 signals:
  void colorChanged();

 private slots:
  void onClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor color_{255, 255, 255};
};
