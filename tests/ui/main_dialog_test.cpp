// The settings dialog: how the panel is built from the parameter list, the
// zoom bar, Reset, and presets through the file choosers.
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QErrorMessage>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStyle>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QToolButton>

#include "framework/host_services.h"
#include "framework/settings_block.h"
#include "ui/data_folders.h"
#include "ui/ps_control.h"
#include "ui/viewer.h"
#include "ui_fixture.h"

namespace {

using uitest::Session;
using uitest::Settle;
using uitest::WhenModal;

psControl* Control(const MainDialog& d, const char* key) {
  for (psControl* c : d.controls())
    if (c->parameter().key != nullptr && std::string(c->parameter().key) == key) return c;
  return nullptr;
}

QStringList Keys(const std::vector<psControl*>& controls) {
  QStringList keys;
  for (psControl* c : controls) keys << QString::fromLatin1(c->parameter().key);
  return keys;
}

QToolButton* ZoomButton(const MainDialog& d, const char* text) {
  for (QToolButton* b : d.findChildren<QToolButton*>())
    if (b->text() == text) return b;
  return nullptr;
}

// Saves through the dialog's Save button, choosing name in the chooser.
void SaveAs(MainDialog& d, const QString& name) {
  WhenModal<QFileDialog>([name](QFileDialog* chooser) {
    EXPECT_EQ(chooser->objectName(), "save");
    EXPECT_EQ(chooser->windowTitle(), "Save Preset");
    EXPECT_EQ(chooser->acceptMode(), QFileDialog::AcceptSave);
    uitest::ChooseFile(chooser, name);
  });
  QMetaObject::invokeMethod(&d, "onSave");
}

void Load(MainDialog& d, const QString& name) {
  WhenModal<QFileDialog>([name](QFileDialog* chooser) {
    EXPECT_EQ(chooser->objectName(), "load");
    EXPECT_EQ(chooser->windowTitle(), "Load Preset");
    uitest::ChooseFile(chooser, name);
  });
  QMetaObject::invokeMethod(&d, "onLoad");
}

// ---------------------------------------------------------------- layout

TEST(MainDialogLayout, OneTopLevelGroupIsATitledBoxAndNoPages) {
  Session s(uitest::kOneGroup);
  auto d = s.Dialog();
  const QList<QGroupBox*> boxes = d->findChildren<QGroupBox*>();
  ASSERT_EQ(boxes.size(), 1);
  EXPECT_EQ(boxes[0]->title(), "Tone");
  EXPECT_EQ(d->pageSelector(), nullptr);
  EXPECT_TRUE(d->findChildren<QRadioButton*>().isEmpty());
  EXPECT_TRUE(d->findChildren<QStackedWidget*>().isEmpty());
  EXPECT_EQ(Keys(d->controls()), QStringList({"view", "amount", "soft", "after"}));
  EXPECT_TRUE(boxes[0]->isAncestorOf(Control(*d, "amount")->mainWidget()));
  EXPECT_TRUE(boxes[0]->isAncestorOf(Control(*d, "soft")->mainWidget()));
  // The group ends: what follows is back in the panel.
  EXPECT_FALSE(boxes[0]->isAncestorOf(Control(*d, "after")->mainWidget()));
  EXPECT_FALSE(boxes[0]->isAncestorOf(Control(*d, "view")->mainWidget()));
}

TEST(MainDialogLayout, TheFixedPartsOfTheDialog) {
  Session s(uitest::kOneGroup);
  auto d = s.Dialog();
  EXPECT_STREQ(d->metaObject()->className(), "MainDialog");
  EXPECT_TRUE(d->isModal());
  EXPECT_FALSE(d->isSizeGripEnabled());
  EXPECT_EQ(d->minimumSize(), d->maximumSize());
  EXPECT_EQ(d->size(), d->sizeHint());
  EXPECT_EQ(d->viewer()->objectName(), "viewer");
  EXPECT_EQ(d->viewer()->minimumSize(), QSize(480, 350));
  EXPECT_EQ(d->viewer()->maximumSize(), QSize(480, 350));
  QWidget* panel = Control(*d, "after")->mainWidget()->parentWidget();
  EXPECT_EQ(panel->minimumWidth(), 310);
  EXPECT_EQ(panel->maximumWidth(), 310);

  QStringList texts;
  for (QPushButton* b : d->findChildren<QPushButton*>()) texts << b->text();
  EXPECT_EQ(texts, QStringList({"&Load...", "&Save...", "&Reset", "&Cancel", "&OK"}));
  EXPECT_TRUE(d->findChildren<QPushButton*>().last()->isDefault());

  QToolButton* fit = ZoomButton(*d, "Fit");
  ASSERT_NE(fit, nullptr);
  for (const char* text : {"Fit", "-", "+", "1:1"}) {
    QToolButton* b = ZoomButton(*d, text);
    ASSERT_NE(b, nullptr) << text;
    EXPECT_EQ(b->width(), 2 * fit->sizeHint().width()) << text;
    EXPECT_TRUE(b->isEnabled()) << text;
  }
  EXPECT_EQ(d->zoomLabel()->alignment(), Qt::AlignCenter);
  // The zoom controls are centred under the preview.
  d->show();
  Settle();
  const QPoint fitAt = fit->mapTo(d.get(), QPoint(0, 0));
  QToolButton* one = ZoomButton(*d, "1:1");
  const QPoint oneEnd = one->mapTo(d.get(), QPoint(one->width(), 0));
  const QPoint viewerAt = d->viewer()->mapTo(d.get(), QPoint(0, 0));
  EXPECT_LE(std::abs((fitAt.x() - viewerAt.x()) - (viewerAt.x() + 480 - oneEnd.x())), 1);
}

// Their preview is rendered from the whole zoomed image.
TEST(MainDialogLayout, EffectsReadingOutsideTheirTileZoomToo) {
  Session s(uitest::kOutside, uitest::Gradient(1000, 800));
  auto d = s.Dialog();
  for (const char* text : {"Fit", "-", "+", "1:1"}) EXPECT_TRUE(ZoomButton(*d, text)->isEnabled()) << text;
}

// ---------------------------------------------------------------- screen size

// The room the dialog reckons with on a screen: its available area less a
// window manager's title bar and frame.
int RoomHeight(const QWidget& d, const QScreen& screen) {
  const QStyle* style = d.style();
  return screen.availableGeometry().height() - 2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth) -
         style->pixelMetric(QStyle::PM_TitleBarHeight);
}

TEST(MainDialogScreen, ThePanelScrollsExactlyWhenTheDialogIsTallerThanTheScreen) {
  QScreen* desk = uitest::Screen("Desk");
  QScreen* laptop = uitest::Screen("Laptop");
  ASSERT_NE(desk, laptop) << "the test screens are missing";
  struct Case {
    const char* name;
    const fx::EffectRoutines& effect;
    QScreen* screen;
    bool scrolls;
  };
  const Case cases[] = {
      {"tall on the desk", uitest::kTall, desk, false},  {"tall on the laptop", uitest::kTall, laptop, true},
      {"pages on the laptop", uitest::kPages, laptop, false},
      {"Diffusion on the laptop", uitest::Registered("Diffusion"), laptop, true},
      {"Bleach Bypass on the laptop", uitest::Registered("BleachBypass"), laptop, false},
      {"one group on a narrow screen", uitest::kOneGroup, uitest::Screen("Small"), true},
  };
  for (const Case& c : cases) {
    Session s(c.effect);
    // What the dialog asks for where it has all the room it wants.
    auto deskWindow = uitest::WindowOn(desk);
    const QSize natural = s.Dialog(deskWindow.get())->size();
    auto host = uitest::WindowOn(c.screen);
    auto d = s.Dialog(host.get());
    const bool wider = natural.width() > c.screen->availableGeometry().width() -
                                              2 * d->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    EXPECT_EQ(natural.height() > RoomHeight(*d, *c.screen) || wider, c.scrolls) << c.name;
    EXPECT_EQ(d->panelScroll() != nullptr, c.scrolls) << c.name;
    EXPECT_EQ(d->minimumSize(), d->maximumSize()) << c.name;
    if (!c.scrolls) {
      // Exactly the layout it always had.
      EXPECT_EQ(d->size(), natural) << c.name;
      EXPECT_EQ(d->size(), d->sizeHint()) << c.name;
      continue;
    }
    // As tall as the screen allows, no taller than it needs.
    EXPECT_EQ(d->height(), std::min(natural.height(), RoomHeight(*d, *c.screen))) << c.name;
    d->show();
    Settle();
    // Every button is inside the dialog, the panel keeps its width beside a
    // scroll bar, and scrolling down reaches the last control.
    for (QPushButton* b : d->findChildren<QPushButton*>()) {
      if (!b->isVisibleTo(d.get()) || !d->isAncestorOf(b) || d->panelScroll()->isAncestorOf(b)) continue;
      const QRect at(b->mapTo(d.get(), QPoint(0, 0)), b->size());
      EXPECT_TRUE(d->rect().contains(at)) << c.name << " " << b->text().toStdString();
    }
    QWidget* panel = d->panelScroll()->widget();
    EXPECT_EQ(panel->width(), 310) << c.name;
    EXPECT_TRUE(d->panelScroll()->verticalScrollBar()->isVisible()) << c.name;
    if (natural.height() > RoomHeight(*d, *c.screen)) {
      EXPECT_GT(d->panelScroll()->verticalScrollBar()->maximum(), 0) << c.name;
    }
    EXPECT_EQ(d->viewer()->size(), QSize(480, 350)) << c.name;
    // Nothing overlaps: the panel's scroll area starts right of the preview
    // and ends inside the dialog.
    const QRect scrollAt(d->panelScroll()->mapTo(d.get(), QPoint(0, 0)), d->panelScroll()->size());
    EXPECT_GE(scrollAt.left(), d->viewer()->mapTo(d.get(), QPoint(480, 0)).x()) << c.name;
    EXPECT_LE(scrollAt.right(), d->rect().right()) << c.name;
    EXPECT_EQ(d->width(), natural.width() + scrollAt.width() - 310) << c.name;
    QWidget* last = nullptr;
    for (psControl* control : d->controls())
      if (control->mainWidget()->isVisibleTo(panel)) last = control->mainWidget();
    ASSERT_NE(last, nullptr) << c.name;
    d->panelScroll()->ensureWidgetVisible(last, 0, 0);
    const QPoint lastAt = last->mapTo(d->panelScroll()->viewport(), QPoint(0, last->height() - 1));
    EXPECT_TRUE(d->panelScroll()->viewport()->rect().contains(lastAt)) << c.name;
  }
}

TEST(MainDialogPages, TwoOrMoreGroupsBecomePagesChosenByRadioButtons) {
  Session s(uitest::kPages);
  auto d = s.Dialog();
  d->show();
  Settle();
  ASSERT_NE(d->pageSelector(), nullptr);
  ASSERT_NE(d->pageStack(), nullptr);
  const auto& buttons = d->groupButtons();
  ASSERT_EQ(buttons.size(), 3u);
  QStringList labels;
  for (GroupButton* b : buttons) labels << b->radioButton()->text();
  EXPECT_EQ(labels, QStringList({"Shape", "Colour", "Texture"}));
  // Two columns, filled row by row; ids are page numbers.
  auto* grid = qobject_cast<QGridLayout*>(buttons[0]->radioButton()->parentWidget()->layout());
  ASSERT_NE(grid, nullptr);
  for (int i = 0; i < 3; ++i) {
    int row = -1, column = -1, rowSpan = 0, columnSpan = 0;
    grid->getItemPosition(grid->indexOf(buttons[i]->radioButton()), &row, &column, &rowSpan, &columnSpan);
    EXPECT_EQ(row, i / 2) << i;
    EXPECT_EQ(column, i % 2) << i;
    EXPECT_EQ(d->pageSelector()->id(buttons[i]->radioButton()), i);
  }
  EXPECT_EQ(d->pageStack()->count(), 3);
  EXPECT_EQ(d->pageStack()->currentIndex(), 0);
  EXPECT_TRUE(buttons[0]->radioButton()->isChecked());

  EXPECT_EQ(Keys(buttons[0]->controls()), QStringList({"amount", "center"}));
  EXPECT_EQ(Keys(buttons[1]->controls()), QStringList({"tint", "linked"}));
  EXPECT_EQ(Keys(buttons[2]->controls()), QStringList({"pattern", "mode"}));
  for (int page = 0; page < 3; ++page)
    for (psControl* c : buttons[page]->controls())
      EXPECT_TRUE(d->pageStack()->widget(page)->isAncestorOf(c->mainWidget())) << c->parameter().key;
  // A page's group is no longer marked open.
  EXPECT_EQ(s.Param("shape").flags & fx::kGroupOpen, 0u);

  for (int page : {2, 1, 0, 2}) {
    buttons[page]->radioButton()->click();
    EXPECT_EQ(d->pageStack()->currentIndex(), page);
    EXPECT_TRUE(d->pageStack()->widget(page)->isVisible());
  }

  // The plain group is a box of the panel, not a page.
  QGroupBox* plain = nullptr;
  for (QGroupBox* b : d->findChildren<QGroupBox*>())
    if (b->title() == "Plain") plain = b;
  ASSERT_NE(plain, nullptr);
  EXPECT_FALSE(d->pageStack()->isAncestorOf(plain));
  EXPECT_TRUE(plain->isAncestorOf(Control(*d, "plainAmount")->mainWidget()));
}

TEST(MainDialogPages, AHiddenGroupHidesItsControlsButKeepsThem) {
  Session s(uitest::kPages);
  auto d = s.Dialog();
  d->show();
  Settle();
  for (const char* key : {"hiddenAmount", "hiddenMode"}) {
    psControl* c = Control(*d, key);
    ASSERT_NE(c, nullptr) << key;
    EXPECT_TRUE(c->mainWidget()->isHidden()) << key;
    EXPECT_NE(c->parameter().flags & fx::kHidden, 0u) << key;
  }
  EXPECT_FALSE(Control(*d, "plainAmount")->mainWidget()->isHidden());
  for (QRadioButton* r : d->findChildren<QRadioButton*>()) EXPECT_NE(r->text(), "Secret");

  // Their values travel through a preset like any other.
  QTemporaryDir dir;
  fx::SetRange(s.Param("hiddenAmount"), 77);
  fx::SetListIndex(s.Param("hiddenMode"), 0);
  SaveAs(*d, dir.filePath("hidden"));
  ASSERT_TRUE(QFileInfo::exists(dir.filePath("hidden.kvr")));
  fx::SetRange(s.Param("hiddenAmount"), 5);
  fx::SetListIndex(s.Param("hiddenMode"), 1);
  Load(*d, dir.filePath("hidden.kvr"));
  EXPECT_EQ(s.Param("hiddenAmount").number, 77.0);
  EXPECT_EQ(s.Param("hiddenMode").listIndex, 0);
}

// Whether the preview offers the point's handle: lit under the mouse and
// grabbed by a press (the press is released where it was made).
bool Grabbable(Viewer& viewer, const fx::Parameter& point) {
  const QPoint at = viewer.pointToWidget(point.point.x, point.point.y);
  const QPointF global = viewer.mapToGlobal(QPointF(at));
  QMouseEvent move(QEvent::MouseMove, QPointF(at), global, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(&viewer, &move);
  const bool lit = viewer.hotHandle() >= 0;
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(at), global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&viewer, &press);
  const bool grabbed = viewer.hotHandle() >= 0;
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(at), global, Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(&viewer, &release);
  EXPECT_EQ(lit, grabbed) << point.key;
  return grabbed;
}

TEST(MainDialogPages, ThePreviewOffersTheHandlesOfThePageShownAndOfWhatIsOutsidePages) {
  Session s(uitest::kPagePoints);
  auto d = s.Dialog();
  d->show();
  Settle();
  struct Case {
    int page;
    QStringList grabbable;
  };
  const Case cases[] = {
      {0, {"firstPoint", "alwaysPoint"}},
      {1, {"secondPoint", "innerPoint", "alwaysPoint"}},
      {2, {"alwaysPoint"}},
      {0, {"firstPoint", "alwaysPoint"}},
  };
  const char* const points[] = {"firstPoint", "secondPoint", "innerPoint", "alwaysPoint", "secretPoint"};
  for (const Case& c : cases) {
    d->groupButtons()[static_cast<std::size_t>(c.page)]->radioButton()->click();
    QStringList offered;
    for (const char* key : points)
      if (Grabbable(*d->viewer(), s.Param(key))) offered << key;
    EXPECT_EQ(offered, c.grabbable) << "page " << c.page;
    // The points stay where they were: presses only grabbed.
    EXPECT_EQ(s.Param("secondPoint").point.x, 0.3);
  }
  // The page shown offers only its enabled points.
  d->groupButtons()[1]->radioButton()->click();
  fx::SetEnabled(s.Param("innerPoint"), false);
  EXPECT_TRUE(Grabbable(*d->viewer(), s.Param("secondPoint")));
  EXPECT_FALSE(Grabbable(*d->viewer(), s.Param("innerPoint")));

  // The drawn squares follow: the first page's handle is gone on the second.
  const QImage shot = d->viewer()->grab().toImage();
  const QPoint first = d->viewer()->pointToWidget(-0.3, -0.3), second = d->viewer()->pointToWidget(0.3, -0.3);
  EXPECT_EQ(shot.pixelColor(second.x() - 4, second.y()), QColor(Qt::white));
  EXPECT_NE(shot.pixelColor(first.x() - 4, first.y()), QColor(Qt::white));
}

TEST(MainDialogPages, WithoutPagesEveryHandleIsOffered) {
  Session s(uitest::kKinds);
  auto d = s.Dialog();
  d->show();
  Settle();
  EXPECT_TRUE(Grabbable(*d->viewer(), s.Param("center")));
  // A point marked as no handle is never one.
  EXPECT_FALSE(Grabbable(*d->viewer(), s.Param("fixed")));
}

TEST(MainDialogPages, DiffusionOffersItsCornerPinOnlyOnItsTexturePage) {
  Session s(uitest::Registered("Diffusion"));
  auto d = s.Dialog();
  d->show();
  Settle();
  const char* const points[] = {"dveCornerPinUL", "dveCornerPinUR", "dveCornerPinLR", "dveCornerPinLL",
                                "dvePosition"};
  ASSERT_EQ(d->groupButtons().size(), 3u);
  for (int page : {0, 1, 2}) {
    d->groupButtons()[static_cast<std::size_t>(page)]->radioButton()->click();
    for (const char* key : points) EXPECT_EQ(Grabbable(*d->viewer(), s.Param(key)), page == 2) << page << key;
  }
}

// ---------------------------------------------------------------- presets

TEST(MainDialogPresets, SavingAppendsKvrUnlessTheNameHasIt) {
  struct Case {
    const char* chosen;
    const char* written;
  };
  const Case cases[] = {
      {"plain", "plain.kvr"},         {"lower.kvr", "lower.kvr"},   {"upper.KVR", "upper.KVR"},
      {"mixed.Kvr", "mixed.Kvr.kvr"}, {"list.kvl", "list.kvl.kvr"}, {"dotted.name", "dotted.name.kvr"},
  };
  Session s(uitest::kKinds);
  auto d = s.Dialog();
  d->show();
  fx::SetRange(s.Param("amount"), 12.5);
  for (const Case& c : cases) {
    QTemporaryDir dir;
    SaveAs(*d, dir.filePath(c.chosen));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{c.written}) << c.chosen;
    // The file is this effect's settings.
    fx::EffectInstance* copy = uitest::kKinds.create();
    EXPECT_TRUE(fx::ReadPreset(*copy, dir.filePath(c.written).toLocal8Bit().constData())) << c.chosen;
    EXPECT_EQ(copy->parameters[fx::IndexOfKey(*copy, "amount")].number, 12.5);
    copy->routines->destroy(copy);
  }
}

// The folder the next preset chooser starts in; the chooser is cancelled.
QString StartFolder(MainDialog& d, const char* slot) {
  QString folder;
  WhenModal<QFileDialog>([&folder](QFileDialog* chooser) {
    folder = chooser->directory().absolutePath();
    chooser->reject();
  });
  QMetaObject::invokeMethod(&d, slot);
  return folder;
}

TEST(MainDialogPresets, TheChoosersStartInTheUserFolderThenInTheLastOneUsed) {
  // The process's own data and home folders, not the user's.
  const QString user = ps::UserPresetFolder();
  ASSERT_EQ(user, QFile::decodeName(qgetenv("XDG_DATA_HOME")) + "/ovra/Presets");
  QDir(user).removeRecursively();
  QSettings(QSettings::NativeFormat, QSettings::UserScope, "ovra", "dialog").clear();
  const QString home = QDir(QDir::homePath()).absolutePath();

  Session s(uitest::kKinds);
  auto d = s.Dialog();
  d->show();
  Settle();
  // Before the first save there is no folder of presets to look in.
  EXPECT_EQ(StartFolder(*d, "onLoad"), home);
  EXPECT_FALSE(QFileInfo::exists(user));
  EXPECT_EQ(StartFolder(*d, "onSave"), user);
  EXPECT_TRUE(QFileInfo(user).isDir());
  EXPECT_EQ(StartFolder(*d, "onLoad"), user);

  // A folder chosen once is where both choosers start, in later dialogs too.
  QTemporaryDir elsewhere;
  const QString chosen = QDir(elsewhere.path()).absolutePath();
  SaveAs(*d, elsewhere.filePath("mine"));
  ASSERT_TRUE(QFileInfo::exists(elsewhere.filePath("mine.kvr")));
  EXPECT_EQ(StartFolder(*d, "onSave"), chosen);
  d.reset();
  d = s.Dialog();
  d->show();
  EXPECT_EQ(StartFolder(*d, "onLoad"), chosen);
  Load(*d, elsewhere.filePath("mine.kvr"));
  EXPECT_EQ(StartFolder(*d, "onSave"), chosen);

  // A folder that has gone is forgotten.
  ASSERT_TRUE(elsewhere.remove());
  EXPECT_EQ(StartFolder(*d, "onLoad"), user);

  SaveAs(*d, QDir(user).filePath("again"));
  EXPECT_EQ(StartFolder(*d, "onLoad"), user);
}

TEST(MainDialogPresets, AnEffectWithPresetsBesideTheModuleKeepsToThatFolder) {
  QTemporaryDir elsewhere;
  {
    Session s(uitest::kKinds);
    auto d = s.Dialog();
    d->show();
    SaveAs(*d, elsewhere.filePath("mine"));
    ASSERT_EQ(StartFolder(*d, "onLoad"), QDir(elsewhere.path()).absolutePath());
  }
  Session s(uitest::kModulePresets);
  const QString moduleFolder = ps::DataFolder(fx::kVendorFolder, "Presets");
  ASSERT_FALSE(moduleFolder.isEmpty());
  ASSERT_TRUE(QDir().mkpath(moduleFolder));
  auto d = s.Dialog();
  d->show();
  EXPECT_EQ(StartFolder(*d, "onLoad"), QDir(moduleFolder).absolutePath());
  EXPECT_EQ(StartFolder(*d, "onSave"), QDir(moduleFolder).absolutePath());
}

TEST(MainDialogPresets, CancellingTheChoosersChangesNothing) {
  Session s(uitest::kKinds);
  auto d = s.Dialog();
  d->show();
  fx::SetRange(s.Param("amount"), 12.5);
  WhenModal<QFileDialog>([](QFileDialog* chooser) { chooser->reject(); });
  QMetaObject::invokeMethod(d.get(), "onLoad");
  WhenModal<QFileDialog>([](QFileDialog* chooser) { chooser->reject(); });
  QMetaObject::invokeMethod(d.get(), "onSave");
  EXPECT_EQ(s.Param("amount").number, 12.5);
  EXPECT_TRUE(d->isVisible());
}

TEST(MainDialogPresets, AnotherEffectsPresetIsRefusedWithAMessage) {
  QTemporaryDir dir;
  const QString path = dir.filePath("other.kvr");
  fx::EffectInstance* other = uitest::kOneGroup.create();
  ASSERT_TRUE(fx::WritePreset(*other, path.toLocal8Bit().constData()));
  other->routines->destroy(other);

  Session s(uitest::kPages);
  auto d = s.Dialog();
  d->show();
  Settle();
  fx::SetRange(s.Param("amount"), 33);
  QString message, title;
  bool dialogOpen = false;
  WhenModal<QFileDialog>([&](QFileDialog* chooser) {
    WhenModal<QErrorMessage>([&](QErrorMessage* box) {
      title = box->windowTitle();
      if (auto* text = box->findChild<QTextEdit*>()) message = text->toPlainText();
      dialogOpen = d->isVisible();
      box->accept();
    });
    uitest::ChooseFile(chooser, path);
  });
  QMetaObject::invokeMethod(d.get(), "onLoad");
  EXPECT_EQ(message, "Could not open file or preset is not for this filter.");
  EXPECT_EQ(title, "Ovra v6 PS");
  EXPECT_TRUE(dialogOpen);
  EXPECT_TRUE(d->isVisible());
  EXPECT_EQ(s.Param("amount").number, 33.0);
}

TEST(MainDialogPresets, ALoadedPresetShowsInEveryControlAndNotifies) {
  QTemporaryDir dir;
  const QString path = dir.filePath("kinds.kvr");
  fx::EffectInstance* source = uitest::kKinds.create();
  fx::SetRange(source->parameters[fx::IndexOfKey(*source, "amount")], 66.5);
  fx::SetBoolean(source->parameters[fx::IndexOfKey(*source, "linked")], true);
  ASSERT_TRUE(fx::WritePreset(*source, path.toLocal8Bit().constData()));
  source->routines->destroy(source);

  Session s(uitest::kKinds);
  auto d = s.Dialog();
  d->show();
  Settle();
  uitest::TheProbe().changed.clear();
  Load(*d, path);
  EXPECT_EQ(static_cast<RangeControl*>(Control(*d, "amount"))->edit()->text(), "66.5");
  EXPECT_TRUE(static_cast<BooleanControl*>(Control(*d, "linked"))->checkBox()->isChecked());
  EXPECT_EQ(uitest::TheProbe().changed, std::vector<int32_t>{fx::IndexOfKey(*s.effect, "linked")});
  // The effect greyed out "amount"; the refresh pushed it to the widget.
  EXPECT_FALSE(Control(*d, "amount")->mainWidget()->isEnabled());
  EXPECT_TRUE(d->viewer()->isDirty());
}

// ---------------------------------------------------------------- changes and reset

TEST(MainDialogChanges, NotifyingParametersAreToldBeforeBuildingAndOnEveryEdit) {
  Session s(uitest::kKinds);
  const int linked = fx::IndexOfKey(*s.effect, "linked");
  auto d = s.Dialog();
  EXPECT_EQ(uitest::TheProbe().changed, std::vector<int32_t>{linked});
  d->show();
  Settle();
  EXPECT_FALSE(d->viewer()->isDirty());
  static_cast<BooleanControl*>(Control(*d, "linked"))->checkBox()->click();
  EXPECT_EQ(uitest::TheProbe().changed, (std::vector<int32_t>{linked, linked}));
  EXPECT_FALSE(Control(*d, "amount")->mainWidget()->isEnabled());
  EXPECT_EQ(s.Param("amount").flags & fx::kStateChanged, 0u);
  EXPECT_TRUE(d->viewer()->isDirty());
  // An edit of a parameter without the flag re-renders and tells no one.
  Settle();
  emit static_cast<ListControl*>(Control(*d, "mode"))->comboBox()->activated(2);
  EXPECT_EQ(uitest::TheProbe().changed.size(), 2u);
  EXPECT_TRUE(d->viewer()->isDirty());
}

TEST(MainDialogChanges, ResetRestoresEveryControlAndRendersOnce) {
  Session s(uitest::kPages);
  auto d = s.Dialog();
  d->show();
  Settle();
  fx::SetRange(s.Param("amount"), 80);
  fx::SetPoint(s.Param("center"), {0.3, -0.3});
  fx::SetColour(s.Param("tint"), {0, 0, 1});
  fx::SetBoolean(s.Param("linked"), true);
  fx::SetEnabled(s.Param("amount"), false);
  fx::SetRange(s.Param("hiddenAmount"), 99);
  fx::SetListIndex(s.Param("hiddenMode"), 0);
  fx::SetRange(s.Param("plainAmount"), -3);
  fx::SetImageFile(s.Param("pattern"), "other.png");
  fx::SetListIndex(s.Param("mode"), 2);
  fx::SetListIndex(s.Param("view"), 1);
  uitest::TheProbe() = {};

  QMetaObject::invokeMethod(d.get(), "onReset");
  Settle();
  for (psControl* c : d->controls()) {
    const fx::Parameter& p = c->parameter();
    fx::Parameter fresh;
    fx::Declare(fresh, *p.declaration);
    EXPECT_EQ(p.number, fresh.number) << p.key;
    EXPECT_EQ(p.boolean, fresh.boolean) << p.key;
    EXPECT_EQ(p.listIndex, fresh.listIndex) << p.key;
    EXPECT_EQ(p.colour.r, fresh.colour.r) << p.key;
    EXPECT_EQ(p.colour.b, fresh.colour.b) << p.key;
    EXPECT_EQ(p.point.x, fresh.point.x) << p.key;
    EXPECT_EQ(p.fileName, fresh.fileName) << p.key;
  }
  EXPECT_EQ(static_cast<RangeControl*>(Control(*d, "amount"))->edit()->text(), "50");
  EXPECT_EQ(static_cast<PointControl*>(Control(*d, "center"))->xEdit()->text(), "0.00");
  EXPECT_EQ(static_cast<ImageFileControl*>(Control(*d, "pattern"))->edit()->text(), "stripes.png");
  // "linked" went back off; the effect was told twice and enabled "amount" again.
  const int linked = fx::IndexOfKey(*s.effect, "linked");
  EXPECT_EQ(uitest::TheProbe().changed, (std::vector<int32_t>{linked, linked}));
  EXPECT_TRUE(Control(*d, "amount")->mainWidget()->isEnabled());
  EXPECT_EQ(uitest::TheProbe().renders, 1);
}

// ---------------------------------------------------------------- zoom label

TEST(MainDialogZoom, TheLabelFollowsTheZoomTruncated) {
  {
    Session s(uitest::kOneGroup);
    auto d = s.Dialog();
    EXPECT_EQ(d->zoomLabel()->text(), "100%");
  }
  Session s(uitest::kOneGroup, uitest::Gradient(4000, 3000));
  auto d = s.Dialog();
  EXPECT_EQ(d->zoomLabel()->text(), "11%");  // fitted: 340 / 3000
  struct Case {
    float zoom;
    const char* text;
  };
  for (const Case& c : {Case{3.0f / 8, "37%"}, Case{1.0f, "100%"}, Case{0.01f, "1%"}, Case{0.999f, "99%"},
                        Case{0.5f, "50%"}}) {
    QMetaObject::invokeMethod(d.get(), "zoomChanged", Q_ARG(float, c.zoom));
    EXPECT_EQ(d->zoomLabel()->text(), c.text) << c.zoom;
  }
  ZoomButton(*d, "+")->click();
  EXPECT_EQ(d->zoomLabel()->text(), "14%");  // 340 / 3000 * 1.25
  ZoomButton(*d, "1:1")->click();
  EXPECT_EQ(d->zoomLabel()->text(), "100%");
  ZoomButton(*d, "Fit")->click();
  EXPECT_EQ(d->zoomLabel()->text(), "11%");
  ZoomButton(*d, "-")->click();
  EXPECT_EQ(d->zoomLabel()->text(), "9%");
}

}  // namespace
