#include "ui/viewer.h"

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "plugin/entry_call.h"
#include "plugin/render_loop.h"
#include "ui/ps_control.h"

namespace {

constexpr float kMinZoom = 0.01f;
constexpr float kMaxZoom = 1.0f;

// Truncation toward zero, kept within int range (a point may be dragged far
// outside the image).
int32_t Trunc(double v) {
  return static_cast<int32_t>(std::clamp(std::trunc(v), -2.0e9, 2.0e9));
}

}  // namespace

Viewer::Viewer(QWidget* parent, ps::EntryCall& call, ps::PreviewRenderer& preview)
    : QWidget(parent), call_(call), preview_(preview) {
  setObjectName(QStringLiteral("viewer"));
  // The paint covers every pixel itself.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setMouseTracking(true);
  setToolTip(QStringLiteral("Hold the backslash key (\\) to see the original image."));
  qApp->installEventFilter(this);
  ratio_ = devicePixelRatioF();
  imageWidth_ = std::max(1, preview.ImageWidth());
  imageHeight_ = std::max(1, preview.ImageHeight());
}

Viewer::~Viewer() {
  preview_.ReleaseBuffer(original_);
  preview_.ReleaseBuffer(buffer_);
}

void Viewer::addPointControl(PointControl* control, int page) {
  handles_.push_back({control, page});
}

void Viewer::showPage(int page) {
  shownPage_ = page;
  if (hot_ >= 0 && !isHandleShown(hot_)) {
    hot_ = -1;
    if (draggingHandle_) {
      // The point stays where the drag left it; it renders at full quality.
      draggingHandle_ = false;
      dragging_ = false;
      dirty_ = true;
    }
  }
  update();
}

bool Viewer::isHandleShown(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= handles_.size()) return false;
  const Handle& h = handles_[static_cast<std::size_t>(index)];
  return h.control->parameter().Enabled() && (h.page == kEveryPage || h.page == shownPage_);
}

void Viewer::invalidate() {
  dirty_ = true;
  update();
}

// ---------------------------------------------------------------- coordinates

QPoint Viewer::toDevice(QPoint p) const {
  return ratio_ == 1 ? p : (QPointF(p) * ratio_).toPoint();
}

QPoint Viewer::fromDevice(QPoint p) const {
  return ratio_ == 1 ? p : (QPointF(p) / ratio_).toPoint();
}

QSize Viewer::deviceSize() const {
  return ratio_ == 1 ? size() : (QSizeF(size()) * ratio_).toSize();
}

QPoint Viewer::deviceToDocument(QPoint p) const {
  if (zoom_ <= 0) return {};
  return {Trunc((p.x() - imageRect_.left) / zoom_), Trunc((p.y() - imageRect_.top) / zoom_)};
}

QPoint Viewer::toDocument(QPoint p) const {
  return deviceToDocument(toDevice(p));
}

QPoint Viewer::toWidget(QPoint d) const {
  return fromDevice({imageRect_.left + Trunc(zoom_ * d.x() + offsetX_) - offsetX_,
                     imageRect_.top + Trunc(zoom_ * d.y() + offsetY_) - offsetY_});
}

QPoint Viewer::pointToWidget(double px, double py) const {
  return toWidget({Trunc((px + 0.5) * imageWidth_), Trunc((py + 0.5) * imageHeight_)});
}

// ---------------------------------------------------------------- zoom and view

Viewer::ZoomGeometry Viewer::geometryFor(float z) const {
  ZoomGeometry g;
  g.zoom = std::clamp(z, kMinZoom, kMaxZoom);
  const int32_t zoomedWidth = static_cast<int32_t>(g.zoom * imageWidth_);
  const int32_t zoomedHeight = static_cast<int32_t>(g.zoom * imageHeight_);
  const QSize area = deviceSize();
  g.canvasWidth = std::max(zoomedWidth, area.width());
  g.canvasHeight = std::max(zoomedHeight, area.height());
  g.offsetX = static_cast<int32_t>((g.canvasWidth - g.zoom * imageWidth_) * 0.5f);
  g.offsetY = static_cast<int32_t>((g.canvasHeight - g.zoom * imageHeight_) * 0.5f);
  return g;
}

void Viewer::placeView(QPoint d, QPoint p, float z, bool forced) {
  const ZoomGeometry g = geometryFor(z);
  // Single precision throughout, as the zoom factor is.
  int32_t rx = g.offsetX - Trunc(static_cast<float>(p.x()) - static_cast<float>(d.x()) * g.zoom);
  int32_t ry = g.offsetY - Trunc(static_cast<float>(p.y()) - static_cast<float>(d.y()) * g.zoom);
  const QSize area = deviceSize();
  rx = std::min(std::max(rx, 0), g.canvasWidth - area.width());
  ry = std::min(std::max(ry, 0), g.canvasHeight - area.height());
  fx::Rect r;
  r.left = g.offsetX - rx;
  r.top = g.offsetY - ry;
  r.right = r.left + static_cast<int32_t>(g.zoom * imageWidth_);
  r.bottom = r.top + static_cast<int32_t>(g.zoom * imageHeight_);
  canvasWidth_ = g.canvasWidth;
  canvasHeight_ = g.canvasHeight;
  offsetX_ = g.offsetX;
  offsetY_ = g.offsetY;
  if (r != imageRect_) {
    imageRect_ = r;
    forced = true;
  }
  if (g.zoom != zoom_) {
    zoom_ = g.zoom;
    emit zoomChanged(zoom_);
  } else if (!forced) {
    return;
  }
  originalDirty_ = true;
  invalidate();
}

void Viewer::zoomIn() {
  followRatio();
  fitted_ = false;
  const float z = std::min(zoom_ * 1.25f, kMaxZoom);
  if (z != zoom_) placeView(deviceToDocument(center()), center(), z, true);
}

void Viewer::zoomOut() {
  followRatio();
  fitted_ = false;
  const QSize area = deviceSize();
  float z = std::max(zoom_ * 0.8f, kMinZoom);
  // Never smaller than half the preview area.
  if (static_cast<int32_t>(z * imageWidth_) < area.width() / 2 ||
      static_cast<int32_t>(z * imageHeight_) < area.height() / 2)
    z = std::min(static_cast<float>(area.width() / 2) / imageWidth_,
                 static_cast<float>(area.height() / 2) / imageHeight_);
  z = std::clamp(z, kMinZoom, kMaxZoom);
  if (z != zoom_) placeView(deviceToDocument(center()), center(), z, true);
}

void Viewer::zoomToFit() {
  followRatio();
  fitted_ = true;
  const QSize area = deviceSize();
  const int32_t margin = Trunc(10 * ratio_);
  const float z = std::min(static_cast<float>(area.width() - margin) / imageWidth_,
                           static_cast<float>(area.height() - margin) / imageHeight_);
  imageRect_ = {};
  placeView(QPoint(imageWidth_ / 2, imageHeight_ / 2), center(), z, true);
}

void Viewer::zoom100() {
  followRatio();
  fitted_ = false;
  imageRect_ = {};
  placeView(QPoint(imageWidth_ / 2, imageHeight_ / 2), center(), 1.0f, true);
}

void Viewer::followRatio() {
  const qreal ratio = devicePixelRatioF();
  if (ratio == ratio_ || ratio <= 0) return;
  // The zoom is counted in the screen's pixels: a fitted view fits again, any
  // other keeps its zoom and the document point at its centre.
  const QPoint middle = deviceToDocument(center());
  ratio_ = ratio;
  reallocate(deviceSize());
  if (zoom_ <= 0) return;
  if (fitted_) {
    zoomToFit();
  } else {
    placeView(middle, center(), zoom_, true);
  }
}

// ---------------------------------------------------------------- buffer and paint

void Viewer::resizeEvent(QResizeEvent*) {
  followRatio();
  reallocate(deviceSize());
}

void Viewer::reallocate(QSize area) {
  const int w = area.width(), h = area.height();
  if (buffer_ != nullptr && (buffer_->rect.top != 0 || buffer_->rect.left != 0 || buffer_->Width() != w ||
                             buffer_->Height() != h)) {
    preview_.ReleaseBuffer(buffer_);
    buffer_ = nullptr;
  }
  if (buffer_ == nullptr) {
    buffer_ = preview_.AllocateBuffer(w, h);
    dirty_ = true;
  }
  // The original is made again at the next comparison.
  if (original_ != nullptr && (original_->Width() != w || original_->Height() != h)) {
    preview_.ReleaseBuffer(original_);
    original_ = nullptr;
  }
}

void Viewer::renderPreview() {
  if (buffer_ == nullptr) return;
  // The buffer covers the widget; the image lands where the widget shows it.
  const fx::Rect view{-imageRect_.top, -imageRect_.left, -imageRect_.top + buffer_->Height(),
                      -imageRect_.left + buffer_->Width()};
  preview_.Render(view, zoom_, buffer_->data, buffer_->rowBytes, dragging_);
}

void Viewer::renderOriginal() {
  if (original_ == nullptr) {
    const QSize area = deviceSize();
    original_ = preview_.AllocateBuffer(area.width(), area.height());
    originalDirty_ = true;
  }
  if (original_ == nullptr || !originalDirty_) return;
  const fx::Rect view{-imageRect_.top, -imageRect_.left, -imageRect_.top + original_->Height(),
                      -imageRect_.left + original_->Width()};
  preview_.RenderOriginal(view, zoom_, original_->data, original_->rowBytes);
  originalDirty_ = false;
}

void Viewer::setComparing(bool on) {
  if (on == comparing_) return;
  comparing_ = on;
  update();
}

void Viewer::paintEvent(QPaintEvent*) {
  followRatio();
  const QSize area = deviceSize();
  if (buffer_ == nullptr || buffer_->Width() != area.width() || buffer_->Height() != area.height())
    reallocate(area);
  if (comparing_) {
    renderOriginal();
  } else if (dirty_) {
    const bool wait = !dragging_;
    const bool ownCursor = testAttribute(Qt::WA_SetCursor);
    const QCursor previous = cursor();
    if (wait) setCursor(waitCursor_);
    renderPreview();
    if (wait) {
      if (ownCursor) {
        setCursor(previous);
      } else {
        unsetCursor();
      }
    }
    dirty_ = false;
  }

  // The image is drawn in the screen's pixels, one buffer pixel to each.
  QPainter painter(this);
  painter.save();
  if (ratio_ != 1) painter.scale(1 / ratio_, 1 / ratio_);
  const int w = area.width(), h = area.height();
  const int top = std::clamp(imageRect_.top, 0, h), bottom = std::clamp(imageRect_.bottom, top, h);
  const int left = std::clamp(imageRect_.left, 0, w), right = std::clamp(imageRect_.right, left, w);
  const QBrush background = palette().brush(backgroundRole());
  painter.fillRect(0, 0, w, top, background);
  painter.fillRect(0, bottom, w, h - bottom, background);
  painter.fillRect(0, top, left, bottom - top, background);
  painter.fillRect(right, top, w - right, bottom - top, background);

  const fx::Rect visible = imageRect_.Intersect({0, 0, h, w});
  const ps::TileBuffer* shown = comparing_ ? original_ : buffer_;
  if (!visible.Empty() && shown != nullptr) drawImage(painter, *shown, visible);
  painter.restore();

  painter.setBrush(Qt::NoBrush);
  for (std::size_t i = 0; i < handles_.size(); ++i) {
    if (!isHandleShown(static_cast<int>(i))) continue;
    const fx::Parameter& p = handles_[i].control->parameter();
    const QPoint c = pointToWidget(p.point.x, p.point.y);
    // A rectangle outline n pixels across is drawn with size n - 1.
    painter.setPen(Qt::black);
    painter.drawRect(c.x() - 5, c.y() - 5, 10, 10);
    painter.setPen(static_cast<int>(i) == hot_ ? QColor(255, 0, 0) : QColor(Qt::white));
    painter.drawRect(c.x() - 4, c.y() - 4, 8, 8);
    painter.setPen(Qt::black);
    painter.drawRect(c.x() - 3, c.y() - 3, 6, 6);
  }
}

void Viewer::drawImage(QPainter& painter, const ps::TileBuffer& shown, const fx::Rect& visible) {
  const FilterRecord* record = call_.filterRecord;
  const int32_t w = visible.Width(), h = visible.Height();
  const uint8_t* base = shown.data + static_cast<std::ptrdiff_t>(visible.top) * shown.rowBytes +
                        static_cast<std::ptrdiff_t>(visible.left) * 4;
  if (record->hostSig == hostSignature8BIM) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int32_t y = 0; y < h; ++y) {
      const uint8_t* in = base + static_cast<std::ptrdiff_t>(y) * shown.rowBytes;
      uint8_t* out = image.scanLine(y);
      for (int32_t x = 0; x < w; ++x, in += 4, out += 4) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
        out[3] = 255;
      }
    }
    painter.drawImage(QPoint(visible.left, visible.top), image);
    return;
  }
  if (record->displayPixels == nullptr) return;
  PSPixelMap map{};
  map.version = 1;
  map.bounds = {0, 0, h, w};
  map.imageMode = shown.imageMode;
  map.rowBytes = shown.rowBytes;
  map.colBytes = 4;
  map.planeBytes = 1;
  map.baseAddr = const_cast<uint8_t*>(base);
  const VRect source{0, 0, h, w};
  // The host draws with the painter of this paint.
  record->displayPixels(&map, &source, visible.top, visible.left, &painter);
}

// ---------------------------------------------------------------- comparing

void Viewer::enterEvent(QEnterEvent*) {
  hovered_ = true;
}

void Viewer::leaveEvent(QEvent*) {
  hovered_ = false;
  setComparing(false);
}

void Viewer::hideEvent(QHideEvent*) {
  hovered_ = false;
  setComparing(false);
}

bool Viewer::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::KeyPress && type != QEvent::KeyRelease) return QWidget::eventFilter(watched, event);
  const auto* key = static_cast<const QKeyEvent*>(event);
  const auto* target = qobject_cast<const QWidget*>(watched);
  if (key->key() != Qt::Key_Backslash || target == nullptr || target->window() != window())
    return QWidget::eventFilter(watched, event);
  const bool press = type == QEvent::KeyPress;
  if (press ? !hovered_ : !comparing_) return QWidget::eventFilter(watched, event);
  // A held key repeats as releases and presses of its own: they change nothing.
  if (!key->isAutoRepeat()) setComparing(press);
  return true;
}

// ---------------------------------------------------------------- mouse

int Viewer::handleAt(QPoint p) const {
  for (std::size_t i = 0; i < handles_.size(); ++i) {
    if (!isHandleShown(static_cast<int>(i))) continue;
    const fx::Parameter& param = handles_[i].control->parameter();
    const QPoint c = pointToWidget(param.point.x, param.point.y);
    if (QRect(c.x() - 5, c.y() - 5, 11, 11).contains(p)) return static_cast<int>(i);
  }
  return -1;
}

void Viewer::mousePressEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  const int handle = handleAt(at);
  if (handle >= 0) {
    if (!(event->modifiers() & Qt::ShiftModifier)) {
      hot_ = handle;
      draggingHandle_ = true;
      dragging_ = true;
    }
    update();
    return;
  }
  hot_ = -1;
  panAnchor_ = toDocument(at);
  panning_ = true;
  dragging_ = true;
  update();
}

void Viewer::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  if (draggingHandle_ && hot_ >= 0) {
    PointControl* control = handles_[static_cast<std::size_t>(hot_)].control;
    const QPoint d = toDocument(at);
    // Outside the image the value goes beyond +-0.5.
    fx::SetPoint(control->parameter(), {static_cast<double>(d.x()) / imageWidth_ - 0.5,
                                        static_cast<double>(d.y()) / imageHeight_ - 0.5});
    control->updateFromParameter();
    invalidate();
    return;
  }
  if (panning_) {
    const fx::Rect before = imageRect_;
    placeView(panAnchor_, toDevice(at), zoom_, false);
    if (imageRect_ != before) fitted_ = false;
    return;
  }
  const int handle = handleAt(at);
  if (handle != hot_) {
    hot_ = handle;
    update();
  }
  const QSize area = deviceSize();
  const bool fits = imageRect_.left >= 0 && imageRect_.top >= 0 && imageRect_.right <= area.width() &&
                    imageRect_.bottom <= area.height();
  if (handle >= 0) {
    setCursor(handCursor_);
  } else if (fits) {
    setCursor(Qt::ArrowCursor);
  } else {
    setCursor(sizeAllCursor_);
  }
}

void Viewer::mouseReleaseEvent(QMouseEvent*) {
  if (panning_) {
    panning_ = false;
  } else if (draggingHandle_) {
    draggingHandle_ = false;
  } else {
    return;
  }
  // The final position renders at full quality.
  dragging_ = false;
  invalidate();
}
