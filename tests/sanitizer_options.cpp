// Tests starve the module of memory on purpose: under AddressSanitizer an
// impossible allocation must fail as it does in a normal build, not abort.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
  return "allocator_may_return_null=1";
}
