// Places the resource blob in the module file's own section.
#include "plugin/resources/resources.h"

namespace ps::resources {

__attribute__((used, section(".ovra_resources"))) constexpr std::array<uint8_t, kBlobSize> kBlob = MakeBlob();

}  // namespace ps::resources
