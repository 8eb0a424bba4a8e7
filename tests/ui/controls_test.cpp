// The parameter controls: what each shows, what a user edit writes into the
// parameter, and when changed() is emitted.
#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFileDialog>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include <fstream>

#include "ui/color_button.h"
#include "ui/ps_control.h"
#include "ui/range_widget.h"
#include "ui_fixture.h"

namespace {

using uitest::WhenModal;

// A parameter record declared from a table row, outside any effect; the
// record points back at its row, so the row is kept here.
struct Record {
  explicit Record(const fx::ParamSpec& row) : declaration(row) {
    fx::Declare(p, declaration);
    fx::SetFlags(p, declaration.flags);
  }
  fx::ParamSpec declaration;
  fx::Parameter p;
};

class Controls : public ::testing::Test {
 protected:
  void SetUp() override {
    uitest::App();
    container = std::make_unique<QWidget>();
    new QVBoxLayout(container.get());
    container->resize(300, 400);
  }
  // The edit loses focus as when the user tabs away.
  static void Leave(QLineEdit* edit) {
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(edit, &out);
  }
  static void Type(QLineEdit* edit, const QString& text) {
    edit->setText(text);
    Leave(edit);
  }
  std::unique_ptr<QWidget> container;
};

// ---------------------------------------------------------------- range

TEST_F(Controls, RangeSliderStepsFollowTheDecimalsOrWholeNumbers) {
  struct Case {
    fx::ParamSpec declaration;
    int scale, sliderMin, sliderMax;
  };
  const Case cases[] = {
      {fx::Range("a", "A", 0, 100, 50), 100, 0, 10000},
      {fx::Range("b", "B", -100, 100, 0, 0), 10, -1000, 1000},
      {fx::Range("c", "C", -2.5, 7.25, 0), 100, -250, 725},
      {fx::Range("d", "D", 0, 10, 3).Flags(fx::kWholeNumbers), 1, 0, 10},
  };
  for (const Case& c : cases) {
    Record r(c.declaration);
    RangeControl control(r.p, container.get());
    EXPECT_EQ(control.scale(), c.scale) << c.declaration.key;
    EXPECT_EQ(control.slider()->minValue(), c.sliderMin) << c.declaration.key;
    EXPECT_EQ(control.slider()->maxValue(), c.sliderMax) << c.declaration.key;
    EXPECT_EQ(control.slider()->objectName(), "range");
  }
}

TEST_F(Controls, RangeEditIsClampedAndAlwaysAnnouncesLeaving) {
  Record r(fx::Range("amount", "Amount", 0, 100, 50));
  RangeControl control(r.p, container.get());
  control.updateFromParameter();
  EXPECT_EQ(control.edit()->text(), "50");
  QSignalSpy changed(&control, &psControl::changed);

  Type(control.edit(), "250");
  EXPECT_EQ(r.p.number, 100.0);
  EXPECT_EQ(control.edit()->text(), "100");
  EXPECT_EQ(control.slider()->value(), 10000);
  EXPECT_EQ(changed.count(), 1);

  // Leaving without a change still announces one.
  Leave(control.edit());
  EXPECT_EQ(changed.count(), 2);
  EXPECT_EQ(r.p.number, 100.0);

  // Not a number reads as 0.
  Type(control.edit(), "abc");
  EXPECT_EQ(r.p.number, 0.0);
  EXPECT_EQ(control.edit()->text(), "0");

  Type(control.edit(), "-12.34");
  EXPECT_EQ(r.p.number, 0.0);  // clamped to the minimum
  Type(control.edit(), "12.34");
  EXPECT_EQ(r.p.number, 12.34);
  EXPECT_EQ(control.slider()->value(), 1234);
  EXPECT_EQ(changed.count(), 5);
}

TEST_F(Controls, WholeNumberRangeKeepsTheTypedValueButShowsItsIntegerPart) {
  Record r(fx::Range("count", "Count", 0, 10, 3).Flags(fx::kWholeNumbers));
  RangeControl control(r.p, container.get());
  control.updateFromParameter();
  EXPECT_EQ(control.edit()->text(), "3");
  Type(control.edit(), "2.7");
  EXPECT_EQ(r.p.number, 2.7);
  EXPECT_EQ(control.edit()->text(), "2");
  EXPECT_EQ(control.slider()->value(), 2);
}

TEST_F(Controls, RangeShowsWholeTextButTheUserTypesAtMostFive) {
  Record r(fx::Range("s", "S", -100, 100, -33.33));
  RangeControl control(r.p, container.get());
  control.updateFromParameter();
  EXPECT_EQ(control.edit()->text(), "-33.33");
  // A seventh character is refused; deleting and retyping stays within what is shown.
  control.edit()->setCursorPosition(6);
  QTest::keyClicks(control.edit(), "9");
  EXPECT_EQ(control.edit()->text(), "-33.33");
  Record small(fx::Range("t", "T", 0, 100, 1));
  RangeControl other(small.p, container.get());
  other.updateFromParameter();
  other.edit()->clear();
  QTest::keyClicks(other.edit(), "1234567");
  EXPECT_EQ(other.edit()->text(), "12345");
}

TEST_F(Controls, SliderMovesWriteTheValueAndTheText) {
  Record r(fx::Range("amount", "Amount", 0, 100, 50));
  RangeControl control(r.p, container.get());
  QSignalSpy changed(&control, &psControl::changed);
  emit control.slider()->valueChanged(1234);
  EXPECT_EQ(r.p.number, 12.34);
  EXPECT_EQ(control.edit()->text(), "12.34");
  EXPECT_EQ(changed.count(), 1);
  control.resetToDefault();
  EXPECT_EQ(r.p.number, 50.0);
  EXPECT_EQ(control.slider()->value(), 5000);
  EXPECT_EQ(changed.count(), 1);
}

// A slider 209 pixels wide: its track spans 200 pixels from x = 4.
class Slider : public Controls {
 protected:
  void SetUp() override {
    Controls::SetUp();
    slider = new RangeWidget(container.get());
    slider->setGeometry(0, 0, 209, 9);
  }
  void Press(int x) { QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(x, 4)); }
  void Move(int x) {
    QMouseEvent move(QEvent::MouseMove, QPointF(x, 4), slider->mapToGlobal(QPointF(x, 4)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(slider, &move);
  }
  RangeWidget* slider = nullptr;
};

TEST_F(Slider, APressJumpsTheThumbThereAndEmitsOnce) {
  slider->setRange(0, 10000);
  slider->setValue(0);
  QSignalSpy spy(slider, &RangeWidget::valueChanged);
  struct Case {
    int x, value;
  };
  // value = min + trunc((x - 4) / 200 * range), kept within the range.
  for (const Case& c : {Case{104, 5000}, Case{4, 0}, Case{5, 50}, Case{203, 9950}, Case{204, 10000},
                        Case{-40, 0}, Case{900, 10000}}) {
    spy.clear();
    Press(c.x);
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(c.x, 4));
    EXPECT_EQ(slider->value(), c.value) << c.x;
    ASSERT_EQ(spy.count(), 1) << c.x;
    EXPECT_EQ(spy.at(0).at(0).toInt(), c.value);
  }
  slider->setRange(-1000, 1000);
  Press(4);
  EXPECT_EQ(slider->value(), -1000);
  Press(54);  // -1000 + trunc(50 / 200 * 2000)
  EXPECT_EQ(slider->value(), -500);
}

TEST_F(Slider, DraggingEmitsOnlyWhenTheIntegerValueChanges) {
  slider->setRange(0, 10);
  QSignalSpy spy(slider, &RangeWidget::valueChanged);
  Press(104);  // 5
  EXPECT_TRUE(slider->dragging());
  Move(105);  // trunc(101 / 200 * 10) = 5: no signal
  Move(120);  // 5
  Move(124);  // 6
  Move(125);  // 6
  Move(500);  // 10
  QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(500, 4));
  EXPECT_FALSE(slider->dragging());
  Move(4);  // not dragging: nothing changes
  ASSERT_EQ(spy.count(), 3);
  EXPECT_EQ(spy.at(0).at(0).toInt(), 5);
  EXPECT_EQ(spy.at(1).at(0).toInt(), 6);
  EXPECT_EQ(spy.at(2).at(0).toInt(), 10);
  EXPECT_EQ(slider->value(), 10);
}

TEST_F(Slider, TheThumbFollowsTheValueAndLightsUnderTheMouse) {
  slider->setRange(0, 10);
  slider->setValue(5);
  EXPECT_EQ(slider->thumbPosition(), 100);
  slider->setValue(99);  // kept within the range
  EXPECT_EQ(slider->value(), 10);
  EXPECT_EQ(slider->thumbPosition(), 200);
  slider->setValue(5);
  Move(99);
  EXPECT_FALSE(slider->thumbHovered());
  Move(100);
  EXPECT_TRUE(slider->thumbHovered());
  Move(108);
  EXPECT_TRUE(slider->thumbHovered());
  Move(109);
  EXPECT_FALSE(slider->thumbHovered());
  // A range of one value and a widget narrower than its margins are harmless.
  slider->setRange(3, 3);
  slider->setGeometry(0, 0, 5, 9);
  Press(2);
  EXPECT_EQ(slider->value(), 3);
  EXPECT_EQ(slider->thumbPosition(), 0);
  EXPECT_EQ(slider->sizeHint(), QSize(200, 9));
}

// ---------------------------------------------------------------- boolean, list

TEST_F(Controls, BooleanAndListWriteTheirValue) {
  Record b(fx::Bool("soft", "Soft", true));
  BooleanControl check(b.p, container.get());
  check.updateFromParameter();
  EXPECT_TRUE(check.checkBox()->isChecked());
  EXPECT_EQ(check.checkBox()->text(), "Soft");
  QSignalSpy checkChanged(&check, &psControl::changed);
  check.checkBox()->click();
  EXPECT_FALSE(b.p.boolean);
  EXPECT_EQ(checkChanged.count(), 1);
  check.resetToDefault();
  EXPECT_TRUE(b.p.boolean);
  EXPECT_TRUE(check.checkBox()->isChecked());

  Record l(fx::List("mode", "Mode", uitest::kModes, 1));
  ListControl list(l.p, container.get());
  list.updateFromParameter();
  ASSERT_EQ(list.comboBox()->count(), 3);
  EXPECT_EQ(list.comboBox()->itemText(2), "Edge");
  EXPECT_EQ(list.comboBox()->currentIndex(), 1);
  EXPECT_EQ(list.comboBox()->sizePolicy().horizontalPolicy(), QSizePolicy::Maximum);
  QSignalSpy listChanged(&list, &psControl::changed);
  emit list.comboBox()->activated(1);  // the same item: nothing
  EXPECT_EQ(listChanged.count(), 0);
  emit list.comboBox()->activated(2);
  EXPECT_EQ(l.p.listIndex, 2);
  EXPECT_EQ(listChanged.count(), 1);
  list.resetToDefault();
  EXPECT_EQ(l.p.listIndex, 1);
  EXPECT_EQ(list.comboBox()->currentIndex(), 1);
}

// ---------------------------------------------------------------- colour

TEST_F(Controls, ColourSwatchShowsTruncatedChannels) {
  Record r(fx::Colour("tint", "Tint", {1.0, 0.5, 0.0}));
  ColorControl control(r.p, container.get());
  control.updateFromParameter();
  EXPECT_EQ(control.button()->color(), QColor(255, 127, 0));
  EXPECT_EQ(control.button()->objectName(), "color");
  const int h = control.button()->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, control.button());
  EXPECT_EQ(control.button()->size(), QSize(2 * h, h));
}

TEST_F(Controls, EveryChannelComesBackWholeThroughTheParameter) {
  Record r(fx::Colour("tint", "Tint", {0.0, 0.0, 0.0}));
  ColorControl control(r.p, container.get());
  QColor shown;
  for (int v = 0; v <= 255; ++v) {
    control.button()->setColor(QColor(v, 255 - v, v / 2));
    QMetaObject::invokeMethod(&control, "onColorChanged");
    control.updateFromParameter();
    shown = control.button()->color();
    ASSERT_EQ(shown, QColor(v, 255 - v, v / 2)) << v;
  }
}

TEST_F(Controls, TheColourChooserChangesOnlyOnANewColour) {
  Record r(fx::Colour("tint", "Tint", {1.0, 0.5, 0.0}));
  ColorControl control(r.p, container.get());
  control.updateFromParameter();
  QSignalSpy changed(&control, &psControl::changed);

  WhenModal<QColorDialog>([](QColorDialog* d) { d->reject(); });
  control.button()->click();
  EXPECT_EQ(changed.count(), 0);

  WhenModal<QColorDialog>([](QColorDialog* d) {
    EXPECT_EQ(d->currentColor(), QColor(255, 127, 0));
    d->accept();  // the same colour
  });
  control.button()->click();
  EXPECT_EQ(changed.count(), 0);

  WhenModal<QColorDialog>([](QColorDialog* d) {
    d->setCurrentColor(QColor(51, 102, 204));
    d->accept();
  });
  control.button()->click();
  ASSERT_EQ(changed.count(), 1);
  EXPECT_NEAR(r.p.colour.r, 0.2, 1e-6);
  EXPECT_NEAR(r.p.colour.g, 0.4, 1e-6);
  EXPECT_NEAR(r.p.colour.b, 0.8, 1e-6);
  control.resetToDefault();
  EXPECT_EQ(control.button()->color(), QColor(255, 127, 0));
  EXPECT_EQ(r.p.colour.g, 0.5);
}

// ---------------------------------------------------------------- point

TEST_F(Controls, PointEditsArePerCentWithTwoDecimals) {
  Record r(fx::Point("center", "Center", {0.1, -0.2}));
  PointControl control(r.p, container.get());
  control.updateFromParameter();
  EXPECT_EQ(control.xEdit()->text(), "10.00");
  EXPECT_EQ(control.yEdit()->text(), "-20.00");
  QSignalSpy changed(&control, &psControl::changed);

  control.xEdit()->setText("25");
  control.yEdit()->setText("-10");
  Leave(control.yEdit());
  EXPECT_EQ(r.p.point.x, 0.25);
  EXPECT_EQ(r.p.point.y, -0.1);
  EXPECT_EQ(control.xEdit()->text(), "25.00");
  EXPECT_EQ(control.yEdit()->text(), "-10.00");
  EXPECT_EQ(changed.count(), 1);

  Leave(control.xEdit());  // unchanged
  EXPECT_EQ(changed.count(), 2);

  Type(control.xEdit(), "far");
  EXPECT_EQ(r.p.point.x, 0.0);
  EXPECT_EQ(control.xEdit()->text(), "0.00");

  control.resetToDefault();
  EXPECT_EQ(r.p.point.x, 0.1);
  EXPECT_EQ(control.yEdit()->text(), "-20.00");
  EXPECT_EQ(changed.count(), 3);
}

// ---------------------------------------------------------------- image file

TEST_F(Controls, ImageFileShowsTheFileNameOrNone) {
  Record r(fx::ImageFile("pattern", "Pattern", "KVR Ovra v6", "textures", ""));
  ImageFileControl control(r.p, container.get());
  control.updateFromParameter();
  EXPECT_EQ(control.edit()->text(), "None");
  EXPECT_TRUE(control.edit()->isReadOnly());
  EXPECT_EQ(control.button()->text(), "Browse...");
  fx::SetImageFile(r.p, "/some/where/205 venetian blind.png");
  control.updateFromParameter();
  EXPECT_EQ(control.edit()->text(), "205 venetian blind.png");
  control.resetToDefault();
  EXPECT_EQ(r.p.fileName, "");
  EXPECT_EQ(control.edit()->text(), "None");
}

TEST_F(Controls, AChosenTextureIsKeptByNameInTheModuleFoldersElseByPath) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString file = dir.filePath("grid.png");
  std::ofstream(file.toStdString()) << "not really a picture";

  Record named(fx::ImageFile("pattern", "Pattern", "KVR Ovra v6", "textures", "stripes.png"));
  Record bare(fx::ImageFile("photo", "Photo", nullptr, nullptr, ""));
  for (Record* r : {&named, &bare}) {
    ImageFileControl control(r->p, container.get());
    QSignalSpy changed(&control, &psControl::changed);
    WhenModal<QFileDialog>([](QFileDialog* d) { d->reject(); });
    control.button()->click();
    EXPECT_EQ(changed.count(), 0);

    WhenModal<QFileDialog>([&](QFileDialog* d) {
      EXPECT_EQ(d->objectName(), "load");
      EXPECT_EQ(d->windowTitle(), "Choose Texture...");
      EXPECT_EQ(d->nameFilters(), QStringList{"Supported files (*.jpeg *.jpg *.png)"});
      uitest::ChooseFile(d, file);
    });
    control.button()->click();
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(control.edit()->text(), "grid.png");
  }
  EXPECT_EQ(named.p.fileName, "grid.png");
  EXPECT_EQ(bare.p.fileName, QFileInfo(file).absoluteFilePath().toStdString());
}

// ---------------------------------------------------------------- the family

TEST_F(Controls, ShowHideAndSizeActOnTheMainWidget) {
  Record r(fx::Range("amount", "Amount", 0, 100, 50));
  RangeControl control(r.p, container.get());
  container->show();
  EXPECT_TRUE(control.mainWidget()->isVisible());
  control.hideControl();
  EXPECT_FALSE(control.mainWidget()->isVisible());
  control.showControl();
  EXPECT_TRUE(control.mainWidget()->isVisible());
  EXPECT_EQ(control.sizeHint(), control.mainWidget()->sizeHint());
  // Label, slider and edit lie in the container as laid out.
  EXPECT_EQ(control.sizeHint(), QSize(200, control.edit()->height() + 9 + 1));
  EXPECT_EQ(control.edit()->width(), 60);
  EXPECT_EQ(control.edit()->x(), control.mainWidget()->width() - 60 - 3);
  EXPECT_EQ(control.slider()->geometry(),
            QRect(0, control.edit()->height() + 1, control.mainWidget()->width(), 9));
}

}  // namespace
