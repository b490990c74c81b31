// kvdrm-check's reading of a PE file's kind and import table, on images
// laid out here byte by byte (one section holding the import descriptors
// and the names), whole, cut short at every length, with bad RVAs, and past
// the limits that keep the reading small.
#include <stdio.h>
#include <stdlib.h>
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
  uint32_t directoryCount = 16;  // NumberOfRvaAndSizes
  bool lastNameBeyondRaw = false;  // the last name lies in the file after the section's raw data
  std::vector<size_t> refs;  // the name of each descriptor; empty: one descriptor a name
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
  std::vector<size_t> refs = l.refs;
  if (refs.empty())
    for (size_t i = 0; i < l.names.size(); ++i) refs.push_back(i);
  const size_t descriptors = (refs.size() + 1) * 20;
  std::vector<uint32_t> nameAt;
  size_t rawSize = descriptors;
  size_t mappedRaw = 0;
  for (const std::string &n : l.names) {
    // The loader maps the last name as zeros: it lies a little past the
    // raw data, but within the section's virtual size.
    if (l.lastNameBeyondRaw && nameAt.size() + 1 == l.names.size()) mappedRaw = rawSize, rawSize += 8;
    nameAt.push_back(static_cast<uint32_t>(rawSize)), rawSize += n.size() + 1;
  }
  if (!l.lastNameBeyondRaw) mappedRaw = rawSize;
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
  Put32(b, dirs - 4, l.directoryCount);
  if (l.importTable) Put32(b, dirs + 8, kRva), Put32(b, dirs + 12, static_cast<uint32_t>(descriptors));
  const size_t section = optional + optionalSize;
  memcpy(&b[section], ".idata\0\0", 8);
  Put32(b, section + 8, static_cast<uint32_t>(rawSize));
  Put32(b, section + 12, kRva);
  Put32(b, section + 16, static_cast<uint32_t>(mappedRaw));
  Put32(b, section + 20, kRaw);
  for (size_t i = 0; i < refs.size(); ++i) {
    const bool last = i + 1 == refs.size();
    Put32(b, kRaw + i * 20 + 12, last && l.badNameRva ? l.badNameRva : kRva + nameAt[refs[i]]);
    Put32(b, kRaw + i * 20 + 16, last && l.lastThunkZero ? 0 : 0x3000);
  }
  for (size_t i = 0; i < l.names.size(); ++i) memcpy(&b[kRaw + nameAt[i]], l.names[i].c_str(), l.names[i].size() + 1);
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
    bool tooLarge = false;
  };
  Layout dll, dll64, program, bare, badName, thunkEnds, oneDirectory, beyondRaw;
  dll.names = dll64.names = program.names = badName.names = thunkEnds.names = oneDirectory.names =
      beyondRaw.names = kNames;
  dll64.pe32Plus = true, dll64.machine = kvcheck::kMachineAmd64;
  program.dll = false;
  bare.importTable = false;
  badName.badNameRva = 0x7000;
  thunkEnds.lastThunkZero = true;
  oneDirectory.directoryCount = 1;
  beyondRaw.lastNameBeyondRaw = true;
  // The limits: descriptors, and the bytes of the names kept (each name
  // counted once, however many descriptors point at it).
  const size_t maxDescriptors = kvcheck::kMaxImportDescriptors, maxBytes = kvcheck::kMaxImportNameBytes;
  Layout manyRefs, tooManyRefs, fullNames, overFull;
  manyRefs.names = tooManyRefs.names = {"KERNEL32.dll"};
  manyRefs.refs.assign(maxDescriptors, 0);
  tooManyRefs.refs.assign(maxDescriptors + 1, 0);
  const std::string half(maxBytes / 2, 'a'), other(maxBytes / 2, 'b');
  fullNames.names = {half, other};
  fullNames.refs = {0, 1, 0, 1};
  overFull.names = {half, other + "c"};
  const Row rows[] = {
      {"32-bit DLL", dll, kvcheck::kPe32, true, true, kNames},
      {"64-bit DLL", dll64, kvcheck::kPe32Plus, false, true, kNames},
      {"32-bit program", program, kvcheck::kPe32, false, true, kNames},
      {"no import table", bare, kvcheck::kPe32, true, true, {}},
      {"a name outside every section", badName, kvcheck::kPe32, true, false, {kNames[0], kNames[1]}},
      {"no first thunk ends the table", thunkEnds, kvcheck::kPe32, true, true, {kNames[0], kNames[1]}},
      {"fewer than two data directories: no import table", oneDirectory, kvcheck::kPe32, true, true, {}},
      {"a name past the section's raw data is not read from the file", beyondRaw, kvcheck::kPe32, true, false,
       {kNames[0], kNames[1]}},
      {"4,096 descriptors of one name", manyRefs, kvcheck::kPe32, true, true, {"KERNEL32.dll"}},
      {"4,097 descriptors", tooManyRefs, kvcheck::kPe32, true, false, {"KERNEL32.dll"}, true},
      {"names of 64 KB in all", fullNames, kvcheck::kPe32, true, true, {half, other}},
      {"names of 64 KB and a byte", overFull, kvcheck::kPe32, true, false, {half}, true},
  };
  for (const Row &r : rows) {
    SCOPED_TRACE(r.what);
    const PeImage pe = Read(Image(r.layout));
    EXPECT_EQ(r.kind, pe.kind);
    EXPECT_EQ(r.layout.machine, pe.machine);
    EXPECT_EQ(r.x86Dll, kvcheck::IsX86Dll(pe));
    EXPECT_EQ(r.complete, pe.complete);
    EXPECT_EQ(r.tooLarge, pe.tooLarge);
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

// The peak resident set of this process since the last reset, in KB.
long PeakKb() {
  FILE *f = fopen("/proc/self/status", "r");
  char line[256];
  long kb = -1;
  while (f && fgets(line, sizeof line, f))
    if (strncmp(line, "VmHWM:", 6) == 0) kb = atol(line + 6);
  if (f) fclose(f);
  return kb;
}

// 15,000 descriptors that all point at one name of 300 KB: read in full
// once per descriptor, that took memory of the square of the file's size.
// The peak is reset first (getrusage's ru_maxrss cannot be), so the growth
// measured is the reading's own.
TEST(PeImports, AHostileTableStaysSmall) {
  Layout hostile;
  hostile.names = {std::string(300000, 'x')};
  hostile.refs.assign(15000, 0);
  const std::vector<unsigned char> file = Image(hostile);
  FILE *reset = fopen("/proc/self/clear_refs", "w");
  ASSERT_NE(nullptr, reset);
  ASSERT_GT(fputs("5", reset), 0);
  ASSERT_EQ(0, fclose(reset));
  const long before = PeakKb();
  const PeImage pe = Read(file);
  const long grown = PeakKb() - before;
  ASSERT_GE(before, 0);
  EXPECT_LT(grown, 16 * 1024) << "KB";
  EXPECT_TRUE(pe.tooLarge);
  EXPECT_FALSE(pe.complete);
  EXPECT_TRUE(pe.imports.empty());
  printf("peak memory of the walk on a 15,000-descriptor table: %ld KB more\n", grown);
}

}  // namespace
