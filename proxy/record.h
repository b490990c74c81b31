// The session record: the block whose address is a session handle. Its
// layout is shared with OdbcDrm.dll, which writes slots 1 and 2 during its
// begin-session, so every offset here is binding.
#pragma once
#include <stdint.h>

#include "proxy/status.h"

namespace kvdrm {

constexpr uint32_t kRecordMarker = 0xFF000001u;
constexpr int kManagerEntries = 48;

// Stored untyped; each caller casts to the arity the export table gives.
typedef void (*ManagerEntry)(void);

struct SessionRecord {
  uint32_t marker;          // slot 0: written by us for the manager
  uint32_t ack;             // slot 1: the manager's acknowledgement
  uint32_t managerSession;  // slot 2: first argument of every manager call
  void *module;             // slot 3: OdbcDrm.dll, or 0 when it did not load
  ManagerEntry entry[kManagerEntries];  // slots 4..51: entry[n-1] = ordinal n
};

static_assert(sizeof(SessionRecord) == 208, "the record is 52 slots of 32 bits");
static_assert(__builtin_offsetof(SessionRecord, managerSession) == 8, "slot 2");
static_assert(__builtin_offsetof(SessionRecord, module) == 12, "slot 3");
static_assert(__builtin_offsetof(SessionRecord, entry) == 16, "slot 4");

}  // namespace kvdrm
