#include "plugin/host_access.h"

namespace ps {

Handle NewHandle(const FilterRecord* record, int32_t size) {
  if (record == nullptr || record->handleProcs == nullptr || record->handleProcs->newProc == nullptr)
    return nullptr;
  return record->handleProcs->newProc(size);
}

void DisposeHandle(const FilterRecord* record, Handle h) {
  if (h == nullptr || record == nullptr || record->handleProcs == nullptr ||
      record->handleProcs->disposeProc == nullptr)
    return;
  record->handleProcs->disposeProc(h);
}

int32_t HandleSize(const FilterRecord* record, Handle h) {
  if (h == nullptr || record == nullptr || record->handleProcs == nullptr ||
      record->handleProcs->getSizeProc == nullptr)
    return 0;
  return record->handleProcs->getSizeProc(h);
}

char* LockHandle(const FilterRecord* record, Handle h) {
  if (h == nullptr || record == nullptr || record->handleProcs == nullptr ||
      record->handleProcs->lockProc == nullptr)
    return nullptr;
  return record->handleProcs->lockProc(h, 0);
}

void UnlockHandle(const FilterRecord* record, Handle h) {
  if (h == nullptr || record == nullptr || record->handleProcs == nullptr ||
      record->handleProcs->unlockProc == nullptr)
    return;
  record->handleProcs->unlockProc(h);
}

}  // namespace ps
