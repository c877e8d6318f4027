#include "Robot.h"

#include <windows.h>

#include <cstdio>
#include <cstdint>
#include <fstream>

namespace robot {
namespace {

constexpr UINT kWmPower = 0x0048;
constexpr UINT kWmPowerBroadcast = 0x0218;
constexpr UINT kPbmGetPos = WM_USER + 8;
constexpr int kProgressId = 1012;
constexpr LRESULT kPwrFail = -1;
constexpr LRESULT kBroadcastQueryDeny = 0x424D5144;

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], n);
  return out;
}

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &out[0], n,
                        nullptr, nullptr);
  return out;
}

// Shows line ends, so a failed comparison says what the text really held.
std::string Visible(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

// The text of any window, also of another process's edit control: WM_GETTEXT is
// carried across processes, GetWindowText of a control is not.
std::string TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!::SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) {
    return std::string();
  }
  std::wstring buffer(static_cast<std::size_t>(length) + 1, L'\0');
  DWORD_PTR copied = 0;
  ::SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(&buffer[0]),
                        SMTO_ABORTIFHUNG, 5000, &copied);
  buffer.resize(static_cast<std::size_t>(copied));
  return Utf8(buffer);
}

std::string CaptionOf(HWND window) {
  wchar_t buffer[512] = {};
  ::GetWindowTextW(window, buffer, 512);
  return Utf8(buffer);
}

struct Search {
  std::string caption;
  int controlId = 0;          // 0: any
  std::string childText;      // empty: any
  HWND found = nullptr;
};

BOOL CALLBACK MatchChild(HWND child, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  if (TextOf(child).find(search->childText) != std::string::npos) {
    search->found = child;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK MatchTop(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<Search*>(parameter);
  if (!::IsWindowVisible(window) || CaptionOf(window) != search->caption) return TRUE;
  if (search->controlId != 0 && ::GetDlgItem(window, search->controlId) == nullptr) return TRUE;
  if (!search->childText.empty()) {
    Search inner;
    inner.childText = search->childText;
    ::EnumChildWindows(window, MatchChild, reinterpret_cast<LPARAM>(&inner));
    if (inner.found == nullptr) return TRUE;
  }
  search->found = window;
  return FALSE;
}

HWND FindTop(const Search& how) {
  Search search = how;
  ::EnumWindows(MatchTop, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

class Player {
 public:
  int Run(const std::vector<Step>& steps) {
    for (const Step& step : steps) {
      std::printf("robot: %s %s\n", step.verb.c_str(), Visible(step.rest).c_str());
      std::fflush(stdout);
      if (!Do(step)) {
        std::printf("robot: FAILED at line %d (%s): %s\n", step.line, step.verb.c_str(),
                    failure.c_str());
        std::fflush(stdout);
        return 1;
      }
    }
    return 0;
  }

 private:
  bool Fail(const std::string& why) {
    failure = why;
    return false;
  }

  long long Number(const Step& step, std::size_t index) const {
    long long value = 0;
    ParseNumber(step.words[index], &value);
    return value;
  }

  bool NeedWindow() {
    if (currentWindow != nullptr && ::IsWindow(currentWindow)) return true;
    return Fail("no current window (wait for one first)");
  }

  HWND Control(int id) { return ::GetDlgItem(currentWindow, id); }

  // Waits until the window's thread has dealt with what was posted before.
  void Settle() {
    DWORD_PTR ignored = 0;
    ::SendMessageTimeoutW(currentWindow, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
  }

  bool WaitFor(const Search& search) {
    const DWORD start = ::GetTickCount();
    for (;;) {
      HWND found = FindTop(search);
      if (found != nullptr) {
        currentWindow = found;
        Settle();
        return true;
      }
      if (::GetTickCount() - start > timeoutMs) {
        return Fail("no window \"" + Visible(search.caption) + "\" after " +
                    std::to_string(timeoutMs) + " ms");
      }
      ::Sleep(50);
    }
  }

  bool Answer(UINT message, WPARAM wParam, LRESULT expected, const char* name) {
    if (!NeedWindow()) return false;
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(currentWindow, message, wParam, 0, SMTO_ABORTIFHUNG, 5000, &result)) {
      return Fail(std::string(name) + " got no answer");
    }
    const LRESULT answer = static_cast<LRESULT>(result);
    std::printf("robot:   %s -> %lld\n", name, static_cast<long long>(answer));
    if (answer != expected) {
      return Fail(std::string(name) + " answered " + std::to_string(answer) + ", expected " +
                  std::to_string(expected));
    }
    return true;
  }

  bool Key(WPARAM key) {
    if (!NeedWindow()) return false;
    const DWORD thread = ::GetWindowThreadProcessId(currentWindow, nullptr);
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    HWND target = currentWindow;
    if (::GetGUIThreadInfo(thread, &info) && info.hwndFocus != nullptr) target = info.hwndFocus;
    const UINT scan = ::MapVirtualKeyW(static_cast<UINT>(key), 0);
    ::PostMessageW(target, WM_KEYDOWN, key, 1 | (scan << 16));
    ::PostMessageW(target, WM_KEYUP, key, 1 | (scan << 16) | (3u << 30));
    return true;
  }

  bool Shot(const std::string& path) {
    if (!NeedWindow()) return false;
    Settle();
    ::Sleep(150);  // let the last paint reach the screen
    RECT r;
    ::GetWindowRect(currentWindow, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    ::GdiFlush();
    const DWORD stride = ((static_cast<DWORD>(w) * 3 + 3) & ~3u);
    const DWORD imageSize = stride * static_cast<DWORD>(h);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + imageSize;
    std::ofstream out(Wide(path).c_str(), std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    out.write(static_cast<const char*>(bits), imageSize);
    const bool ok = out.good();
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return ok ? true : Fail("cannot write " + path);
  }

  int Progress() {
    DWORD_PTR position = 0;
    ::SendMessageTimeoutW(Control(kProgressId), kPbmGetPos, 0, 0, SMTO_ABORTIFHUNG, 2000, &position);
    return static_cast<int>(position);
  }

  bool Do(const Step& s) {
    const std::string& v = s.verb;
    if (v == "wait") {
      Search search;
      const std::size_t bar = s.rest.find(" | ");
      search.caption = s.rest.substr(0, bar);
      if (bar != std::string::npos) search.childText = s.rest.substr(bar + 3);
      return WaitFor(search);
    }
    if (v == "waitid") {
      Search search;
      search.controlId = static_cast<int>(Number(s, 0));
      search.caption = s.rest;
      return WaitFor(search);
    }
    if (v == "timeout") {
      timeoutMs = static_cast<DWORD>(Number(s, 0));
      return true;
    }
    if (v == "sleep") {
      ::Sleep(static_cast<DWORD>(Number(s, 0)));
      return true;
    }
    if (v == "echo") return true;
    if (v == "none") {
      Search search;
      search.caption = s.rest;
      return FindTop(search) == nullptr ? true : Fail("a window \"" + s.rest + "\" is open");
    }
    if (v == "gone") {
      const DWORD start = ::GetTickCount();
      while (currentWindow != nullptr && ::IsWindow(currentWindow)) {
        if (::GetTickCount() - start > timeoutMs) return Fail("the window is still open");
        ::Sleep(20);
      }
      currentWindow = nullptr;
      return true;
    }
    if (!NeedWindow()) return false;
    if (v == "caption") {
      const std::string caption = CaptionOf(currentWindow);
      return caption == s.rest ? true : Fail("caption is \"" + Visible(caption) + "\"");
    }
    if (v == "systext") {
      // The system's own text for an error number, in this process's locale, read
      // as wide characters: what a program's message must carry unharmed.
      HWND control = Control(static_cast<int>(Number(s, 0)));
      if (control == nullptr) return Fail("no control " + s.words[0]);
      wchar_t* message = nullptr;
      const DWORD length = ::FormatMessageW(
          FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
          static_cast<DWORD>(Number(s, 1)), 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
      if (length == 0 || message == nullptr) return Fail("no system text for " + s.words[1]);
      const std::string expected = Utf8(std::wstring(message, length));
      ::LocalFree(message);
      std::printf("robot: the system's text for %s: %s\n", s.words[1].c_str(),
                  Visible(expected).c_str());
      const std::string text = TextOf(control);
      if (text.find(expected) != std::string::npos) return true;
      return Fail("control " + s.words[0] + " holds \"" + Visible(text) + "\", not the system's \"" +
                  Visible(expected) + "\"");
    }
    if (v == "text" || v == "contains") {
      HWND control = Control(static_cast<int>(Number(s, 0)));
      if (control == nullptr) return Fail("no control " + s.words[0]);
      const std::string text = TextOf(control);
      const bool ok = v == "text" ? text == s.rest : text.find(s.rest) != std::string::npos;
      return ok ? true : Fail("control " + s.words[0] + " holds \"" + Visible(text) + "\"");
    }
    if (v == "enabled" || v == "disabled") {
      HWND control = Control(static_cast<int>(Number(s, 0)));
      if (control == nullptr) return Fail("no control " + s.words[0]);
      const bool enabled = ::IsWindowEnabled(control) != FALSE;
      if (enabled == (v == "enabled")) return true;
      return Fail("control " + s.words[0] + (enabled ? " is enabled" : " is disabled"));
    }
    if (v == "click") {
      HWND control = Control(static_cast<int>(Number(s, 0)));
      if (control == nullptr) return Fail("no control " + s.words[0]);
      // Posted: the click may open a modal window that the robot must answer next.
      ::PostMessageW(control, BM_CLICK, 0, 0);
      return true;
    }
    if (v == "command") {
      ::PostMessageW(currentWindow, WM_COMMAND, MAKEWPARAM(Number(s, 0), BN_CLICKED), 0);
      return true;
    }
    if (v == "key") return Key(s.rest == "escape" ? VK_ESCAPE : VK_RETURN);
    if (v == "close") {
      ::PostMessageW(currentWindow, WM_CLOSE, 0, 0);
      return true;
    }
    if (v == "query") return Answer(WM_QUERYENDSESSION, 0, Number(s, 0), "WM_QUERYENDSESSION");
    if (v == "endsession") return Answer(WM_ENDSESSION, 0, Number(s, 0), "WM_ENDSESSION");
    if (v == "power") return Answer(kWmPower, 1, Number(s, 0), "WM_POWER");
    if (v == "broadcast") {
      return Answer(kWmPowerBroadcast, static_cast<WPARAM>(Number(s, 0)), Number(s, 1),
                    "WM_POWERBROADCAST");
    }
    if (v == "refuses") {
      return Answer(WM_QUERYENDSESSION, 0, 0, "WM_QUERYENDSESSION") &&
             Answer(WM_ENDSESSION, 0, 0, "WM_ENDSESSION") &&
             Answer(kWmPower, 1, kPwrFail, "WM_POWER") &&
             Answer(kWmPowerBroadcast, 0, kBroadcastQueryDeny, "WM_POWERBROADCAST") &&
             Answer(kWmPowerBroadcast, 1, kBroadcastQueryDeny, "WM_POWERBROADCAST");
    }
    if (v == "progress") {
      const int position = Progress();
      std::printf("robot:   progress %d\n", position);
      if (position >= Number(s, 0) && position <= Number(s, 1)) return true;
      return Fail("progress is " + std::to_string(position));
    }
    if (v == "waitprogress") {
      const DWORD start = ::GetTickCount();
      while (Progress() < Number(s, 0)) {
        if (::GetTickCount() - start > timeoutMs) {
          return Fail("progress stayed at " + std::to_string(Progress()));
        }
        ::Sleep(20);
      }
      std::printf("robot:   progress %d\n", Progress());
      return true;
    }
    if (v == "shot") return Shot(s.rest);
    return Fail("unknown step");
  }

  HWND currentWindow = nullptr;
  DWORD timeoutMs = 20000;
  std::string failure;
};

}  // namespace

int Play(const std::vector<Step>& steps) {
  Player player;
  return player.Run(steps);
}

}  // namespace robot
