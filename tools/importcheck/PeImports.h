#pragma once
// Reads the import table of a 32- or 64-bit PE file: which DLL functions the
// loader must find before the program's first instruction runs.
#include <cstdint>
#include <string>
#include <vector>

namespace qx {
namespace importcheck {

struct Import {
  std::string dll;       // as written in the file, e.g. "KERNEL32.dll"
  std::string function;  // the name, or "#<ordinal>" for an import by ordinal
};

struct ImportTable {
  std::vector<Import> imports;
  // Delay-loaded DLLs are resolved late and bypass the check; they are listed
  // so that the caller can refuse them.
  std::vector<std::string> delayLoadedDlls;
};

// Parses an image held in memory. False, with *error set, when the bytes are not
// a well-formed PE image; every offset is checked against the data first.
bool ReadImports(const std::vector<std::uint8_t>& image, ImportTable* table, std::string* error);

}  // namespace importcheck
}  // namespace qx
