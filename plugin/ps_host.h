// Data paths beside the module file.
#pragma once

#include "framework/host_services.h"

class PS_Host final : public fx::Host {
 public:
  bool DataPath(const char* vendorFolder, const char* subFolder, const char* fileName, char* out,
                std::size_t capacity) const override;
};
