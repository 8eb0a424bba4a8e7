// Where the module's data files live, independent of the host protocol.
#pragma once

#include <cstddef>

namespace fx {

// The product name callers pass as the vendor folder.
inline constexpr const char* kVendorFolder = "KVR Ovra v6";

class Host {
 public:
  Host();
  virtual ~Host();
  // Writes "<module folder>/<subFolder>/<fileName>" into out (capacity bytes
  // including the terminator). Without a subfolder only fileName is written;
  // with neither, the empty text. Returns false, leaving the empty text, when
  // the path does not fit.
  virtual bool DataPath(const char* vendorFolder, const char* subFolder, const char* fileName,
                        char* out, std::size_t capacity) const = 0;
};

// The current host object: the last one constructed and not yet destroyed.
Host* CurrentHost();

}  // namespace fx
