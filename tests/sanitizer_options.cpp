// Tests starve the module of memory on purpose: under AddressSanitizer an
// impossible allocation must fail as it does in a normal build, not abort.
//
// The image-file tests feed truncated PNG files to OpenImageIO, whose PNG
// reader leaks its error text when libpng jumps out of the read callback.
// That leak is the library's; it is suppressed by name, which needs the
// whole allocation stack (slow unwinding), so only that folder asks for it.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
#ifdef OVRA_FULL_ALLOCATION_STACKS
  return "allocator_may_return_null=1:fast_unwind_on_malloc=0";
#else
  return "allocator_may_return_null=1";
#endif
}

extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:OpenImageIO_v2_4::PNGInput::PngReadCallback\n";
}
