// Separable image scaling with named reconstruction kernels. Source and
// destination are reached through row interfaces, so the scaler never touches
// host memory itself.
#pragma once

#include <cstdint>
#include <string_view>

namespace fx {

// A row-addressed image: the scaler reads source rows and writes destination
// rows through it. Samples are interleaved, Channels() per pixel.
class RowImage {
 public:
  virtual ~RowImage() = default;
  virtual int32_t Channels() const = 0;
  virtual int32_t BytesPerSample() const = 0;
  virtual void Size(int32_t& width, int32_t& height) const = 0;
  // Reads count pixels of row starting at column left into out.
  virtual void ReadRow(int32_t row, int32_t left, int32_t count, void* out) = 0;
  // Writes count pixels into row starting at byteOffset bytes into the row.
  virtual void WriteRow(int32_t row, int32_t byteOffset, int32_t count, const void* in) = 0;
};

// A reconstruction kernel. parameters is handed to function on every call
// (the kernels that need constants get them through it, others ignore it).
struct ResampleFilter {
  const char* name;
  double (*function)(double x, const void* parameters);
  double support;  // half-width in source pixels at scale 1
  double blur;     // stretch factor
  bool windowed;
  bool cardinal;   // 1 at 0 and 0 at the other integers
  bool unitRange;  // values stay in 0..1
  const void* parameters;

  double operator()(double x) const { return function(x, parameters); }
};

// The kernel of that name, or null. The names: point, box, triangle,
// quadratic, cubic, catrom, mitchell, gaussian, sinc, bessel, hanning,
// hamming, blackman, kaiser.
const ResampleFilter* FindFilter(std::string_view name);

// Inclusive pixel window.
struct ScaleWindow {
  int32_t x0, y0, x1, y1;
};

// Maps sourceWindow of source onto destinationWindow of destination, pixel
// centres to pixel centres, filtering x with xKernel and y with yKernel.
// Both images have the same channel count (1 to 4) and 1 or 2 bytes per
// sample; when the depths differ, source samples are converted to the
// destination's depth as they are read. An empty window does nothing; the
// windows are clipped to their images. Source rows are read in ascending
// order, each once, always with the same column span. Throws
// std::invalid_argument for a pair of images it cannot handle.
void Scale(RowImage& source, ScaleWindow sourceWindow, RowImage& destination,
           ScaleWindow destinationWindow, const ResampleFilter& xKernel,
           const ResampleFilter& yKernel);

}  // namespace fx
