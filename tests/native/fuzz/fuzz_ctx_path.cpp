// The control-file directory cut: everything up to and including the last
// ':' or '\\' character, nothing when there is neither; '/' is no separator.
// In a double-byte code page a trail byte is never a separator, so the cut
// lands at the single-byte cut or before it. The same bytes as UTF-16 units
// cut where their projection on one byte a unit (every unit other than ':'
// and '\' made a letter) cuts.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "registry/dbcs.h"

namespace {
bool SingleByte(unsigned char) { return false; }
bool Cp932Lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const char *path = reinterpret_cast<const char *>(data);
  size_t cut = kvdrm::LastSeparator(path, size, SingleByte).end;
  if (cut > size) abort();
  if (cut > 0 && path[cut - 1] != ':' && path[cut - 1] != '\\') abort();
  if (memchr(path + cut, ':', size - cut) || memchr(path + cut, '\\', size - cut)) abort();

  // The cut never looks past the length it is given, NULs included: a
  // shorter prefix cuts to the same place or earlier.
  if (size > 0) {
    size_t shorter = kvdrm::LastSeparator(path, size - 1, SingleByte).end;
    if (shorter > cut) abort();
  }

  size_t wide = kvdrm::LastSeparator(path, size, Cp932Lead).end;
  if (wide > cut || (wide > 0 && path[wide - 1] != ':' && path[wide - 1] != '\\')) abort();
  // Without lead bytes the two agree.
  bool anyLead = false;
  for (size_t i = 0; i < size; ++i) anyLead |= Cp932Lead(data[i]);
  if (!anyLead && wide != cut) abort();
  if (kvdrm::HasBackslash(path, size, Cp932Lead) && !memchr(path, '\\', size)) abort();
  if (!anyLead && kvdrm::HasBackslash(path, size, Cp932Lead) != (memchr(path, '\\', size) != nullptr)) abort();

  const size_t units = size / 2;
  char16_t *utf16 = static_cast<char16_t *>(malloc(units * sizeof(char16_t) + 1));
  char *projected = static_cast<char *>(malloc(units + 1));
  if (!utf16 || !projected) abort();
  memcpy(utf16, data, units * sizeof(char16_t));
  for (size_t i = 0; i < units; ++i)
    projected[i] = utf16[i] == u':' ? ':' : utf16[i] == u'\\' ? '\\' : 'a';
  if (kvdrm::LastSeparatorW(utf16, units) != kvdrm::LastSeparator(projected, units, SingleByte).end) abort();
  free(utf16);
  free(projected);
  return 0;
}
