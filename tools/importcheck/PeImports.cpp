#include "PeImports.h"

#include <cstddef>

namespace qx {
namespace importcheck {
namespace {

// Offsets and sizes of the structures the PE format fixes.
constexpr std::size_t kDosNewHeaderOffset = 0x3C;
constexpr std::size_t kFileHeaderSize = 20;
constexpr std::size_t kFileHeaderSectionCount = 2;
constexpr std::size_t kFileHeaderOptionalSize = 16;
constexpr std::uint16_t kMagicPe32 = 0x10B;
constexpr std::uint16_t kMagicPe32Plus = 0x20B;
constexpr std::size_t kPe32DirectoryCount = 92;
constexpr std::size_t kPe32Directories = 96;
constexpr std::size_t kPe32PlusDirectoryCount = 108;
constexpr std::size_t kPe32PlusDirectories = 112;
constexpr std::size_t kImportDirectory = 1;
constexpr std::size_t kDelayImportDirectory = 13;
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::size_t kImportDescriptorSize = 20;
constexpr std::size_t kDelayDescriptorSize = 32;
// Limits against looping over garbage.
constexpr std::size_t kMaxDescriptors = 4096;
constexpr std::size_t kMaxThunks = 65536;
constexpr std::size_t kMaxName = 4096;

class Reader {
 public:
  explicit Reader(const std::vector<std::uint8_t>& data) : fileBytes(data) {}

  bool Has(std::size_t offset, std::size_t size) const {
    return offset <= fileBytes.size() && size <= fileBytes.size() - offset;
  }
  bool U16(std::size_t offset, std::uint16_t* value) const {
    if (!Has(offset, 2)) return false;
    *value = static_cast<std::uint16_t>(fileBytes[offset] | (fileBytes[offset + 1] << 8));
    return true;
  }
  bool U32(std::size_t offset, std::uint32_t* value) const {
    if (!Has(offset, 4)) return false;
    *value = static_cast<std::uint32_t>(fileBytes[offset]) |
             (static_cast<std::uint32_t>(fileBytes[offset + 1]) << 8) |
             (static_cast<std::uint32_t>(fileBytes[offset + 2]) << 16) |
             (static_cast<std::uint32_t>(fileBytes[offset + 3]) << 24);
    return true;
  }
  bool U64(std::size_t offset, std::uint64_t* value) const {
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    if (!U32(offset, &low) || !U32(offset + 4, &high)) return false;
    *value = (static_cast<std::uint64_t>(high) << 32) | low;
    return true;
  }
  // A zero-terminated string that must end inside the data.
  bool String(std::size_t offset, std::string* text) const {
    text->clear();
    for (std::size_t i = offset; i < fileBytes.size() && text->size() < kMaxName; ++i) {
      if (fileBytes[i] == 0) return true;
      text->push_back(static_cast<char>(fileBytes[i]));
    }
    return false;
  }

 private:
  const std::vector<std::uint8_t>& fileBytes;
};

struct Section {
  std::uint32_t virtualAddress;
  std::uint32_t virtualSize;
  std::uint32_t rawSize;
  std::uint32_t rawOffset;
};

class Image {
 public:
  explicit Image(const std::vector<std::uint8_t>& data) : source(data) {}

  bool Parse(std::string* error) {
    std::uint32_t newHeader = 0;
    std::uint16_t dosMagic = 0;
    if (!source.U16(0, &dosMagic) || dosMagic != 0x5A4D ||
        !source.U32(kDosNewHeaderOffset, &newHeader)) {
      return Fail(error, "not an MZ executable");
    }
    std::uint32_t signature = 0;
    if (!source.U32(newHeader, &signature) || signature != 0x00004550) {
      return Fail(error, "no PE signature");
    }
    const std::size_t fileHeader = std::size_t{newHeader} + 4;
    std::uint16_t sectionCount = 0;
    std::uint16_t optionalSize = 0;
    if (!source.U16(fileHeader + kFileHeaderSectionCount, &sectionCount) ||
        !source.U16(fileHeader + kFileHeaderOptionalSize, &optionalSize)) {
      return Fail(error, "truncated file header");
    }
    const std::size_t optional = fileHeader + kFileHeaderSize;
    std::uint16_t magic = 0;
    if (!source.U16(optional, &magic)) return Fail(error, "truncated optional header");
    std::size_t countOffset = 0;
    if (magic == kMagicPe32) {
      isPe32Plus = false;
      countOffset = kPe32DirectoryCount;
      directoryTable = optional + kPe32Directories;
    } else if (magic == kMagicPe32Plus) {
      isPe32Plus = true;
      countOffset = kPe32PlusDirectoryCount;
      directoryTable = optional + kPe32PlusDirectories;
    } else {
      return Fail(error, "unknown optional header magic");
    }
    if (!source.U32(optional + countOffset, &directoryCount)) {
      return Fail(error, "truncated optional header");
    }
    if (directoryTable + std::size_t{directoryCount} * 8 > optional + optionalSize) {
      return Fail(error, "data directories overrun the optional header");
    }
    const std::size_t sectionTable = optional + optionalSize;
    for (std::size_t i = 0; i < sectionCount; ++i) {
      const std::size_t at = sectionTable + i * kSectionHeaderSize;
      Section s{};
      if (!source.U32(at + 8, &s.virtualSize) || !source.U32(at + 12, &s.virtualAddress) ||
          !source.U32(at + 16, &s.rawSize) || !source.U32(at + 20, &s.rawOffset)) {
        return Fail(error, "truncated section table");
      }
      sectionHeaders.push_back(s);
    }
    return true;
  }

  bool Directory(std::size_t index, std::uint32_t* rva, std::uint32_t* size) const {
    *rva = 0;
    *size = 0;
    if (index >= directoryCount) return true;
    return source.U32(directoryTable + index * 8, rva) &&
           source.U32(directoryTable + index * 8 + 4, size);
  }

  // The file offset of a relative virtual address, if a section's file data holds it.
  bool Offset(std::uint32_t rva, std::size_t* offset) const {
    for (const Section& s : sectionHeaders) {
      const std::uint32_t extent = s.virtualSize != 0 ? s.virtualSize : s.rawSize;
      if (rva >= s.virtualAddress && rva - s.virtualAddress < extent) {
        const std::uint32_t within = rva - s.virtualAddress;
        if (within >= s.rawSize) return false;  // zero-filled, not in the file
        *offset = std::size_t{s.rawOffset} + within;
        return source.Has(*offset, 1);
      }
    }
    return false;
  }

  bool StringAt(std::uint32_t rva, std::string* text) const {
    std::size_t offset = 0;
    return Offset(rva, &offset) && source.String(offset, text);
  }

  const Reader& reader() const { return source; }
  bool wide() const { return isPe32Plus; }

 private:
  static bool Fail(std::string* error, const char* text) {
    *error = text;
    return false;
  }

  Reader source;
  bool isPe32Plus = false;
  std::size_t directoryTable = 0;
  std::uint32_t directoryCount = 0;
  std::vector<Section> sectionHeaders;
};

bool ReadThunks(const Image& image, const std::string& dll, std::uint32_t thunkRva,
                std::vector<Import>* imports, std::string* error) {
  std::size_t offset = 0;
  if (!image.Offset(thunkRva, &offset)) {
    *error = "import thunks of " + dll + " lie outside the file";
    return false;
  }
  const std::size_t step = image.wide() ? 8 : 4;
  const std::uint64_t ordinalFlag = image.wide() ? (1ull << 63) : (1ull << 31);
  for (std::size_t i = 0; i < kMaxThunks; ++i, offset += step) {
    std::uint64_t thunk = 0;
    if (image.wide()) {
      if (!image.reader().U64(offset, &thunk)) break;
    } else {
      std::uint32_t narrow = 0;
      if (!image.reader().U32(offset, &narrow)) break;
      thunk = narrow;
    }
    if (thunk == 0) return true;
    if (thunk & ordinalFlag) {
      imports->push_back({dll, "#" + std::to_string(thunk & 0xFFFF)});
      continue;
    }
    std::string name;
    // The name follows a two-byte hint.
    if (thunk > 0xFFFFFFFFull || !image.StringAt(static_cast<std::uint32_t>(thunk) + 2, &name)) {
      *error = "an import name of " + dll + " lies outside the file";
      return false;
    }
    imports->push_back({dll, name});
  }
  *error = "the import thunks of " + dll + " do not end";
  return false;
}

}  // namespace

bool ReadImports(const std::vector<std::uint8_t>& data, ImportTable* table, std::string* error) {
  table->imports.clear();
  table->delayLoadedDlls.clear();
  Image image(data);
  if (!image.Parse(error)) return false;

  std::uint32_t rva = 0;
  std::uint32_t size = 0;
  if (!image.Directory(kImportDirectory, &rva, &size)) {
    *error = "truncated data directories";
    return false;
  }
  if (rva != 0) {
    std::size_t offset = 0;
    if (!image.Offset(rva, &offset)) {
      *error = "the import directory lies outside the file";
      return false;
    }
    bool ended = false;
    for (std::size_t i = 0; i < kMaxDescriptors; ++i, offset += kImportDescriptorSize) {
      std::uint32_t lookup = 0, nameRva = 0, bound = 0;
      if (!image.reader().U32(offset, &lookup) || !image.reader().U32(offset + 12, &nameRva) ||
          !image.reader().U32(offset + 16, &bound)) {
        *error = "truncated import directory";
        return false;
      }
      if (lookup == 0 && nameRva == 0 && bound == 0) {
        ended = true;
        break;
      }
      std::string dll;
      if (!image.StringAt(nameRva, &dll)) {
        *error = "an imported DLL's name lies outside the file";
        return false;
      }
      if (!ReadThunks(image, dll, lookup != 0 ? lookup : bound, &table->imports, error)) {
        return false;
      }
    }
    if (!ended) {
      *error = "the import directory does not end";
      return false;
    }
  }

  if (!image.Directory(kDelayImportDirectory, &rva, &size)) {
    *error = "truncated data directories";
    return false;
  }
  if (rva != 0) {
    std::size_t offset = 0;
    if (!image.Offset(rva, &offset)) {
      *error = "the delay-import directory lies outside the file";
      return false;
    }
    for (std::size_t i = 0; i < kMaxDescriptors; ++i, offset += kDelayDescriptorSize) {
      std::uint32_t nameRva = 0;
      if (!image.reader().U32(offset + 4, &nameRva)) {
        *error = "truncated delay-import directory";
        return false;
      }
      if (nameRva == 0) break;
      std::string dll;
      if (!image.StringAt(nameRva, &dll)) dll = "(unreadable name)";
      table->delayLoadedDlls.push_back(dll);
    }
  }
  return true;
}

}  // namespace importcheck
}  // namespace qx
