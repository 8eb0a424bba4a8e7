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

struct ResampleFilter {
  const char* name;
  double (*function)(double x, const void* parameters);
  double support;  // half-width in source pixels at scale 1
  double blur;     // stretch factor
  bool windowed;
  bool cardinal;
  bool unitRange;
  const void* parameters;
};

// The kernel of that name, or null.
const ResampleFilter* FindFilter(std::string_view name);

// Inclusive pixel window.
struct ScaleWindow {
  int32_t x0, y0, x1, y1;
};

// Maps sourceWindow of source onto destinationWindow of destination, pixel
// centres to pixel centres, filtering x with xKernel and y with yKernel.
void Scale(RowImage& source, ScaleWindow sourceWindow, RowImage& destination,
           ScaleWindow destinationWindow, const ResampleFilter& xKernel,
           const ResampleFilter& yKernel);

}  // namespace fx
