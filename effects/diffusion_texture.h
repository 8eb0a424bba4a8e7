// Diffusion's texture: a greyscale picture placed over the image by a
// compositor's 2-D transform and combined with the selection matte.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "framework/parameter.h"
#include "imaging/quad_warp.h"
#include "imaging/raster.h"
#include "imaging/rect.h"
#include "imaging/texture.h"

namespace fx {

// Texture files live in this folder beside the module. On a filesystem that
// tells case apart the picker must open the very folder the render reads.
inline constexpr const char* kTextureFolder = "Textures";

// The file a texture parameter names: a name with a folder in it is a file
// the user chose elsewhere, used as is; a bare name is one of the module's
// textures. Empty when there is no name or the module's folder is unknown.
std::string TextureFile(const char* name);

// How the placed texture T and the matte M make the new matte, in list
// order.
enum class TextureBlend : int32_t {
  kTextureOnly,
  kAdd,
  kSubtract,
  kMultiply,
  kScreen,
  kDifference,
  kDarken,
  kLighten,
};
inline constexpr const char* kTextureBlendItems[] = {"Texture Only", "Add",        "Subtract", "Multiply",
                                                     "Screen",       "Difference", "Darken",   "Lighten"};

// The placement group's values in their parameter units.
struct TexturePlacement {
  double cropTop = 0, cropBottom = 0, cropLeft = 0, cropRight = 0;  // percent of the texture's side
  // Corner pin, upper-left, upper-right, lower-right, lower-left, as
  // fractions of the image from its centre.
  std::array<PointD, 4> corners{PointD{-0.5, -0.5}, PointD{0.5, -0.5}, PointD{0.5, 0.5}, PointD{-0.5, 0.5}};
  PointD position;                    // where the anchor lands, a fraction of the image from its centre
  double scaleX = 100, scaleY = 100;  // percent
  double rotate = 0;                  // degrees, clockwise on the image
  double shearX = 0, shearY = 0;      // percent: x += shearX % of y, y += shearY % of x
  double anchorX = 0, anchorY = 0;    // percent of the layer's half-size from its centre
};

// The geometry, as a compositor transforms a layer:
//
//   1. The texture is a layer stretched over the whole image: its first and
//      last texels sit on the image's first and last pixel positions, as
//      when a picture is warped onto the image rectangle.
//   2. Crop cuts the given percent of the texture's width or height off
//      each side; the cut parts are empty.
//   3. The layer is scaled, then sheared, then rotated about its anchor
//      point, and moved so that the anchor lands on the position.
//   4. The corner pin warps the image rectangle onto its four points (a
//      projective four-point warp), carrying the transformed layer with it.
//
// Everything outside the layer is 0. Steps 3 and 4 together are one
// projective mapping, so the cropped texture, bordered by one empty texel,
// is drawn with a single QuadWarp from the four mapped corners of that
// border: the layer's edges fade to 0 over one texel. At the defaults the
// texture is exactly stretched over the image.
//
// The four corners, in whole-image pixels at the size W x H, of the border
// around the texels c0x..c1x, c0y..c1y of a texture of tw x th texels;
// false when the transform leaves nothing to draw (a scale of 0, a corner
// pin with three points on one line, a corner thrown to infinity).
bool PlacedCorners(const TexturePlacement& p, int32_t tw, int32_t th, int32_t c0x, int32_t c1x, int32_t c0y,
                   int32_t c1y, int32_t W, int32_t H, Quad& corners);

// The texture Diffusion uses, placed: kept with the file, depth and crop it
// was cut for, so that the bands of one render (and renders of unchanged
// settings) share it.
class PlacedTexture {
 public:
  // Fills rect of t (one channel, the render's depth) with the placed
  // texture of the file at path, for an image of W x H whose pixel (0, 0)
  // of t lies at origin. A file that cannot be loaded gives 0 everywhere.
  void Draw(const char* path, bool sixteenBit, const TexturePlacement& p, Raster& t, const Rect& rect,
            Origin origin, int32_t W, int32_t H);

 private:
  // The cropped texture with its empty border, cut from the loaded one.
  const Raster* Bordered(const Raster& texture, const TexturePlacement& p);

  TextureCache cache_;
  RasterRef bordered_;
  RasterRef borderedFrom_;
  double crop_[4] = {-1, -1, -1, -1};
  int32_t kept_[4] = {0, 0, 0, 0};  // c0x, c1x, c0y, c1y
};

// matte = blend of the texture t and the matte over rect (one channel each,
// same depth); 8-bit shown, 16-bit the same with L = 32768:
// "Texture Only" T; "Add" min(L, T + M); "Subtract" max(0, T - M);
// "Multiply" T M / L; "Screen" T + M - T M / L; "Difference"
// T + M - 2 T M / L; "Darken" min(T, M); "Lighten" max(T, M).
void BlendTexture(const Raster& t, Raster& matte, const Rect& rect, TextureBlend blend);

}  // namespace fx
