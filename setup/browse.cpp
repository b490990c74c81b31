// The Open dialog behind the two Browse buttons.
#include "setup/browse.h"

#include <commdlg.h>
#include <stddef.h>
#include <string.h>

#include <string>

#include "registry/registry.h"
#include "setup/dialog_fields.h"
#include "setup/trim_path.h"

namespace kvdrm {

namespace {

constexpr DWORD kPathBuffer = 257;

// Pairs of description and pattern, each NUL-terminated; the literal's own
// NUL ends the list.
const char kDirectoryFilter[] = "Control File (-control.dat)\0-control.dat\0All Files (*.*)\0*.*\0";
const char kControlFileFilter[] = "CTX Files (*.ctx)\0*.ctx\0All Files (*.*)\0*.*\0";

// The record without its later members (pvReserved, dwReserved, FlagsEx):
// the 76-byte form.
constexpr DWORD kRecordSize = offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR);
static_assert(kRecordSize == 76, "the 76-byte Open dialog record");

void CopyBounded(char (&to)[kPathBuffer], const char *from) {
  strncpy(to, from, kPathBuffer - 1);
  to[kPathBuffer - 1] = '\0';
}

}  // namespace

void BrowseForFile(HWND dialog, int field) {
  if (field != 3 && field != 4) return;
  const bool controlFile = field == 4;

  OPENFILENAMEA record;
  memset(&record, 0, sizeof record);
  char file[kPathBuffer] = {};
  char startDir[kPathBuffer] = {};

  record.lStructSize = kRecordSize;
  record.hwndOwner = dialog;
  record.lpstrFilter = controlFile ? kControlFileFilter : kDirectoryFilter;

  std::string text;
  if (controlFile) {
    GetFieldText(dialog, field, text);
    CopyBounded(file, BareFileName(text.c_str(), AcpLeadByte));
  }
  record.lpstrFile = file;
  record.nMaxFile = kPathBuffer;

  GetFieldText(dialog, field, text);
  CopyBounded(startDir, text.c_str());
  if (controlFile) TrimToDirectory(startDir, AcpLeadByte);
  record.lpstrInitialDir = startDir;

  record.lpstrTitle = kSetupTitle;
  record.Flags = OFN_HIDEREADONLY;
  if (controlFile) record.lpstrDefExt = "ctx";

  if (!GetOpenFileNameA(&record)) return;
  if (!controlFile) TrimToDirectory(file, AcpLeadByte);
  SetDlgItemTextA(dialog, FieldId(field), file);
}

}  // namespace kvdrm
