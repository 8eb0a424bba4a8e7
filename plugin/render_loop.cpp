#include "plugin/render_loop.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "framework/errors.h"
#include "imaging/raster.h"
#include "plugin/entry_call.h"

namespace ps {
namespace {

fx::Rect FromVRect(const VRect& r) { return {r.top, r.left, r.bottom, r.right}; }

constexpr int32_t kDefaultTileRows = 256;

// Band geometry of one render loop.
struct Bands {
  int32_t rows = 0;     // band height
  int32_t width = 0;    // band width
  int32_t columns = 1;  // bands across (always one: bands span the filter width)
  int32_t count = 0;    // bands down
  int32_t marginTop = 0, marginLeft = 0, marginBottom = 0, marginRight = 0;
  int32_t bufferRows = 0, bufferColumns = 0;
};

Bands PlanBands(const fx::Rect& filter, int32_t tileRows, int32_t imageWidth, int32_t imageHeight,
                const fx::Rect& probe, const fx::Rect& needed) {
  Bands b;
  const int32_t filterWidth = filter.Width(), filterHeight = filter.Height();
  if (needed == probe) {
    b.rows = tileRows;
    b.width = filterWidth;
  } else {
    b.marginTop = std::max(0, probe.top - needed.top);
    b.marginLeft = std::max(0, probe.left - needed.left);
    b.marginBottom = std::max(0, needed.bottom - probe.bottom);
    b.marginRight = std::max(0, needed.right - probe.right);
    b.width = std::min(filterWidth, imageWidth);
    b.rows = std::min(tileRows, imageHeight);
  }
  b.bufferRows = std::min<int64_t>(static_cast<int64_t>(b.rows) + b.marginTop + b.marginBottom, imageHeight);
  b.bufferColumns = std::min<int64_t>(static_cast<int64_t>(b.width) + b.marginLeft + b.marginRight, imageWidth);
  if (needed != probe && b.bufferRows == imageHeight && b.bufferColumns == imageWidth) {
    // The padded band covers the whole image: one tile.
    b.rows = imageHeight;
    b.width = imageWidth;
  }
  b.rows = std::max(b.rows, 1);
  b.count = filterHeight > 0 ? static_cast<int32_t>((static_cast<int64_t>(filterHeight) + b.rows - 1) / b.rows) : 0;
  b.bufferRows = std::max(b.bufferRows, 1);
  b.bufferColumns = std::max(b.bufferColumns, 1);
  return b;
}

}  // namespace

PS_RenderInfo::PS_RenderInfo(HostImagePort& port, int32_t tileRows) : port_(port), tileRows_(tileRows) {}

PS_RenderInfo::~PS_RenderInfo() {
  sourceRaster_ = {};
  port_.Release(sourceBuffer_);
}

fx::Raster* PS_RenderInfo::SourceAccess(int32_t x, int32_t y, fx::Rect& band) {
  const FilterRecord* record = port_.Record();
  const fx::Rect filter = FromVRect(record->filterRect);
  if (x < 0 || y < 0 || x >= filter.Width() || y >= filter.Height()) return nullptr;
  if (sourceRaster_ && lastBand_.Contains(x, y)) {
    band = lastBand_;
    return sourceRaster_.get();
  }
  if (sourceBuffer_ == nullptr) {
    // One band of tile rows at a time: the raster holds the band read last.
    sourceBuffer_ = port_.Allocate({0, 0, std::min(tileRows_, filter.Height()), filter.Width()}, 4,
                                   std::max(1, record->depth / 8), record->imageMode);
    sourceRaster_ = sourceBuffer_->Wrap();
  }
  // The band of tile rows that holds y, across the filter width.
  const int32_t top = y - y % tileRows_;
  lastBand_ = {top, 0, std::min(top + tileRows_, filter.Height()), filter.Width()};
  const fx::Rect hostBand{filter.top + lastBand_.top, filter.left, filter.top + lastBand_.bottom, filter.right};
  port_.Request(hostBand, {});
  port_.Read(*sourceBuffer_, hostBand);
  band = lastBand_;
  return sourceRaster_.get();
}

bool RenderTile(fx::EffectInstance& effect, fx::RenderInfo& info, const TileBuffer& source,
                const TileBuffer& destination, const fx::Rect& inputRect, const fx::Rect& outputRect,
                int32_t tileIndex) {
  fx::RasterRef src = source.Wrap();
  fx::RasterRef dst = destination.Wrap();
  info.destination = dst.get();
  info.area = {0, 0, inputRect.Height(), inputRect.Width()};
  info.outputRect = outputRect;
  info.tileIndex = tileIndex;
  info.is16Bit = source.bytesPerSample == 2;
  fx::Parameter* input = effect.parameterCount > 0 ? &effect.parameters[0] : nullptr;
  if (input != nullptr) input->source = src.get();
  bool ok = true;
  try {
    effect.routines->render(&effect, &info);
  } catch (...) {
    ok = false;
  }
  if (input != nullptr) input->source = nullptr;
  info.destination = nullptr;
  return ok;
}

void RenderAllTiles(EntryCall& call) {
  FilterRecord* record = call.filterRecord;
  fx::EffectInstance& effect = *call.effect;
  const int32_t bytesPerSample = std::max(1, record->depth / 8);

  HostImagePort port(record);
  const fx::Rect filter = FromVRect(record->filterRect);
  // The host's output tile; 256 rows when it gives none.
  const int32_t tileRows =
      record->outTileSize.v <= 0 || record->outTileSize.h <= 0 ? kDefaultTileRows : record->outTileSize.v;
  const int32_t tileOriginRow = record->outTileOrigin.v, tileOriginColumn = record->outTileOrigin.h;
  const int32_t imageWidth = record->imageSize.h, imageHeight = record->imageSize.v;
  PS_RenderInfo info(port, tileRows);
  info.imageWidth = imageWidth;
  info.imageHeight = imageHeight;
  info.scaleX = info.scaleY = 1.0f;
  info.is16Bit = bytesPerSample == 2;
  info.isPreview = 0;
  info.tileIndex = -1;
  info.tileCount = 0;
  info.filterRect = filter;
  effect.routines->beginRender(&effect, &info);

  const fx::Rect probe{tileOriginRow, tileOriginColumn, tileOriginRow + tileRows, tileOriginColumn + filter.Width()};
  fx::Rect needed = probe;
  effect.routines->expandRect(&effect, &info, &needed);
  const Bands bands = PlanBands(filter, tileRows, imageWidth, imageHeight, probe, needed);
  if (filter.Empty() || bands.count == 0) return;

  record->inputRate = 0x10000;
  struct Buffers {
    HostImagePort& port;
    TileBuffer* source = nullptr;
    TileBuffer* destination = nullptr;
    ~Buffers() {
      port.Release(destination);
      port.Release(source);
      try {
        port.Request({}, {});
      } catch (...) {
      }
    }
  } buffers{port};
  const fx::Rect bufferRect{0, 0, bands.bufferRows, bands.bufferColumns};
  buffers.source = port.Allocate(bufferRect, 4, bytesPerSample, record->imageMode);
  buffers.destination = port.Allocate(bufferRect, 4, bytesPerSample, record->imageMode);
  TileBuffer& S = *buffers.source;
  TileBuffer& D = *buffers.destination;

  const int32_t total = bands.columns * bands.count;
  info.tileCount = total;
  int32_t tileIndex = 0;
  for (int32_t j = 0; j < bands.count; ++j) {
    for (int32_t c = 0; c < bands.columns; ++c, ++tileIndex) {
      fx::Rect O{filter.top + j * bands.rows, filter.left + c * bands.width, 0, 0};
      O.bottom = std::min(O.top + bands.rows, filter.bottom);
      O.right = std::min(O.left + bands.width, filter.right);
      const fx::Rect I{std::max(0, O.top - bands.marginTop), std::max(0, O.left - bands.marginLeft),
                       std::min(O.bottom + bands.marginBottom, filter.bottom),
                       std::min(O.right + bands.marginRight, filter.right)};
      port.Request(I, O);
      port.Read(S, I);
      std::memcpy(D.data, S.data, S.size);
      const int32_t offsetRows = O.top - I.top, offsetColumns = O.left - I.left;
      if (effect.routines->isActive(&effect)) {
        if (!RenderTile(effect, info, S, D, I, O, tileIndex)) D.Clear();
      }
      if (effect.flags & fx::kReadsOutsideTile) port.Request(I, O);
      port.Write(D, O, offsetRows, offsetColumns);
      if (record->progressProc != nullptr) record->progressProc(tileIndex + 1, total);
      if (record->abortProc != nullptr && record->abortProc()) {
        *call.result = userCanceledErr;
        return;
      }
    }
  }
}

PreviewRenderer::PreviewRenderer(FilterRecord* record, fx::EffectInstance& effect)
    : record_(record), effect_(effect), port_(record) {}

PreviewRenderer::~PreviewRenderer() { port_.Release(cache_); }

TileBuffer* PreviewRenderer::AllocateBuffer(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return nullptr;
  const int16_t mode = record_->imageMode == plugInModeRGB48 ? static_cast<int16_t>(plugInModeRGBColor)
                                                             : record_->imageMode;
  // Render always writes four samples a pixel, whatever the host's plane count.
  const int32_t planes = std::max(port_.ChannelCount(), 3);
  try {
    TileBuffer* buffer = port_.Allocate({0, 0, height, width}, planes, 1, mode);
    if (buffer->pixelBytes == 4) return buffer;
    port_.Release(buffer);
  } catch (...) {
  }
  return nullptr;
}

void PreviewRenderer::ReleaseBuffer(TileBuffer* buffer) { port_.Release(buffer); }

void PreviewRenderer::Invalidate() {
  port_.Release(cache_);
  cache_ = nullptr;
  cacheWidth_ = cacheHeight_ = 0;
}

namespace {

void CopyInto(const TileBuffer& from, int32_t fromRow, int32_t fromColumn, int32_t rows, int32_t columns,
              uint8_t* out, int32_t outRowBytes) {
  for (int32_t y = 0; y < rows; ++y)
    std::memcpy(out + static_cast<std::ptrdiff_t>(y) * outRowBytes,
                from.data + static_cast<std::ptrdiff_t>(fromRow + y) * from.rowBytes + static_cast<std::ptrdiff_t>(fromColumn) * 4,
                static_cast<std::size_t>(columns) * 4);
}

void ClearOut(uint8_t* out, int32_t outRowBytes, int32_t rows) {
  if (out != nullptr && rows > 0) std::memset(out, 0, static_cast<std::size_t>(outRowBytes) * rows);
}

}  // namespace

bool PreviewRenderer::Render(const fx::Rect& visible, float zoom, uint8_t* out, int32_t outRowBytes,
                             bool dragging) {
  return RenderView(visible, zoom, out, outRowBytes, dragging, true);
}

bool PreviewRenderer::RenderOriginal(const fx::Rect& visible, float zoom, uint8_t* out, int32_t outRowBytes) {
  return RenderView(visible, zoom, out, outRowBytes, false, false);
}

bool PreviewRenderer::RenderView(const fx::Rect& visible, float zoom, uint8_t* out, int32_t outRowBytes,
                                 bool dragging, bool process) {
  const int32_t zoomedWidth = static_cast<int32_t>(record_->imageSize.h * zoom);
  const int32_t zoomedHeight = static_cast<int32_t>(record_->imageSize.v * zoom);
  const fx::Rect zoomed{0, 0, zoomedHeight, zoomedWidth};
  const fx::Rect V = visible.Intersect(zoomed);
  const int32_t clipLeft = V.left - visible.left, clipTop = V.top - visible.top;
  if (V.Empty()) return true;
  uint8_t* target = out + static_cast<std::ptrdiff_t>(clipTop) * outRowBytes + static_cast<std::ptrdiff_t>(clipLeft) * 4;

  PS_RenderInfo info(port_, kDefaultTileRows);
  info.scaleX = info.scaleY = zoom;
  info.imageWidth = zoomedWidth;
  info.imageHeight = zoomedHeight;
  info.isPreview = 1;
  info.is16Bit = false;
  info.tileCount = 1;
  try {
    if (process) effect_.routines->beginRender(&effect_, &info);
    // A preview has no source access: an effect that reads outside its tile
    // is rendered over the whole zoomed image and its visible part copied
    // out, so that a zoomed-in region is that region of the whole.
    const bool readsOutside = process && (effect_.flags & fx::kReadsOutsideTile) != 0;
    if (V == zoomed || readsOutside) {
      if (cache_ == nullptr || cacheWidth_ != zoomedWidth || cacheHeight_ != zoomedHeight) {
        Invalidate();
        cache_ = port_.Allocate(zoomed, 4, 1, plugInModeRGBColor);
        cacheWidth_ = zoomedWidth;
        cacheHeight_ = zoomedHeight;
        port_.ReadScaled(*cache_, FromVRect({0, 0, record_->imageSize.v, record_->imageSize.h}), zoomed);
      }
      // A drag over part of the image shows the source alone, as below.
      if (process && (V == zoomed || !dragging) && effect_.routines->isActive(&effect_)) {
        // Render into a scratch tile, then copy the result out.
        TileBuffer* result = port_.Allocate(zoomed, 4, 1, plugInModeRGBColor);
        std::memcpy(result->data, cache_->data, cache_->size);
        const bool ok = RenderTile(effect_, info, *cache_, *result, zoomed, zoomed, 0);
        if (ok) CopyInto(*result, V.top, V.left, V.Height(), V.Width(), target, outRowBytes);
        port_.Release(result);
        if (!ok) ClearOut(out, outRowBytes, visible.Height());
        return ok;
      }
      CopyInto(*cache_, V.top, V.left, V.Height(), V.Width(), target, outRowBytes);
      return true;
    }

    // The source alone, or a drag, reads no margins and renders nothing.
    const bool effectRenders = process && !dragging && effect_.routines->isActive(&effect_);
    fx::Rect needed = V;
    if (process) effect_.routines->expandRect(&effect_, &info, &needed);
    int32_t top = 0, left = 0, bottom = 0, right = 0;
    if (process && !dragging && needed != V) {
      top = std::max(0, V.top - needed.top);
      left = std::max(0, V.left - needed.left);
      bottom = std::max(0, needed.bottom - V.bottom);
      right = std::max(0, needed.right - V.right);
    }
    const fx::Rect grown = fx::Rect{V.top - top, V.left - left, V.bottom + bottom, V.right + right}.Intersect(zoomed);
    TileBuffer* first = port_.Allocate(grown, 4, 1, plugInModeRGBColor);
    TileBuffer* second = nullptr;
    bool ok = true;
    try {
      second = port_.Allocate(grown, 4, 1, plugInModeRGBColor);
      const fx::Rect source{static_cast<int32_t>(grown.top / zoom), static_cast<int32_t>(grown.left / zoom),
                            static_cast<int32_t>(grown.bottom / zoom), static_cast<int32_t>(grown.right / zoom)};
      port_.ReadScaled(*first, source, {0, 0, grown.Height(), grown.Width()});
      std::memcpy(second->data, first->data, first->size);
      const int32_t row = V.top - grown.top, column = V.left - grown.left;
      if (!effectRenders) {
        CopyInto(*first, row, column, V.Height(), V.Width(), target, outRowBytes);
      } else if (RenderTile(effect_, info, *first, *second, grown, grown, 0)) {
        CopyInto(*second, row, column, V.Height(), V.Width(), target, outRowBytes);
      } else {
        ok = false;
        ClearOut(out, outRowBytes, visible.Height());
      }
    } catch (...) {
      port_.Release(second);
      port_.Release(first);
      throw;
    }
    port_.Release(second);
    port_.Release(first);
    return ok;
  } catch (...) {
    ClearOut(out, outRowBytes, visible.Height());
    return false;
  }
}

}  // namespace ps
