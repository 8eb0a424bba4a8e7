#include "framework/host_services.h"

namespace fx {
namespace {
Host* g_current = nullptr;
}

Host::Host() { g_current = this; }

Host::~Host() {
  if (g_current == this) g_current = nullptr;
}

Host* CurrentHost() { return g_current; }

}  // namespace fx
