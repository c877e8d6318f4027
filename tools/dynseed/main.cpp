// dynseed.exe KEY VALUE TEXT: writes a text value under HKEY_DYN_DATA, which neither
// reg.exe nor regedit reach under Wine. The tree is volatile: it lasts while the
// wine server runs. For seeding the 95/98/ME device list in the scenarios.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: dynseed KEY VALUE TEXT\n");
    return 2;
  }
  HKEY key = nullptr;
  DWORD disposition = 0;
  LONG result = RegCreateKeyExA(HKEY_DYN_DATA, argv[1], 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                &disposition);
  if (result == ERROR_SUCCESS) {
    result = RegSetValueExA(key, argv[2], 0, REG_SZ, reinterpret_cast<const BYTE*>(argv[3]),
                            static_cast<DWORD>(std::strlen(argv[3]) + 1));
    RegCloseKey(key);
  }
  if (result != ERROR_SUCCESS) {
    std::fprintf(stderr, "dynseed: HKEY_DYN_DATA\\%s: error %ld\n", argv[1], result);
    return 1;
  }
  return 0;
}
