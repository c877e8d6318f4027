// Imports two functions Windows 98 SE does not have: one added in a later Windows,
// one wide-character call. Never run; only read by the import check's own tests.
#include <windows.h>

extern "C" __declspec(dllimport) unsigned long long WINAPI GetTickCount64();

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  if (GetTickCount64() == 0) return MessageBoxW(nullptr, L"", L"", MB_OK);
  return 0;
}
