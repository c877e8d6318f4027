// What the simulated drive's C++ needs of a runtime, inside a kernel driver: memory
// from the pool, the few C functions the kernel does not export, and the library's
// error paths. Nothing in the drive throws; the library's own checks (a string or
// vector grown beyond any size) would mean a broken driver, so they stop it.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <new>

extern "C" {
// From the kernel (ntoskrnl.exe); declared here because the DDK headers do not
// mix with the standard library's.
void* ExAllocatePoolWithTag(int poolType, std::size_t bytes, unsigned long tag);
void ExFreePoolWithTag(void* memory, unsigned long tag);
int _vsnprintf(char* buffer, std::size_t count, const char* format, va_list args);
[[noreturn]] void KeBugCheckEx(unsigned long code, std::uintptr_t a, std::uintptr_t b,
                               std::uintptr_t c, std::uintptr_t d);
}

namespace {
constexpr int kNonPagedPool = 0;
constexpr unsigned long kTag = 0x44535851;  // "QXSD"
constexpr unsigned long kDriverFault = 0xE2;  // MANUALLY_INITIATED_CRASH

[[noreturn]] void Stop(std::uintptr_t why) { KeBugCheckEx(kDriverFault, why, 0, 0, 0); }

void* Allocate(std::size_t bytes) {
  void* p = ExAllocatePoolWithTag(kNonPagedPool, bytes ? bytes : 1, kTag);
  if (p == nullptr) Stop(1);
  return p;
}
void Release(void* p) {
  if (p != nullptr) ExFreePoolWithTag(p, kTag);
}

unsigned long long ParseUnsigned(const char* text, char** end, int base) {
  const char* p = text;
  while (*p == ' ' || *p == '\t') ++p;
  if ((base == 0 || base == 16) && p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    p += 2;
    base = 16;
  }
  if (base == 0) base = 10;
  unsigned long long value = 0;
  for (;; ++p) {
    int digit;
    if (*p >= '0' && *p <= '9') digit = *p - '0';
    else if (*p >= 'a' && *p <= 'z') digit = *p - 'a' + 10;
    else if (*p >= 'A' && *p <= 'Z') digit = *p - 'A' + 10;
    else break;
    if (digit >= base) break;
    value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
  }
  if (end != nullptr) *end = const_cast<char*>(p);
  return value;
}
}  // namespace

void* operator new(std::size_t bytes) { return Allocate(bytes); }
void* operator new[](std::size_t bytes) { return Allocate(bytes); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept { return Allocate(bytes); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }

namespace std {
[[noreturn]] void __throw_length_error(const char*) { Stop(2); }
[[noreturn]] void __throw_logic_error(const char*) { Stop(3); }
[[noreturn]] void __throw_out_of_range(const char*) { Stop(4); }
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) { Stop(5); }
[[noreturn]] void __throw_bad_alloc() { Stop(6); }
[[noreturn]] void __throw_bad_array_new_length() { Stop(7); }
[[noreturn]] void __throw_bad_function_call() { Stop(8); }
[[noreturn]] void __throw_invalid_argument(const char*) { Stop(9); }
}  // namespace std

extern "C" {
unsigned long strtoul(const char* text, char** end, int base) {
  return static_cast<unsigned long>(ParseUnsigned(text, end, base));
}
unsigned long long strtoull(const char* text, char** end, int base) {
  return ParseUnsigned(text, end, base);
}
// The kernel's _vsnprintf leaves the text unterminated when it is cut; these always end it.
int vsnprintf(char* buffer, std::size_t size, const char* format, va_list args) {
  if (size == 0) return 0;
  const int n = _vsnprintf(buffer, size, format, args);
  buffer[size - 1] = '\0';
  return n;
}
int snprintf(char* buffer, std::size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = vsnprintf(buffer, size, format, args);
  va_end(args);
  return n;
}
int __mingw_vsnprintf(char* buffer, std::size_t size, const char* format, va_list args) {
  return vsnprintf(buffer, size, format, args);
}
int __mingw_snprintf(char* buffer, std::size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = vsnprintf(buffer, size, format, args);
  va_end(args);
  return n;
}
// The kernel exports the other classifications; the headers reach them through
// import pointers, so this one comes the same way.
static int IsAlpha(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
int (*__imp_isalpha)(int) = IsAlpha;
[[noreturn]] void abort() { Stop(10); }
int atexit(void (*)()) { return 0; }  // the driver is never unloaded in a test run
void __cxa_pure_virtual() { Stop(11); }
}

