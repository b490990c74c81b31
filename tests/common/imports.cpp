#include "tests/common/imports.h"

namespace testlib {

std::vector<ImportCell> ImportCells(HMODULE module) {
  std::vector<ImportCell> cells;
  BYTE *base = reinterpret_cast<BYTE *>(module);
  auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
  auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY &dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!dir.VirtualAddress) return cells;

  for (auto *d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress); d->Name; ++d) {
    const char *dll = reinterpret_cast<const char *>(base + d->Name);
    // The lookup table keeps the names; the address table now holds
    // addresses. Without a lookup table the names are lost, not the cells.
    auto *names = d->OriginalFirstThunk ? reinterpret_cast<IMAGE_THUNK_DATA *>(base + d->OriginalFirstThunk) : nullptr;
    auto *slots = reinterpret_cast<IMAGE_THUNK_DATA *>(base + d->FirstThunk);
    for (; slots->u1.Function; ++slots) {
      std::string function = "?";
      if (names && IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
        function = "#" + std::to_string(IMAGE_ORDINAL(names->u1.Ordinal));
      } else if (names) {
        function = reinterpret_cast<const char *>(
            reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData)->Name);
      }
      if (names) ++names;
      cells.push_back(ImportCell{dll, function, reinterpret_cast<void **>(&slots->u1.Function)});
    }
  }
  return cells;
}

void *SwapImportCell(void **cell, void *value) {
  DWORD old;
  VirtualProtect(cell, sizeof(void *), PAGE_READWRITE, &old);
  void *was = *cell;
  *cell = value;
  VirtualProtect(cell, sizeof(void *), old, &old);
  return was;
}

ImportPatch::ImportPatch(HMODULE module, const char *dll, const char *function, void *replacement) {
  for (const ImportCell &c : ImportCells(module)) {
    if (lstrcmpiA(c.dll.c_str(), dll) != 0 || c.function != function) continue;
    cell_ = c.cell;
    original_ = SwapImportCell(cell_, replacement);
    return;
  }
}

ImportPatch::~ImportPatch() {
  if (cell_) SwapImportCell(cell_, original_);
}

}  // namespace testlib
