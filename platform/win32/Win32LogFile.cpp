#include "platform/win32/Win32LogFile.h"

#include "platform/win32/Win32Api.h"

#include "platform/win32/AnsiText.h"

namespace qx {

namespace {

constexpr char kFileName[] = "qxupdate.log";
constexpr DWORD kMaxReadBytes = 1024 * 1024;  // far more than the log is ever let grow

}  // namespace

Win32LogFile::Win32LogFile() {
  char folder[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathA(sizeof folder, folder);
  if (length == 0 || length >= sizeof folder) return;
  path.assign(folder, length);
  if (path.back() != '\\') path += '\\';
  path += kFileName;
}

std::string Win32LogFile::Location() { return FromAnsi(path); }

bool Win32LogFile::Read(std::string* text) {
  if (path.empty()) return false;
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const DWORD size = ::GetFileSize(file, nullptr);
  bool ok = size != INVALID_FILE_SIZE && size <= kMaxReadBytes;
  if (ok) {
    text->assign(size, '\0');
    DWORD read = 0;
    ok = size == 0 || (::ReadFile(file, &(*text)[0], size, &read, nullptr) && read == size);
  }
  ::CloseHandle(file);
  return ok;
}

bool Win32LogFile::Write(const std::string& text, bool append) {
  if (path.empty()) return false;
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = !append || ::SetFilePointer(file, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER;
  DWORD written = 0;
  if (ok && !text.empty()) {
    ok = ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
  }
  ::CloseHandle(file);
  return ok;
}

bool Win32LogFile::Replace(const std::string& text) { return Write(text, false); }

bool Win32LogFile::Append(const std::string& text) {
  // Notepad on Windows 98 knows only CR LF.
  std::string lines;
  lines.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '\n') lines += '\r';
    lines += c;
  }
  return Write(lines, true);
}

}  // namespace qx
