// The module's memory handler: effect instances and their large work areas
// come from here so that a host port can route them elsewhere.
#pragma once

#include <cstddef>
#include <new>
#include <utility>

namespace fx {

// The allocation failure the handler raises.
class OutOfMemory : public std::bad_alloc {
 public:
  const char* what() const noexcept override { return "bad allocation"; }
};

class MemoryHandler {
 public:
  virtual ~MemoryHandler() = default;
  // Never returns null; raises OutOfMemory ("bad allocation") when the
  // heap cannot supply the block.
  virtual void* Allocate(std::size_t size) = 0;
  // A null pointer is ignored.
  virtual void Free(void* block) = 0;
};

// The module-wide handler, made on first use and kept until unload.
MemoryHandler& Memory();

// Routes allocations through another handler (null restores the default);
// returns the previous one. For tests that starve the module of memory.
MemoryHandler* InstallMemoryHandler(MemoryHandler* handler);

inline void* Allocate(std::size_t size) { return Memory().Allocate(size); }
inline void Free(void* block) { Memory().Free(block); }

// Constructs a T in memory from the handler; Destroy undoes it.
template <class T, class... Args>
T* New(Args&&... args) {
  void* block = Allocate(sizeof(T));
  try {
    return new (block) T(std::forward<Args>(args)...);
  } catch (...) {
    Free(block);
    throw;
  }
}

template <class T>
void Destroy(T* object) {
  if (object == nullptr) return;
  object->~T();
  Free(object);
}

}  // namespace fx

// Takes blocks from the C runtime heap.
class PS_MemHandler final : public fx::MemoryHandler {
 public:
  void* Allocate(std::size_t size) override;
  void Free(void* block) override;
};
