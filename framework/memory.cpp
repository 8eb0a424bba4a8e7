#include "framework/memory.h"

#include <cstdlib>

void* PS_MemHandler::Allocate(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void PS_MemHandler::Free(void* block) { std::free(block); }

namespace fx {

MemoryHandler& Memory() {
  // Never destroyed: instances released at unload still free through it.
  static MemoryHandler* handler = new PS_MemHandler();
  return *handler;
}

}  // namespace fx
