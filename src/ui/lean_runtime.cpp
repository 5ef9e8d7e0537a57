// Replacements, for the patch program only, of the C++ runtime's pieces that
// report a failure before ending the program. The program catches no
// exception, so a failure ends it in abort() just as before; the originals
// bring a symbol demangler, the exception unwinder and the library's string
// and exception classes (about 150 KiB) into every patch program.
#include <cstdint>
#include <cstdlib>
#include <new>

void* operator new(std::size_t n) {
  if (void* p = std::malloc(n ? n : 1)) return p;
  std::abort();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return std::malloc(n ? n : 1); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return std::malloc(n ? n : 1);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace __gnu_cxx {
void __verbose_terminate_handler();
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

namespace std {
void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
}  // namespace std

// Function-local statics: the program runs its own code on one thread only,
// so the guard is a plain flag (the library's takes a lock and can throw).
extern "C" int __cxa_guard_acquire(int64_t* guard) { return *reinterpret_cast<char*>(guard) == 0; }
extern "C" void __cxa_guard_release(int64_t* guard) { *reinterpret_cast<char*>(guard) = 1; }
extern "C" void __cxa_guard_abort(int64_t*) {}
extern "C" void __cxa_throw_bad_array_new_length() { std::abort(); }
