#include "effects/catalogue.h"

// The catalogue is data only; this unit checks it once.
namespace fx::catalogue {
static_assert(kTypeCount == 73);
}
