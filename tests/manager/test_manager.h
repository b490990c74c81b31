// What a test manager (tests/manager) shows to the tests: a log of every
// call it received and knobs for its answers. The proxy never sees this;
// tests reach it through TestManagerState, exported by name.
#pragma once
#include <windows.h>
#include <stdint.h>

namespace testmgr {

constexpr int kLogSize = 1024;

struct Call {
  int32_t ordinal;
  int32_t count;        // values received
  uint32_t args[9];
};

enum ResultMode : int32_t {
  kFixedResults = 0,    // ordinal n returns results[n]
  kEchoSession = 1,     // every entry returns the manager handle it received
};

struct State {
  char path[MAX_PATH];          // this copy's own file
  uint32_t nextSession;         // manager handle the next begin-session writes
                                // into slot 2; 0: a fresh value per session
  int32_t mode;                 // ResultMode
  int32_t results[49];          // by ordinal, for kFixedResults
  volatile LONG begins, ends, calls;
  volatile LONG sessionCounter;
  Call log[kLogSize];           // calls[i % kLogSize]
  // Filled during begin-session: what the record looked like on entry.
  uint32_t beginHandleVar;      // *arg1
  uint32_t beginSlot0;          // record marker seen by the manager
  uint32_t ackValue;            // what begin-session writes into slot 1; 0: the marker
};

typedef State *(__stdcall *StateFn)();

}  // namespace testmgr
