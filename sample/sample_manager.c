/* A sample data resource manager: a minimal OdbcDrm.dll that meets the
 * contract KVDRM.dll requires, answers every operation with 0 and writes one
 * line per call to a trace file. Built from kvdrm.h alone; a starting point
 * for a real manager and a tracing tool for driver authors.
 *
 * The trace goes to the file named by the environment variable KVDRM_TRACE,
 * or else to OdbcDrm.trace beside this DLL. One line per call:
 *
 *   #33 DrmOpenDatabase(0x00A21F40, 0x00000011, 0x00000012, 0x00000013) -> 0
 *
 * ordinal, operation, the values received in order (the first is the
 * manager's own session handle, except for ordinal 1), and the status
 * returned. Ordinal 1 adds what it found and wrote in the session record. */
#define KVDRM_NO_DLLIMPORT
#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "kvdrm.h"

/* What this manager's session handle points at. */
typedef struct SampleSession {
  uint32_t magic;
  uint32_t number;
} SampleSession;

#define SAMPLE_MAGIC 0x53414D50u /* "SAMP" */

static char g_tracePath[MAX_PATH];
static volatile LONG g_sessions;

static void TraceLine(const char *line) {
  HANDLE f = CreateFileA(g_tracePath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, NULL);
  DWORD written;
  if (f == INVALID_HANDLE_VALUE) return;
  WriteFile(f, line, (DWORD)strlen(line), &written, NULL);
  CloseHandle(f);
}

/* Appends "text" to buf[0..size) at *used, always NUL-terminated. */
static void Append(char *buf, size_t size, size_t *used, const char *text) {
  size_t n = strlen(text);
  if (*used + n >= size) n = size - 1 - *used;
  memcpy(buf + *used, text, n);
  *used += n;
  buf[*used] = 0;
}

/* The session handle of a new session: a block of our own. */
static uint32_t NewSession(void) {
  SampleSession *s = (SampleSession *)HeapAlloc(GetProcessHeap(), 0, sizeof *s);
  if (!s) return 0;
  s->magic = SAMPLE_MAGIC;
  s->number = (uint32_t)InterlockedIncrement(&g_sessions);
  return (uint32_t)(uintptr_t)s;
}

static int32_t Call(int ordinal, const char *name, int count, const KvdrmArg *v) {
  char line[640], item[160];
  size_t used = 0;
  int32_t status = 0;
  int i;

  snprintf(item, sizeof item, "#%d %s(", ordinal, name);
  Append(line, sizeof line, &used, item);
  for (i = 0; i < count; ++i) {
    snprintf(item, sizeof item, "%s0x%08lX", i ? ", " : "", (unsigned long)v[i]);
    Append(line, sizeof line, &used, item);
  }
  Append(line, sizeof line, &used, ")");

  if (ordinal == KVDRM_MGR_DrmBeginSession) {
    /* v[0] is the driver's handle variable; it already holds the address of
     * KVDRM.dll's session record. Acknowledge in slot 1, our handle in
     * slot 2, nothing else. */
    KvdrmSession *handle = (KvdrmSession *)(uintptr_t)v[0];
    uint32_t *record = (uint32_t *)(uintptr_t)*handle;
    const char *dataSource = (const char *)(uintptr_t)v[3];
    uint32_t mine = NewSession();
    snprintf(item, sizeof item, " dataSource=\"%.64s\" record=0x%08lX slot0=0x%08lX", dataSource ? dataSource : "",
             (unsigned long)*handle, (unsigned long)record[KVDRM_SLOT_MARKER]);
    Append(line, sizeof line, &used, item);
    record[KVDRM_SLOT_MANAGER_SESSION] = mine;
    record[KVDRM_SLOT_ACK] = KVDRM_RECORD_MARKER;
    snprintf(item, sizeof item, " wrote slot2=0x%08lX slot1=0x%08lX", (unsigned long)mine,
             (unsigned long)KVDRM_RECORD_MARKER);
    Append(line, sizeof line, &used, item);
  } else if (ordinal == KVDRM_MGR_DrmEndSession) {
    SampleSession *s = (SampleSession *)(uintptr_t)v[0];
    if (s && s->magic == SAMPLE_MAGIC) {
      s->magic = 0;
      HeapFree(GetProcessHeap(), 0, s);
    }
  }

  snprintf(item, sizeof item, " -> %ld\r\n", (long)status);
  Append(line, sizeof line, &used, item);
  TraceLine(line);
  return status;
}

/* Parameter lists and value lists by count. */
#define SP_1 KvdrmArg a1
#define SP_2 SP_1, KvdrmArg a2
#define SP_3 SP_2, KvdrmArg a3
#define SP_4 SP_3, KvdrmArg a4
#define SP_5 SP_4, KvdrmArg a5
#define SP_6 SP_5, KvdrmArg a6
#define SP_7 SP_6, KvdrmArg a7
#define SP_8 SP_7, KvdrmArg a8
#define SP_9 SP_8, KvdrmArg a9
#define SV_1 a1
#define SV_2 SV_1, a2
#define SV_3 SV_2, a3
#define SV_4 SV_3, a4
#define SV_5 SV_4, a5
#define SV_6 SV_5, a6
#define SV_7 SV_6, a7
#define SV_8 SV_7, a8
#define SV_9 SV_8, a9

/* One stdcall entry per manager ordinal, of exactly the arity KVDRM.dll
 * passes; OdbcDrm.def exports each by ordinal only. */
#define SAMPLE_ENTRY(ordinal, name, count)                  \
  int32_t __stdcall Sample##name(SP_##count);               \
  int32_t __stdcall Sample##name(SP_##count) {              \
    const KvdrmArg v[] = {SV_##count};                      \
    return Call(ordinal, #name, count, v);                  \
  }
KVDRM_MANAGER_TABLE(SAMPLE_ENTRY)

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    DWORD n = GetEnvironmentVariableA("KVDRM_TRACE", g_tracePath, sizeof g_tracePath);
    if (n == 0 || n >= sizeof g_tracePath) {
      /* Beside this DLL: ...\OdbcDrm.dll becomes ...\OdbcDrm.trace. */
      char *dot;
      n = GetModuleFileNameA(instance, g_tracePath, sizeof g_tracePath - 8);
      if (n == 0 || n >= sizeof g_tracePath - 8) g_tracePath[0] = 0;
      dot = strrchr(g_tracePath, '.');
      if (dot) strcpy(dot, ".trace");
    }
  }
  return TRUE;
}
