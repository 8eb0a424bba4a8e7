// The preview of the settings dialog: the host image with the effect
// applied, zoomable between 1 % and 100 %, panned by dragging, with a square
// handle for every draggable point parameter. It renders lazily: a change
// marks it dirty and the next paint renders.
#pragma once

#include <QCursor>
#include <QWidget>
#include <vector>

#include "imaging/rect.h"

class PointControl;

namespace ps {
class EntryCall;
class PreviewRenderer;
struct TileBuffer;
}  // namespace ps

class Viewer : public QWidget {
  Q_OBJECT

 public:
  Viewer(QWidget* parent, ps::EntryCall& call, ps::PreviewRenderer& preview);
  ~Viewer() override;

  // Handles of controls outside the dialog's pages show with every page.
  static constexpr int kEveryPage = -1;
  // Adds a draggable handle for the point control's parameter, shown while
  // its page is (or always).
  void addPointControl(PointControl* control, int page = kEveryPage);
  // The page of the dialog now shown: only its handles, those of every page
  // and those of enabled parameters are drawn and can be grabbed.
  void showPage(int page);
  bool isHandleShown(int index) const;
  // Marks the preview for re-rendering and schedules a repaint.
  void invalidate();

  float zoom() const { return zoom_; }
  // Where the zoomed image lies, in the screen's pixels over the widget
  // (widget coordinates times the device pixel ratio). The zoom counts
  // screen pixels too: at 1:1 each image pixel is one pixel of the screen.
  const fx::Rect& imageRect() const { return imageRect_; }
  qreal pixelRatio() const { return ratio_; }
  bool isDirty() const { return dirty_; }
  // Whether the unprocessed source is shown (the backslash key is held).
  bool isShowingOriginal() const { return comparing_; }
  int hotHandle() const { return hot_; }
  bool hasBuffer() const { return buffer_ != nullptr; }

  // Document point under a widget point, and back.
  QPoint toDocument(QPoint widgetPoint) const;
  QPoint toWidget(QPoint documentPoint) const;
  // A point parameter's value (fractions of the image from its centre) in
  // widget coordinates.
  QPoint pointToWidget(double px, double py) const;

 public slots:
  void zoomIn();
  void zoomOut();
  void zoomToFit();
  void zoom100();

 signals:
  void zoomChanged(float zoom);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  // Watches the keyboard of the whole window: the backslash key shows the
  // original while the mouse is over the preview, whichever widget has the
  // keyboard focus.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct ZoomGeometry {
    float zoom = 0;
    int32_t canvasWidth = 0, canvasHeight = 0;
    int32_t offsetX = 0, offsetY = 0;
  };
  ZoomGeometry geometryFor(float z) const;
  // Shows document point d under device point p at zoom z.
  void placeView(QPoint d, QPoint p, float z, bool forced);
  // Takes up the widget's device pixel ratio when it changed (the window
  // went to another screen).
  void followRatio();
  QPoint toDevice(QPoint widgetPoint) const;
  QPoint fromDevice(QPoint devicePoint) const;
  QSize deviceSize() const;
  QPoint deviceToDocument(QPoint devicePoint) const;
  void reallocate(QSize deviceArea);
  void renderPreview();
  // The unprocessed source in the same view, in its own buffer, so that the
  // rendered result is still there when the comparison ends.
  void renderOriginal();
  void setComparing(bool on);
  void drawImage(QPainter& painter, const ps::TileBuffer& shown, const fx::Rect& visible);
  // The first shown handle whose square holds the widget point, or -1.
  int handleAt(QPoint p) const;
  // The middle of the preview, in device pixels.
  QPoint center() const { return {deviceSize().width() / 2, deviceSize().height() / 2}; }

  ps::EntryCall& call_;
  ps::PreviewRenderer& preview_;
  ps::TileBuffer* buffer_ = nullptr;
  ps::TileBuffer* original_ = nullptr;
  struct Handle {
    PointControl* control;
    int page;
  };
  std::vector<Handle> handles_;
  int shownPage_ = 0;
  int hot_ = -1;
  bool draggingHandle_ = false;
  bool panning_ = false;
  bool dragging_ = false;
  bool dirty_ = true;
  bool originalDirty_ = true;
  bool comparing_ = false;
  bool hovered_ = false;
  float zoom_ = 0;
  qreal ratio_ = 1;
  bool fitted_ = false;
  int32_t imageWidth_ = 1, imageHeight_ = 1;
  fx::Rect imageRect_;
  int32_t canvasWidth_ = 0, canvasHeight_ = 0;
  int32_t offsetX_ = 0, offsetY_ = 0;
  QPoint panAnchor_;
  QCursor handCursor_{Qt::PointingHandCursor};
  QCursor sizeAllCursor_{Qt::SizeAllCursor};
  QCursor waitCursor_{Qt::WaitCursor};
};
