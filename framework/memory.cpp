#include "framework/memory.h"

#include <cstdlib>
#include <new>

void* PS_MemHandler::Allocate(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw fx::OutOfMemory();
  return block;
}

void PS_MemHandler::Free(void* block) { std::free(block); }

namespace fx {

namespace {
// Never destroyed (instances released at unload still free through it), and
// kept in static storage rather than on the heap, so unloading the module
// leaves nothing behind.
MemoryHandler* DefaultHandler() {
  alignas(PS_MemHandler) static unsigned char storage[sizeof(PS_MemHandler)];
  static MemoryHandler* handler = new (storage) PS_MemHandler();
  return handler;
}
MemoryHandler* g_installed = nullptr;
}  // namespace

MemoryHandler& Memory() { return g_installed ? *g_installed : *DefaultHandler(); }

MemoryHandler* InstallMemoryHandler(MemoryHandler* handler) {
  MemoryHandler* previous = g_installed ? g_installed : DefaultHandler();
  g_installed = handler;
  return previous;
}

}  // namespace fx
