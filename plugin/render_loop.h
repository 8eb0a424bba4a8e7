// The render loop of the start selector and the preview render of the
// settings dialog.
#pragma once

#include <cstdint>
#include <memory>

#include "framework/effect.h"
#include "plugin/image_port.h"

namespace ps {

class EntryCall;

// The render information effects receive, with source access over the host.
class PS_RenderInfo final : public fx::RenderInfo {
 public:
  PS_RenderInfo(HostImagePort& port, int32_t tileRows);
  ~PS_RenderInfo() override;
  fx::Raster* SourceAccess(int32_t x, int32_t y, fx::Rect& band) override;

 private:
  HostImagePort& port_;
  int32_t tileRows_;
  TileBuffer* sourceBuffer_ = nullptr;
  fx::RasterRef sourceRaster_;
  fx::Rect lastBand_;
};

// Renders one tile: D receives the effect's render of S over area
// {0, 0, input height, input width}. False when the effect's render failed.
bool RenderTile(fx::EffectInstance& effect, fx::RenderInfo& info, const TileBuffer& source,
                const TileBuffer& destination, const fx::Rect& inputRect, const fx::Rect& outputRect,
                int32_t tileIndex);

// Renders the whole filter area in full-width bands (start selector). Writes
// -128 to the call's result when the host reports abort.
void RenderAllTiles(EntryCall& call);

// The preview of the settings dialog: the host image read scaled to the zoom
// and rendered by the effect in 8 bits. Lives for one dialog run.
class PreviewRenderer {
 public:
  PreviewRenderer(FilterRecord* record, fx::EffectInstance& effect);
  ~PreviewRenderer();
  PreviewRenderer(const PreviewRenderer&) = delete;
  PreviewRenderer& operator=(const PreviewRenderer&) = delete;

  // Renders the visible rectangle (zoomed image coordinates) at zoom into
  // out, an 8-bit 4-channel buffer of the rectangle's size with rowBytes per
  // row. False, with out cleared, when the render could not be made.
  bool Render(const fx::Rect& visible, float zoom, uint8_t* out, int32_t outRowBytes, bool dragging);
  // The same view of the source as Render starts from, without the effect.
  bool RenderOriginal(const fx::Rect& visible, float zoom, uint8_t* out, int32_t outRowBytes);

  // Drops the cached source (the host image changed).
  void Invalidate();
  FilterRecord* Record() const { return record_; }
  fx::EffectInstance& Effect() const { return effect_; }
  // The document's size in pixels.
  int32_t ImageWidth() const { return record_->imageSize.h; }
  int32_t ImageHeight() const { return record_->imageSize.v; }

  // A zero-filled 8-bit buffer of width x height for the viewer, four
  // samples a pixel in the host's image mode (16-bit RGB becomes 8-bit RGB):
  // the shape Render writes. Null when the memory cannot be had.
  TileBuffer* AllocateBuffer(int32_t width, int32_t height);
  void ReleaseBuffer(TileBuffer* buffer);

 private:
  FilterRecord* record_;
  fx::EffectInstance& effect_;
  bool RenderView(const fx::Rect& visible, float zoom, uint8_t* out, int32_t outRowBytes, bool dragging,
                  bool process);

  HostImagePort port_;
  TileBuffer* cache_ = nullptr;
  int32_t cacheWidth_ = 0;
  int32_t cacheHeight_ = 0;
};

}  // namespace ps
