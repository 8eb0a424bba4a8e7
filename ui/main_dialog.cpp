#include "ui/main_dialog.h"

#include <QBoxLayout>
#include <QButtonGroup>
#include <QCursor>
#include <QDir>
#include <QErrorMessage>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStyle>
#include <QToolButton>

#include <algorithm>

#include "framework/host_services.h"
#include "plugin/entry_call.h"
#include "plugin/render_loop.h"
#include "ui/data_folders.h"
#include "ui/ps_control.h"
#include "ui/viewer.h"

namespace {

constexpr int kViewerWidth = 480;
constexpr int kViewerHeight = 350;
constexpr int kPanelWidth = 310;
constexpr int kStretch = 1000;

const char kPresetFilter[] = "KVR Preset files (*.kvr *.kvl)";
const char kLoadFailed[] = "Could not open file or preset is not for this filter.";

QWidget* Box(QWidget* parent, QBoxLayout::Direction direction, int spacing, int margin = 0) {
  auto* box = new QWidget(parent);
  auto* layout = new QBoxLayout(direction, box);
  layout->setContentsMargins(margin, margin, margin, margin);
  layout->setSpacing(spacing);
  return box;
}

QBoxLayout* BoxLayout(QWidget* box) {
  return static_cast<QBoxLayout*>(box->layout());
}

void AddStretchWidget(QWidget* box, int factor) {
  if (auto* layout = qobject_cast<QBoxLayout*>(box->layout())) layout->addWidget(new QWidget(box), factor);
}

QToolButton* ToolButton(QWidget* parent, const char* text) {
  auto* button = new QToolButton(parent);
  button->setText(QString::fromLatin1(text));
  button->setToolButtonStyle(Qt::ToolButtonTextOnly);
  BoxLayout(parent)->addWidget(button);
  return button;
}

QPushButton* PushButton(QBoxLayout* row, QWidget* parent, const char* text) {
  auto* button = new QPushButton(QString::fromLatin1(text), parent);
  row->addWidget(button);
  return button;
}

// The screen the dialog will show on: its parent's, else the one under the
// mouse, where a dialog without a parent opens.
QScreen* ScreenFor(const QWidget& dialog) {
  if (dialog.parentWidget() != nullptr) return dialog.screen();
  if (QScreen* s = QGuiApplication::screenAt(QCursor::pos())) return s;
  return dialog.screen();
}

// The room a window has on its screen: the available area less the frame a
// window manager draws around it, which is not known before the window is
// shown and is reckoned as the style's title bar and frame.
QSize RoomOnScreen(const QWidget& dialog) {
  const QScreen* screen = ScreenFor(dialog);
  if (screen == nullptr) return {QWIDGETSIZE_MAX, QWIDGETSIZE_MAX};
  const QStyle* style = dialog.style();
  const int border = 2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth);
  const QSize available = screen->availableGeometry().size();
  return {available.width() - border,
          available.height() - border - style->pixelMetric(QStyle::PM_TitleBarHeight)};
}

}  // namespace

MainDialog::MainDialog(QWidget* parent, ps::EntryCall& call, ps::PreviewRenderer& preview)
    : QDialog(parent), call_(call), preview_(preview), record_(*call.filterRecord), effect_(*call.effect) {
  setModal(true);
  setSizeGripEnabled(false);
  auto* top = new QVBoxLayout(this);
  top->setContentsMargins(4, 4, 4, 4);

  QWidget* upper = Box(this, QBoxLayout::LeftToRight, 4);
  top->addWidget(upper);
  QWidget* left = Box(upper, QBoxLayout::TopToBottom, 4);
  BoxLayout(upper)->addWidget(left);

  viewer_ = new Viewer(left, call, preview);
  viewer_->setFixedSize(kViewerWidth, kViewerHeight);
  BoxLayout(left)->addWidget(viewer_);

  QWidget* zoomBar = Box(left, QBoxLayout::LeftToRight, 4);
  BoxLayout(left)->addWidget(zoomBar);
  auto* spacerLeft = new QWidget(zoomBar);
  BoxLayout(zoomBar)->addWidget(spacerLeft);
  fit_ = ToolButton(zoomBar, "Fit");
  zoomOut_ = ToolButton(zoomBar, "-");
  zoomLabel_ = new QLabel(QStringLiteral("100%"), zoomBar);
  zoomLabel_->setAlignment(Qt::AlignCenter);
  BoxLayout(zoomBar)->addWidget(zoomLabel_);
  zoomIn_ = ToolButton(zoomBar, "+");
  oneToOne_ = ToolButton(zoomBar, "1:1");
  auto* spacerRight = new QWidget(zoomBar);
  BoxLayout(zoomBar)->addWidget(spacerRight);
  const int buttonWidth = 2 * fit_->sizeHint().width();
  for (QToolButton* b : {fit_, zoomOut_, zoomIn_, oneToOne_}) b->setFixedWidth(buttonWidth);
  // Centres the zoom controls under the preview.
  const int spacerWidth = (kViewerWidth - zoomBar->sizeHint().width()) / 2;
  spacerLeft->setFixedWidth(spacerWidth);
  spacerRight->setFixedWidth(spacerWidth);
  AddStretchWidget(left, kStretch);

  // Every effect zooms: one that reads outside its tile is given the whole
  // zoomed image by the preview renderer.
  connect(fit_, &QToolButton::clicked, viewer_, &Viewer::zoomToFit);
  connect(zoomIn_, &QToolButton::clicked, viewer_, &Viewer::zoomIn);
  connect(zoomOut_, &QToolButton::clicked, viewer_, &Viewer::zoomOut);
  connect(oneToOne_, &QToolButton::clicked, viewer_, &Viewer::zoom100);
  connect(viewer_, &Viewer::zoomChanged, this, &MainDialog::zoomChanged);

  QWidget* panel = Box(upper, QBoxLayout::TopToBottom, 4, 4);
  panel->setFixedWidth(kPanelWidth);
  BoxLayout(upper)->addWidget(panel);
  buildPanel(panel);
  AddStretchWidget(panel, kStretch);

  auto* buttons = new QHBoxLayout();
  top->addLayout(buttons);
  connect(PushButton(buttons, this, "&Load..."), &QPushButton::clicked, this, &MainDialog::onLoad);
  connect(PushButton(buttons, this, "&Save..."), &QPushButton::clicked, this, &MainDialog::onSave);
  buttons->addStretch(100);
  connect(PushButton(buttons, this, "&Reset"), &QPushButton::clicked, this, &MainDialog::onReset);
  connect(PushButton(buttons, this, "&Cancel"), &QPushButton::clicked, this, &MainDialog::reject);
  QPushButton* ok = PushButton(buttons, this, "&OK");
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &MainDialog::accept);

  viewer_->zoomToFit();
  fitScreen(upper, panel);
}

void MainDialog::fitScreen(QWidget* upper, QWidget* panel) {
  const QSize room = RoomOnScreen(*this);
  const QSize hint = sizeHint();
  if (hint.width() <= room.width() && hint.height() <= room.height()) {
    setFixedSize(hint);
    return;
  }
  // Taller or wider than the screen, the buttons below would be out of
  // reach: the panel scrolls instead, at its own width, and the dialog is
  // no taller than the screen.
  panelScroll_ = new QScrollArea(upper);
  panelScroll_->setFrameShape(QFrame::NoFrame);
  panelScroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  panelScroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  panelScroll_->setWidgetResizable(true);
  // The panel scrolls rather than squeezing its controls.
  panel->setMinimumHeight(panel->sizeHint().height());
  delete BoxLayout(upper)->replaceWidget(panel, panelScroll_);
  panelScroll_->setWidget(panel);
  const int scrollBarWidth = panelScroll_->verticalScrollBar()->sizeHint().width();
  panelScroll_->setFixedWidth(kPanelWidth + scrollBarWidth);
  // The preview, zoom bar and buttons keep their room on a screen lower
  // than all of them.
  layout()->activate();
  const int height = std::min(hint.height(), room.height());
  setFixedSize(hint.width() + scrollBarWidth, std::max(height, layout()->minimumSize().height()));
}

MainDialog::~MainDialog() {
  // The controls go before their widgets, so that nothing a widget does on
  // its way out reaches them.
  for (psControl* c : controls_) delete c;
  for (GroupButton* b : groupButtons_) delete b;
}

void MainDialog::buildPanel(QWidget* panel) {
  fx::Parameter* params = effect_.parameters;
  const int32_t count = static_cast<int32_t>(effect_.parameterCount);

  // Two or more top-level groups become pages; otherwise groups are boxes.
  int depth = 0, topLevelGroups = 0;
  for (int32_t i = 0; i < count; ++i) {
    const fx::Parameter& p = params[i];
    if (p.kind == fx::Kind::GroupStart) {
      if (depth == 0 && (p.flags & (fx::kPlainGroup | fx::kHidden)) == 0) ++topLevelGroups;
      ++depth;
    } else if (p.kind == fx::Kind::GroupEnd) {
      depth = std::max(0, depth - 1);
    } else if (p.kind == fx::Kind::PresetsFolder) {
      presetsFolder_ = true;
    }
  }
  const bool pages = topLevelGroups >= 2;

  // What each open group became, innermost last, with the group box that
  // was open outside it.
  enum class Shown { Box, Page, Hidden };
  struct OpenGroup {
    Shown shown;
    QGroupBox* outerBox;
  };
  std::vector<OpenGroup> open;
  QGroupBox* groupBox = nullptr;
  QWidget* page = nullptr;
  GroupButton* pageButton = nullptr;
  int hiddenGroups = 0;

  for (int32_t i = 0; i < count; ++i) {
    fx::Parameter& p = params[i];
    // Dependent parameters are brought up to date before any control shows them.
    if (p.flags & fx::kNotify) notify(i);
    QWidget* container = groupBox ? static_cast<QWidget*>(groupBox) : page ? page : panel;
    psControl* control = nullptr;
    switch (p.kind) {
      case fx::Kind::Range:
        control = new RangeControl(p, container);
        break;
      case fx::Kind::Boolean:
        control = new BooleanControl(p, container);
        break;
      case fx::Kind::List:
        control = new ListControl(p, container);
        break;
      case fx::Kind::Colour:
        control = new ColorControl(p, container);
        break;
      case fx::Kind::Point:
        control = new PointControl(p, container);
        break;
      case fx::Kind::ImageFile:
        control = new ImageFileControl(p, container);
        break;
      case fx::Kind::GroupStart: {
        const int d = static_cast<int>(open.size());
        if (p.flags & fx::kHidden) {
          open.push_back({Shown::Hidden, groupBox});
          ++hiddenGroups;
        } else if (d > 0 || !pages || (p.flags & fx::kPlainGroup)) {
          QWidget* holder = page ? page : panel;
          auto* box = new QGroupBox(QString::fromUtf8(p.label ? p.label : ""), holder);
          auto* layout = new QVBoxLayout(box);
          layout->setSpacing(4);
          BoxLayout(holder)->addWidget(box);
          open.push_back({Shown::Box, groupBox});
          groupBox = box;
        } else {
          if (pageSelector_ == nullptr) {
            pageSelectorBox_ = new QGroupBox(panel);
            auto* grid = new QGridLayout(pageSelectorBox_);
            grid->setSpacing(2);
            grid->setContentsMargins(4, 4, 4, 4);
            BoxLayout(panel)->addWidget(pageSelectorBox_);
            pageSelector_ = new QButtonGroup(this);
            connect(pageSelector_, &QButtonGroup::idClicked, this, &MainDialog::onGroupSelect);
            pageStack_ = new QStackedWidget(panel);
            BoxLayout(panel)->addWidget(pageStack_);
          }
          const int id = static_cast<int>(groupButtons_.size());
          pageButton = new GroupButton(p, pageSelectorBox_, id);
          pageSelector_->addButton(pageButton->radioButton(), id);
          groupButtons_.push_back(pageButton);
          fx::SetFlagBit(p, fx::kGroupOpen, false);
          page = Box(nullptr, QBoxLayout::TopToBottom, 4, 4);
          pageStack_->addWidget(page);
          open.push_back({Shown::Page, groupBox});
        }
        break;
      }
      case fx::Kind::GroupEnd: {
        if (open.empty()) break;
        const OpenGroup closing = open.back();
        open.pop_back();
        switch (closing.shown) {
          case Shown::Hidden:
            --hiddenGroups;
            break;
          case Shown::Box:
            groupBox = closing.outerBox;
            break;
          case Shown::Page:
            pageButton = nullptr;
            AddStretchWidget(page, kStretch);
            page = nullptr;
            break;
        }
        break;
      }
      default:  // image inputs and the presets folder have no control
        break;
    }
    if (control == nullptr) continue;
    connect(control, &psControl::changed, this, &MainDialog::onControlChange);
    controls_.push_back(control);
    const bool hidden = (p.flags & fx::kHidden) || hiddenGroups > 0;
    if (hidden) {
      p.flags |= fx::kHidden;
      control->hideControl();
    }
    if (pageButton != nullptr) pageButton->addControl(control);
    // With pages, the preview offers the handles of what can be seen: the
    // page shown and what is outside the pages.
    if (p.kind == fx::Kind::Point && (p.flags & fx::kNoHandle) == 0 && !(pages && hidden)) {
      const int handlePage = pageButton != nullptr ? static_cast<int>(groupButtons_.size()) - 1 : Viewer::kEveryPage;
      viewer_->addPointControl(static_cast<PointControl*>(control), handlePage);
    }
  }

  refresh(true);
  if (!groupButtons_.empty()) {
    groupButtons_.front()->radioButton()->setChecked(true);
    pageStack_->setCurrentIndex(0);
    viewer_->showPage(0);
  }
}

void MainDialog::refresh(bool updateWidgets) {
  ready_ = false;
  for (psControl* c : controls_) {
    if (updateWidgets) c->updateFromParameter();
    fx::Parameter& p = c->parameter();
    if (p.flags & fx::kStateChanged) {
      if (QWidget* w = c->mainWidget()) w->setEnabled(p.Enabled());
      p.flags &= ~fx::kStateChanged;
    }
  }
  ready_ = true;
}

int32_t MainDialog::indexOf(const fx::Parameter& p) const {
  const fx::Parameter* first = effect_.parameters;
  if (first == nullptr || &p < first || &p >= first + effect_.parameterCount) return 0;
  return static_cast<int32_t>(&p - first);
}

void MainDialog::notify(int32_t index) {
  // Nothing may be thrown through Qt's event loop.
  try {
    effect_.routines->parameterChanged(&effect_, index);
  } catch (...) {
  }
}

void MainDialog::onControlChange() {
  if (!ready_) return;
  auto* control = qobject_cast<psControl*>(sender());
  if (control == nullptr) return;
  if (control->parameter().flags & fx::kNotify) {
    notify(indexOf(control->parameter()));
    // The effect may have changed other values or what is enabled.
    refresh(true);
  }
  viewer_->invalidate();
}

void MainDialog::onGroupSelect(int page) {
  if (pageStack_ == nullptr) return;
  pageStack_->setCurrentIndex(page);
  viewer_->showPage(page);
}

void MainDialog::zoomChanged(float zoom) {
  zoomLabel_->setText(QString::asprintf("%d%%", static_cast<int>(zoom * 100)));
}

void MainDialog::onReset() {
  ready_ = false;
  for (psControl* c : controls_) {
    c->resetToDefault();
    if (c->parameter().flags & fx::kNotify) notify(c->parameter().index);
  }
  for (psControl* c : controls_)
    if (c->parameter().flags & fx::kNotify) notify(indexOf(c->parameter()));
  ready_ = true;
  refresh(false);
  viewer_->invalidate();
}

QString MainDialog::presetFolder(bool saving) const {
  if (presetsFolder_) return ps::DataFolder(fx::kVendorFolder, "Presets");
  // Never the working directory: inside a host that is often the program's
  // own, read-only folder.
  const QString last = ps::LastPresetFolder();
  if (!last.isEmpty()) return last;
  const QString user = ps::UserPresetFolder();
  if (saving) QDir().mkpath(user);
  return QFileInfo(user).isDir() ? user : QDir::homePath();
}

void MainDialog::onSave() {
  QFileDialog chooser(this, QStringLiteral("Save Preset"), presetFolder(true),
                      QString::fromLatin1(kPresetFilter));
  chooser.setObjectName(QStringLiteral("save"));
  chooser.setAcceptMode(QFileDialog::AcceptSave);
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return;
  QString name = chooser.selectedFiles().constFirst();
  ps::RememberPresetFolder(name);
  const QString extension = QFileInfo(name).suffix();
  if (extension != QLatin1String("kvr") && extension != QLatin1String("KVR")) name += QLatin1String(".kvr");
  bool saved = false;
  try {
    saved = call_.SavePreset(QFile::encodeName(name).constData());
  } catch (...) {
  }
  if (saved) return;
  // A preset that silently failed to save would be found missing only later.
  QErrorMessage box(this);
  box.setWindowTitle(QString::fromUtf8(effect_.routines->productKey(&effect_)));
  box.setModal(true);
  box.showMessage(QStringLiteral("Could not write the preset file."));
  box.exec();
}

void MainDialog::onLoad() {
  QFileDialog chooser(this, QStringLiteral("Load Preset"), presetFolder(false),
                      QString::fromLatin1(kPresetFilter));
  chooser.setObjectName(QStringLiteral("load"));
  chooser.setAcceptMode(QFileDialog::AcceptOpen);
  chooser.setFileMode(QFileDialog::ExistingFile);
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return;
  const QString name = chooser.selectedFiles().constFirst();
  ps::RememberPresetFolder(name);
  bool loaded = false;
  try {
    loaded = call_.LoadPreset(QFile::encodeName(name).constData());
  } catch (...) {
  }
  if (loaded) {
    for (psControl* c : controls_)
      if (c->parameter().flags & fx::kNotify) notify(indexOf(c->parameter()));
    refresh(true);
    viewer_->invalidate();
    return;
  }
  QErrorMessage box(this);
  box.setWindowTitle(QString::fromUtf8(effect_.routines->productKey(&effect_)));
  box.setModal(true);
  box.showMessage(QString::fromLatin1(kLoadFailed));
  box.exec();
}
