// The update log's file against the real (Wine's) file calls: what it refuses to
// open, a log larger than anything read whole, and the code page it writes.
#include <gtest/gtest.h>

#include "platform/win32/Win32Api.h"

#include <string>

#include "platform/win32/AnsiText.h"
#include "platform/win32/Win32LogFile.h"
#include "platform/win32/Win32Threads.h"
#include "update/UpdateLog.h"

namespace qx {
namespace {

// A fresh path in the TEMP folder, gone again (whatever it became) at the end.
class TempPath {
 public:
  explicit TempPath(const char* name) {
    char folder[MAX_PATH + 1] = {};
    ::GetTempPathA(sizeof folder, folder);
    path = std::string(folder) + name;
    Remove();
  }
  ~TempPath() { Remove(); }
  void Remove() const {
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(path.c_str());
    ::RemoveDirectoryA(path.c_str());
  }
  std::string path;
};

bool WriteWhole(const std::string& path, const std::string& bytes) {
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                              nullptr) &&
                  written == bytes.size();
  ::CloseHandle(file);
  return ok;
}

std::string ReadWhole(const std::string& path) {
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "(none)";
  std::string bytes(::GetFileSize(file, nullptr), '\0');
  DWORD read = 0;
  if (!bytes.empty()) ::ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
  ::CloseHandle(file);
  return bytes;
}

// A hard link planted under the log's name shares its bytes with another file; an
// administrator's run trimming "its" log would cut that file.
TEST(Win32LogFile, AHardLinkOrAFolderUnderItsNameIsNeverOpened) {
  TempPath other("qxunittest-other.txt");
  TempPath log("qxunittest.log");
  const std::string precious(200 * 1024, 'p');
  ASSERT_TRUE(WriteWhole(other.path, precious));
  ASSERT_TRUE(::CreateHardLinkA(log.path.c_str(), other.path.c_str(), nullptr))
      << ::GetLastError();
  ASSERT_EQ(ReadWhole(log.path), precious);  // a link indeed

  Win32LogFile file(log.path);
  std::string text = "sentinel";
  std::uint64_t size = 12345;
  EXPECT_FALSE(file.ReadTail(1024, &text, &size));
  EXPECT_FALSE(file.Replace("short"));
  EXPECT_FALSE(file.Append("one line\n", LogText::Utf8));
  // Through the log as the program runs it: nothing trimmed, nothing added.
  Win32Threads threads;
  UpdateLog updateLog(&file, threads);
  updateLog.BeginRun("qxupdate");
  updateLog.Write("a line");
  EXPECT_EQ(ReadWhole(other.path), precious);

  TempPath folder("qxunittest-folder.log");
  ASSERT_TRUE(::CreateDirectoryA(folder.path.c_str(), nullptr));
  Win32LogFile inFolder(folder.path);
  EXPECT_FALSE(inFolder.Append("one line\n", LogText::Utf8));
  EXPECT_FALSE(inFolder.ReadTail(1024, &text, &size));
}

// Far larger than anything the log reads whole: the oldest runs still go.
TEST(Win32LogFile, ALogOfAnySizeIsTrimmedFromItsEnd) {
  TempPath log("qxunittest-large.log");
  std::string old;
  for (int run = 0; old.size() < 3 * 1024 * 1024; ++run) {
    old += "2005-11-30 00:00:00 " + std::string(UpdateLog::kRunMark) + "run " +
           std::to_string(run) + "\r\n";
    for (int i = 0; i < 40; ++i) old += "2005-11-30 00:00:01 a line of an old run\r\n";
  }
  ASSERT_TRUE(WriteWhole(log.path, old));

  Win32LogFile file(log.path);
  std::string tail;
  std::uint64_t size = 0;
  ASSERT_TRUE(file.ReadTail(100, &tail, &size));
  EXPECT_EQ(size, old.size());
  EXPECT_EQ(tail, old.substr(old.size() - 100));

  Win32Threads threads;
  UpdateLog updateLog(&file, threads);
  updateLog.BeginRun("qxupdate");
  const std::string trimmed = ReadWhole(log.path);
  EXPECT_LT(trimmed.size(), UpdateLog::kKeptBytes + 4096);
  EXPECT_GT(trimmed.size(), UpdateLog::kKeptBytes / 2);
  EXPECT_EQ(trimmed.compare(19, 6, std::string(" ") + UpdateLog::kRunMark), 0)
      << trimmed.substr(0, 60);
  // The kept part is the old log's end, whole lines, then this run.
  const std::size_t thisRun = trimmed.find("qxupdate, times in UTC");
  ASSERT_NE(thisRun, std::string::npos);
  const std::size_t kept = trimmed.rfind('\n', thisRun) + 1;
  EXPECT_EQ(old.compare(old.size() - kept, kept, trimmed, 0, kept), 0);
}

// The program's texts are UTF-8, the system's are in its ANSI code page; the file
// holds the ANSI code page throughout, with CR LF line ends.
TEST(Win32LogFile, WritesTheSystemsCodePageWithCrLf) {
  TempPath log("qxunittest-codepage.log");
  Win32LogFile file(log.path);
  const std::string utf8 = "r\xC3\xA9vision \xE6\x9B\xB4\xE6\x96\xB0";  // "révision 更新"
  const std::string ansi = ToAnsi(utf8);
  ASSERT_FALSE(ansi.empty());
  ASSERT_NE(ansi, utf8);
  ASSERT_TRUE(file.Append(utf8 + "\n", LogText::Utf8));
  ASSERT_TRUE(file.Append(ansi + "\n", LogText::SystemAnsi));
  EXPECT_EQ(ReadWhole(log.path), ansi + "\r\n" + ansi + "\r\n");
}

}  // namespace
}  // namespace qx
