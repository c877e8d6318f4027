#include "platform/win32/AnsiText.h"

#include "platform/win32/Win32Api.h"

#include <vector>

namespace qx {
namespace {

// Keeps the thread's last error across the conversion calls.
class LastErrorKeeper {
 public:
  LastErrorKeeper() : savedError(::GetLastError()) {}
  ~LastErrorKeeper() { ::SetLastError(savedError); }
  LastErrorKeeper(const LastErrorKeeper&) = delete;
  LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

 private:
  DWORD savedError;
};

// Flags stay 0: Windows 98 refuses any flag with CP_UTF8.
std::string Convert(const std::string& text, UINT from, UINT to) {
  if (text.empty()) return std::string();
  const int length = static_cast<int>(text.size());
  const int wideLength = ::MultiByteToWideChar(from, 0, text.data(), length, nullptr, 0);
  if (wideLength <= 0) return std::string();
  std::vector<wchar_t> wide(static_cast<size_t>(wideLength));
  if (::MultiByteToWideChar(from, 0, text.data(), length, wide.data(), wideLength) != wideLength) {
    return std::string();
  }
  const int outLength =
      ::WideCharToMultiByte(to, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  if (outLength <= 0) return std::string();
  std::string out(static_cast<size_t>(outLength), '\0');
  if (::WideCharToMultiByte(to, 0, wide.data(), wideLength, &out[0], outLength, nullptr,
                            nullptr) != outLength) {
    return std::string();
  }
  return out;
}

}  // namespace

std::string ToAnsi(const std::string& utf8) {
  LastErrorKeeper keeper;
  return Convert(utf8, CP_UTF8, CP_ACP);
}

std::string FromAnsi(const std::string& ansi) {
  LastErrorKeeper keeper;
  return Convert(ansi, CP_ACP, CP_UTF8);
}

}  // namespace qx
