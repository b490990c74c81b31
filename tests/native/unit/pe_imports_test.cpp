// kvdrm-check's reading of a PE file's kind and import table, on images
// laid out here byte by byte (one section holding the import descriptors
// and the names), whole, cut short at every length, and with bad RVAs.
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/pe_imports.h"

namespace {

using kvcheck::PeImage;
using kvcheck::ReadPeImage;

struct Layout {
  bool pe32Plus = false;
  uint16_t machine = kvcheck::kMachineI386;
  bool dll = true;
  bool importTable = true;
  std::vector<std::string> names;
  uint32_t badNameRva = 0;  // when set, the last descriptor's name RVA
  bool lastThunkZero = false;  // the last descriptor has a name but no first thunk
};

void Put16(std::vector<unsigned char> &b, size_t at, uint32_t v) {
  b[at] = v & 0xFF;
  b[at + 1] = (v >> 8) & 0xFF;
}
void Put32(std::vector<unsigned char> &b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}

// MZ header, PE header at 0x40, one section at RVA 0x1000 stored at file
// offset 0x200: the descriptors (and an all-zero one), then the names.
std::vector<unsigned char> Image(const Layout &l) {
  const uint32_t kRaw = 0x200, kRva = 0x1000, optionalSize = l.pe32Plus ? 240 : 224;
  const size_t descriptors = (l.names.size() + 1) * 20;
  size_t rawSize = descriptors;
  for (const std::string &n : l.names) rawSize += n.size() + 1;
  std::vector<unsigned char> b(kRaw + rawSize, 0);
  b[0] = 'M', b[1] = 'Z';
  Put32(b, 0x3C, 0x40);
  memcpy(&b[0x40], "PE\0\0", 4);
  Put16(b, 0x44, l.machine);
  Put16(b, 0x46, 1);
  Put16(b, 0x54, optionalSize);
  Put16(b, 0x56, 0x0102 | (l.dll ? 0x2000 : 0));
  const size_t optional = 0x58, dirs = optional + (l.pe32Plus ? 112 : 96);
  Put16(b, optional, l.pe32Plus ? 0x20B : 0x10B);
  Put32(b, dirs - 4, 16);
  if (l.importTable) Put32(b, dirs + 8, kRva), Put32(b, dirs + 12, static_cast<uint32_t>(descriptors));
  const size_t section = optional + optionalSize;
  memcpy(&b[section], ".idata\0\0", 8);
  Put32(b, section + 8, static_cast<uint32_t>(rawSize));
  Put32(b, section + 12, kRva);
  Put32(b, section + 16, static_cast<uint32_t>(rawSize));
  Put32(b, section + 20, kRaw);
  size_t name = descriptors;
  for (size_t i = 0; i < l.names.size(); ++i) {
    const bool last = i + 1 == l.names.size();
    Put32(b, kRaw + i * 20 + 12, last && l.badNameRva ? l.badNameRva : kRva + static_cast<uint32_t>(name));
    Put32(b, kRaw + i * 20 + 16, last && l.lastThunkZero ? 0 : 0x3000);
    memcpy(&b[kRaw + name], l.names[i].c_str(), l.names[i].size() + 1);
    name += l.names[i].size() + 1;
  }
  return b;
}

PeImage Read(const std::vector<unsigned char> &b) { return ReadPeImage(b.data(), b.size()); }

const std::vector<std::string> kNames = {"KERNEL32.dll", "mgrhelper.dll", "msvcrt.dll"};

TEST(PeImports, KindAndImportTable) {
  struct Row {
    const char *what;
    Layout layout;
    kvcheck::PeKind kind;
    bool x86Dll, complete;
    std::vector<std::string> imports;
  };
  Layout dll, dll64, program, bare, badName, thunkEnds;
  dll.names = dll64.names = program.names = badName.names = thunkEnds.names = kNames;
  dll64.pe32Plus = true, dll64.machine = kvcheck::kMachineAmd64;
  program.dll = false;
  bare.importTable = false;
  badName.badNameRva = 0x7000;
  thunkEnds.lastThunkZero = true;
  const Row rows[] = {
      {"32-bit DLL", dll, kvcheck::kPe32, true, true, kNames},
      {"64-bit DLL", dll64, kvcheck::kPe32Plus, false, true, kNames},
      {"32-bit program", program, kvcheck::kPe32, false, true, kNames},
      {"no import table", bare, kvcheck::kPe32, true, true, {}},
      {"a name outside every section", badName, kvcheck::kPe32, true, false, {kNames[0], kNames[1]}},
      {"no first thunk ends the table", thunkEnds, kvcheck::kPe32, true, true, {kNames[0], kNames[1]}},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    const PeImage pe = Read(Image(r.layout));
    EXPECT_EQ(r.kind, pe.kind);
    EXPECT_EQ(r.layout.machine, pe.machine);
    EXPECT_EQ(r.x86Dll, kvcheck::IsX86Dll(pe));
    EXPECT_EQ(r.complete, pe.complete);
    EXPECT_EQ(r.imports, pe.imports);
  }
  for (const char *text : {"", "MZ", "not a program at all", "MZ\x90"}) {
    std::vector<unsigned char> b(text, text + strlen(text));
    EXPECT_EQ(kvcheck::kNotPe, Read(b).kind) << text;
  }
  std::vector<unsigned char> noSignature = Image(dll);
  noSignature[0x41] = 'X';
  EXPECT_EQ(kvcheck::kNotPe, Read(noSignature).kind);
}

// A file cut short anywhere: never a read past its end (ASan), the names
// read are the first ones of the table, and fewer than all says so.
TEST(PeImports, EveryTruncationReadsAPrefixAndSaysItIsCut) {
  Layout dll;
  dll.names = kNames;
  const std::vector<unsigned char> whole = Image(dll);
  for (size_t n = 0; n < whole.size(); ++n) {
    std::vector<unsigned char> cut(whole.begin(), whole.begin() + n);  // a block of exactly n bytes
    const PeImage pe = Read(cut);
    ASSERT_LE(pe.imports.size(), kNames.size()) << n;
    EXPECT_TRUE(std::equal(pe.imports.begin(), pe.imports.end(), kNames.begin())) << n;
    if (pe.kind != kvcheck::kNotPe && pe.imports.size() < kNames.size()) EXPECT_FALSE(pe.complete) << n;
  }
}

}  // namespace
