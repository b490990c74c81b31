// A module's import address table, found by name through its import
// directory: tests point one import of KVDRM.dll at a stand-in, and the
// benchmarks count every platform call the DLL makes.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace testlib {

struct ImportCell {
  std::string dll;       // as the import directory names it
  std::string function;  // "#<ordinal>" for an import by ordinal
  void **cell;           // the address table entry the loader filled in
};

// Every import of `module`, in the order of its import directory.
std::vector<ImportCell> ImportCells(HMODULE module);

// Writes `value` into an address table entry and returns what it held.
void *SwapImportCell(void **cell, void *value);

// Points `module`'s import dll!function (the DLL name in any letter case)
// at `replacement` while it lives. ok() is false when the module does not
// import the function by that name; the table is then left alone.
class ImportPatch {
 public:
  ImportPatch(HMODULE module, const char *dll, const char *function, void *replacement);
  ~ImportPatch();
  ImportPatch(const ImportPatch &) = delete;
  ImportPatch &operator=(const ImportPatch &) = delete;
  bool ok() const { return cell_ != nullptr; }
  void *original() const { return original_; }

 private:
  void **cell_ = nullptr;
  void *original_ = nullptr;
};

}  // namespace testlib
