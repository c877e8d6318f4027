#include "platform/win32/Win32LogFile.h"

#include "platform/win32/Win32Api.h"

#include "platform/win32/AnsiText.h"

namespace qx {

namespace {

constexpr char kFileName[] = "qxupdate.log";

// Closes the file on every way out.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle(handle) {}
  ~FileHandle() {
    if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE Get() const { return handle; }
  bool Valid() const { return handle != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle;
};

// The log opened for `access`, or INVALID_HANDLE_VALUE when it cannot be or when it
// is not a plain file of one link. Nothing is truncated here: a file is judged
// before anything of it changes.
HANDLE OpenPlainFile(const std::string& path, DWORD access, DWORD disposition) {
  // A symbolic link or a junction shows in its own attributes; the open would
  // follow it, so it is refused before.
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return INVALID_HANDLE_VALUE;
  }
  HANDLE file = ::CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  BY_HANDLE_FILE_INFORMATION information = {};
  // A hard link planted under the log's name shares its data with another file:
  // trimming the log would cut that file.
  const bool plain = ::GetFileType(file) == FILE_TYPE_DISK &&
                     ::GetFileInformationByHandle(file, &information) &&
                     information.nNumberOfLinks == 1 &&
                     (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  if (!plain) {
    ::CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

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

bool Win32LogFile::ReadTail(std::size_t maxBytes, std::string* text, std::uint64_t* size) {
  if (path.empty()) return false;
  const FileHandle file(OpenPlainFile(path, GENERIC_READ, OPEN_EXISTING));
  if (!file.Valid()) return false;
  DWORD high = 0;
  const DWORD low = ::GetFileSize(file.Get(), &high);
  if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) return false;
  const std::uint64_t whole = static_cast<std::uint64_t>(high) << 32 | low;
  const std::uint64_t start = whole > maxBytes ? whole - maxBytes : 0;
  LONG startHigh = static_cast<LONG>(start >> 32);
  if (::SetFilePointer(file.Get(), static_cast<LONG>(start & 0xFFFFFFFFu), &startHigh,
                       FILE_BEGIN) == INVALID_SET_FILE_POINTER &&
      ::GetLastError() != NO_ERROR) {
    return false;
  }
  const DWORD count = static_cast<DWORD>(whole - start);
  text->assign(count, '\0');
  DWORD read = 0;
  if (count != 0 && (!::ReadFile(file.Get(), &(*text)[0], count, &read, nullptr) || read != count)) {
    return false;
  }
  *size = whole;
  return true;
}

bool Win32LogFile::Write(const std::string& text, bool append) {
  if (path.empty()) return false;
  const FileHandle file(OpenPlainFile(path, GENERIC_WRITE, OPEN_ALWAYS));
  if (!file.Valid()) return false;
  LONG high = 0;
  if (::SetFilePointer(file.Get(), 0, &high, append ? FILE_END : FILE_BEGIN) ==
          INVALID_SET_FILE_POINTER &&
      ::GetLastError() != NO_ERROR) {
    return false;
  }
  DWORD written = 0;
  if (!text.empty() &&
      (!::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
       written != text.size())) {
    return false;
  }
  return append || ::SetEndOfFile(file.Get());
}

bool Win32LogFile::Replace(const std::string& text) { return Write(text, false); }

bool Win32LogFile::Append(const std::string& text, LogText encoding) {
  // The program's texts are UTF-8; Notepad reads the system's code page. A text
  // that does not convert is written as it is rather than lost.
  std::string ansi = encoding == LogText::Utf8 ? ToAnsi(text) : text;
  if (ansi.empty()) ansi = text;
  // Notepad on Windows 98 knows only CR LF.
  std::string lines;
  lines.reserve(ansi.size() + 8);
  for (char c : ansi) {
    if (c == '\n') lines += '\r';
    lines += c;
  }
  return Write(lines, true);
}

}  // namespace qx
