// The export table of the loaded KVDRM.dll, read from its own PE export
// directory and through GetProcAddress, against the interface's rows.
#include <gtest/gtest.h>
#include <string.h>

#include <map>
#include <string>

#include "tests/common/testlib.h"
#include "tests/proxy/export_rows.h"

using namespace testlib;
using namespace proxytest;

namespace {

const ExportRow *RowOfOrdinal(int ordinal) {
  for (const ExportRow &r : kExportRows)
    if (r.ordinal == ordinal) return &r;
  return nullptr;
}

TEST(ExportTable, LoadedModuleExportsExactlyTheTable) {
  HMODULE m = Kvdrm();
  ASSERT_NE(nullptr, m);
  const BYTE *base = reinterpret_cast<const BYTE *>(m);
  const IMAGE_DOS_HEADER *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
  const IMAGE_NT_HEADERS32 *nt = reinterpret_cast<const IMAGE_NT_HEADERS32 *>(base + dos->e_lfanew);
  ASSERT_EQ(IMAGE_NT_SIGNATURE, nt->Signature);
  EXPECT_EQ(IMAGE_FILE_MACHINE_I386, nt->FileHeader.Machine);
  const IMAGE_DATA_DIRECTORY &dd = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  ASSERT_NE(0u, dd.VirtualAddress);
  const IMAGE_EXPORT_DIRECTORY *ed = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY *>(base + dd.VirtualAddress);
  EXPECT_STRCASEEQ("KVDRM.dll", reinterpret_cast<const char *>(base + ed->Name));
  ASSERT_EQ(1u, ed->Base);
  ASSERT_EQ(96u, ed->NumberOfFunctions);
  ASSERT_EQ(53u, ed->NumberOfNames);

  const DWORD *functions = reinterpret_cast<const DWORD *>(base + ed->AddressOfFunctions);
  const DWORD *names = reinterpret_cast<const DWORD *>(base + ed->AddressOfNames);
  const WORD *nameOrdinals = reinterpret_cast<const WORD *>(base + ed->AddressOfNameOrdinals);
  std::map<std::string, int> exported;
  for (DWORD i = 0; i < ed->NumberOfNames; ++i)
    exported[reinterpret_cast<const char *>(base + names[i])] = nameOrdinals[i] + ed->Base;
  std::map<std::string, int> expected;
  for (const ExportRow &r : kExportRows) expected[r.name] = r.ordinal;
  EXPECT_EQ(expected, exported) << "names and their ordinals in the export directory";

  for (int o = 1; o <= 96; ++o) {
    const ExportRow *r = RowOfOrdinal(o);
    FARPROC byOrdinal = GetProcAddress(m, MAKEINTRESOURCEA(o));
    EXPECT_EQ(r != nullptr, functions[o - 1] != 0) << "address table, ordinal " << o;
    if (!r) {
      EXPECT_EQ(nullptr, byOrdinal) << "unassigned ordinal " << o;
      continue;
    }
    FARPROC byName = GetProcAddress(m, r->name);
    EXPECT_NE(nullptr, byName) << r->name;
    EXPECT_EQ(byName, byOrdinal) << r->name;
  }
  EXPECT_EQ(nullptr, GetProcAddress(m, MAKEINTRESOURCEA(97)));
  // Decorated spellings are not exported.
  EXPECT_EQ(nullptr, GetProcAddress(m, "DrmMove@12"));
  EXPECT_EQ(nullptr, GetProcAddress(m, "_DrmMove@12"));
}

}  // namespace
