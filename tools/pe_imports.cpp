#include "tools/pe_imports.h"

#include <string.h>

#include <unordered_set>

namespace kvcheck {

namespace {

// Bounds-checked little-endian reads: the file may be anything.
bool U16(const unsigned char *b, size_t size, size_t at, uint16_t &v) {
  if (at > size || size - at < 2) return false;
  v = static_cast<uint16_t>(b[at] | b[at + 1] << 8);
  return true;
}

bool U32(const unsigned char *b, size_t size, size_t at, uint32_t &v) {
  if (at > size || size - at < 4) return false;
  v = static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 | static_cast<uint32_t>(b[at + 2]) << 16 |
      static_cast<uint32_t>(b[at + 3]) << 24;
  return true;
}

struct Sections {
  size_t table;    // file offset of the first section header
  uint16_t count;
};

// The file offset of an RVA and the bytes from there that the loader maps
// from the file: the rest of its section's raw data, as far as the file
// goes. False when no section holds the RVA, or it falls past its section's
// raw data (the loader maps zeros there, whatever bytes follow in the file),
// or past the file's end.
bool FileOffset(const unsigned char *b, size_t size, const Sections &s, uint32_t rva, size_t &offset,
                size_t &mapped) {
  for (uint16_t i = 0; i < s.count; ++i) {
    const size_t h = s.table + static_cast<size_t>(i) * 40;
    uint32_t virtualSize, address, rawSize, rawOffset;
    if (!U32(b, size, h + 8, virtualSize) || !U32(b, size, h + 12, address) || !U32(b, size, h + 16, rawSize) ||
        !U32(b, size, h + 20, rawOffset))
      return false;
    const uint32_t span = virtualSize > rawSize ? virtualSize : rawSize;
    if (rva < address || rva - address >= span) continue;
    const uint32_t into = rva - address;
    if (into >= rawSize || rawOffset > size || size - rawOffset <= into) return false;
    offset = rawOffset + static_cast<size_t>(into);
    mapped = size - offset < rawSize - into ? size - offset : rawSize - into;
    return true;
  }
  return false;
}

}  // namespace

PeImage ReadPeImage(const unsigned char *b, size_t size) {
  PeImage pe;
  uint32_t peAt, signature;
  uint16_t sections, optionalSize, characteristics, magic;
  if (size < 2 || b[0] != 'M' || b[1] != 'Z' || !U32(b, size, 0x3C, peAt)) return pe;
  const size_t header = static_cast<size_t>(peAt) + 4, optional = header + 20;
  if (!U32(b, size, peAt, signature) || signature != 0x00004550u || !U16(b, size, header, pe.machine) ||
      !U16(b, size, header + 2, sections) || !U16(b, size, header + 16, optionalSize) ||
      !U16(b, size, header + 18, characteristics) || !U16(b, size, optional, magic) ||
      (magic != 0x10B && magic != 0x20B))
    return pe;
  pe.kind = magic == 0x10B ? kPe32 : kPe32Plus;
  pe.dll = (characteristics & 0x2000) != 0;

  // A file cut short within its headers cannot tell its imports.
  const Sections s = {optional + optionalSize, sections};
  if (s.table + static_cast<size_t>(sections) * 40 > size) {
    pe.complete = false;
    return pe;
  }
  // The data directories follow the optional header's fixed part; the
  // import table is the second.
  const size_t directories = optional + (pe.kind == kPe32 ? 96 : 112);
  uint32_t directoryCount, importRva;
  if (directories + 16 > s.table || !U32(b, size, directories - 4, directoryCount) || directoryCount < 2 ||
      !U32(b, size, directories + 8, importRva) || importRva == 0)
    return pe;  // no import table: nothing to load besides the file

  // One 20-byte descriptor a DLL, up to one whose name or first thunk is 0
  // (the loader's own end rule). Each lies whole in its section's raw data,
  // or the table counts as cut short. Each name is read once, however many
  // descriptors point at it, and never further than the bytes still allowed.
  std::unordered_set<uint32_t> namesRead;
  size_t descriptors = 0, nameBytes = 0;
  for (uint32_t rva = importRva;; rva += 20) {
    size_t at, mapped, nameAt, nameMapped;
    uint32_t nameRva, firstThunk;
    if (rva < importRva || !FileOffset(b, size, s, rva, at, mapped) || mapped < 20 ||
        !U32(b, size, at + 12, nameRva) || !U32(b, size, at + 16, firstThunk)) {
      pe.complete = false;
      break;
    }
    if (nameRva == 0 || firstThunk == 0) break;
    if (++descriptors > kMaxImportDescriptors) {
      pe.complete = false, pe.tooLarge = true;
      break;
    }
    if (!namesRead.insert(nameRva).second) continue;
    if (!FileOffset(b, size, s, nameRva, nameAt, nameMapped)) {
      pe.complete = false;
      break;
    }
    const size_t room = kMaxImportNameBytes - nameBytes;
    const size_t look = nameMapped < room + 1 ? nameMapped : room + 1;
    const void *nul = memchr(b + nameAt, 0, look);
    if (!nul) {
      pe.complete = false;
      pe.tooLarge = look > room;
      break;
    }
    const size_t length = static_cast<size_t>(static_cast<const unsigned char *>(nul) - (b + nameAt));
    nameBytes += length;
    pe.imports.emplace_back(reinterpret_cast<const char *>(b + nameAt), length);
  }
  return pe;
}

}  // namespace kvcheck
