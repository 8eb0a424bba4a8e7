// The settings dialog every effect shares, built from the effect's parameter
// list: one control per parameter in group boxes or selectable pages, beside
// the preview and its zoom bar, above Load, Save, Reset, Cancel and OK. Edits
// go straight into the effect's parameter records.
#pragma once

#include <QDialog>
#include <vector>

#include "framework/effect.h"
#include "plugin/protocol/filter_record.h"

class QButtonGroup;
class QGroupBox;
class QLabel;
class QScrollArea;
class QStackedWidget;
class QToolButton;
class GroupButton;
class Viewer;
class psControl;

namespace ps {
class EntryCall;
class PreviewRenderer;
}  // namespace ps

class MainDialog : public QDialog {
  Q_OBJECT

 public:
  MainDialog(QWidget* parent, ps::EntryCall& call, ps::PreviewRenderer& preview);
  ~MainDialog() override;

  Viewer* viewer() const { return viewer_; }
  const std::vector<psControl*>& controls() const { return controls_; }
  const std::vector<GroupButton*>& groupButtons() const { return groupButtons_; }
  QButtonGroup* pageSelector() const { return pageSelector_; }
  QStackedWidget* pageStack() const { return pageStack_; }
  QLabel* zoomLabel() const { return zoomLabel_; }
  // The scroll area round the controls panel; none when the dialog fits
  // its screen.
  QScrollArea* panelScroll() const { return panelScroll_; }

 private slots:
  void onLoad();
  void onSave();
  void onReset();
  void zoomChanged(float zoom);
  void onControlChange();
  void onGroupSelect(int page);

 private:
  void buildPanel(QWidget* panel);
  // Gives the dialog its fixed size, within the screen's height.
  void fitScreen(QWidget* upper, QWidget* panel);
  void refresh(bool updateWidgets);
  // Position of a record in the effect's list, 0 when it is not there.
  int32_t indexOf(const fx::Parameter& p) const;
  void notify(int32_t index);
  // Where the preset choosers start; saving makes the user's folder.
  QString presetFolder(bool saving) const;

  Viewer* viewer_ = nullptr;
  ps::EntryCall& call_;
  ps::PreviewRenderer& preview_;
  FilterRecord& record_;
  fx::EffectInstance& effect_;
  QToolButton* fit_ = nullptr;
  QToolButton* zoomOut_ = nullptr;
  QLabel* zoomLabel_ = nullptr;
  QToolButton* zoomIn_ = nullptr;
  QToolButton* oneToOne_ = nullptr;
  std::vector<psControl*> controls_;
  std::vector<GroupButton*> groupButtons_;
  QButtonGroup* pageSelector_ = nullptr;
  QGroupBox* pageSelectorBox_ = nullptr;
  QStackedWidget* pageStack_ = nullptr;
  QScrollArea* panelScroll_ = nullptr;
  bool presetsFolder_ = false;
  bool ready_ = false;
};
