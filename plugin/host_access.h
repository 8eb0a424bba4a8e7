// Small helpers over the host's callbacks and named services.
#pragma once

#include <cstdint>

#include "framework/errors.h"
#include "plugin/protocol/filter_record.h"

namespace ps {

// Handles through the filter record's handle callbacks; every call tolerates
// a host without them (the handle simply cannot be made or locked).
Handle NewHandle(const FilterRecord* record, int32_t size);
void DisposeHandle(const FilterRecord* record, Handle h);
int32_t HandleSize(const FilterRecord* record, Handle h);
char* LockHandle(const FilterRecord* record, Handle h);
void UnlockHandle(const FilterRecord* record, Handle h);

// Keeps a handle locked for a scope.
class HandleLock {
 public:
  HandleLock(const FilterRecord* record, Handle h) : record_(record), h_(h), p_(LockHandle(record, h)) {}
  ~HandleLock() {
    if (p_ != nullptr) UnlockHandle(record_, h_);
  }
  HandleLock(const HandleLock&) = delete;
  HandleLock& operator=(const HandleLock&) = delete;
  char* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  const FilterRecord* record_;
  Handle h_;
  char* p_;
};

// A named service held for a scope. Acquire leaves it empty when the host has
// no basic suite or refuses the service; Require raises the refusal as a
// service failure instead.
template <class Suite>
class SuiteRef {
 public:
  SuiteRef(SPBasicSuite* basic, const char* name, int32_t version) : basic_(basic), name_(name), version_(version) {
    if (basic_ == nullptr || basic_->AcquireSuite == nullptr) {
      error_ = kSPSuiteNotFoundError;
      return;
    }
    const void* suite = nullptr;
    error_ = basic_->AcquireSuite(name, version, &suite);
    if (error_ == kSPNoError && suite == nullptr) error_ = kSPSuiteNotFoundError;
    if (error_ == kSPNoError) suite_ = static_cast<const Suite*>(suite);
  }
  ~SuiteRef() {
    if (suite_ != nullptr && basic_->ReleaseSuite != nullptr) basic_->ReleaseSuite(name_, version_);
  }
  SuiteRef(const SuiteRef&) = delete;
  SuiteRef& operator=(const SuiteRef&) = delete;

  const Suite* get() const { return suite_; }
  const Suite* operator->() const { return suite_; }
  explicit operator bool() const { return suite_ != nullptr; }
  SPErr error() const { return error_; }
  // Raises the acquisition failure as a 32-bit service error.
  const Suite& Require() const {
    if (suite_ == nullptr) fx::ThrowServiceError(error_ != kSPNoError ? error_ : kSPSuiteNotFoundError);
    return *suite_;
  }

 private:
  SPBasicSuite* basic_;
  const char* name_;
  int32_t version_;
  const Suite* suite_ = nullptr;
  SPErr error_ = kSPNoError;
};

}  // namespace ps
