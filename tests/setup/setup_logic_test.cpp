// The pure rules of data source setup: attribute list parsing, request
// codes, filling absent attributes, and the storage decision.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include "setup/attribute_list.h"
#include "setup/storage_plan.h"
#include "tests/common/attribute_list_text.h"

using namespace kvdrm;
using testlib::AttributeList;

namespace {

bool SingleByte(unsigned char) { return false; }
// The lead bytes of code page 932.
bool Cp932Lead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }


TEST(ClassifyRequest, OnlyTheLow16BitsCountAndOnly1And3AreToldApart) {
  const RequestKind add = kRequestAdd, remove = kRequestRemove, configure = kRequestConfigure;
  const struct {
    uint32_t request;
    RequestKind kind;
  } cases[] = {{1, add},       {0x10001, add},       {3, remove},       {0x10003, remove},
               {0, configure}, {2, configure},       {4, configure},    {5, configure},
               {6, configure}, {7, configure},       {0x10000, configure}, {0xFFFF0002u, configure}};
  for (const auto &c : cases) EXPECT_EQ(c.kind, ClassifyRequest(c.request)) << std::hex << c.request;
  // Only system data sources live under HKEY_LOCAL_MACHINE.
  const int roots[] = {0, 0, 1, 0};  // modes both, user, system, 3
  for (uint16_t mode = 0; mode < 4; ++mode) EXPECT_EQ(roots[mode], RootIndexForMode(mode)) << mode;
}

// nullptr in an expectation: the key must not count as supplied. A null
// list is an empty one.
TEST(ParseAttributeList, Table) {
  const char *const n = nullptr;
  const struct {
    const char *what;
    std::string list;
    const char *expect[kAttributeCount + 1];
  } cases[] = {
      {"null list", "<null>", {n, n, n, n, n}},
      {"empty list", std::string(1, '\0'), {n, n, n, n, n}},
      {"all four", AttributeList({"DSN=A", "Description=B", "DBQ=C:\\D", "CTX=C:\\D\\E.CTX"}),
       {n, "A", "B", "C:\\D", "C:\\D\\E.CTX"}},
      {"keys are case-sensitive", AttributeList({"dsn=X", "description=X", "Dbq=Y", "ctx=Z"}), {n, n, n, n, n}},
      {"later pair wins", AttributeList({"DSN=X", "DSN=Y"}), {n, "Y", n, n, n}},
      {"split at the first equals", AttributeList({"DSN=a=b"}), {n, "a=b", n, n, n}},
      {"empty value is supplied", AttributeList({"Description="}), {n, n, "", n, n}},
      // A pair without '=' names nothing, does not end the list, and does
      // not undo an earlier pair of its key.
      {"bare words ignored", AttributeList({"DSN", "DBQ=D", "DBQ"}), {n, n, n, "D", n}},
      {"whole key must match", AttributeList({"DSNX=1", "DS=2", "CTX2=3", "=4", "DSX=5", "DBR=6", "CTY=7",
                                              "Descriptiom=8"}),
       {n, n, n, n, n}},
      {"no trimming", AttributeList({"DSN= a ", "DBQ =x"}), {n, " a ", n, n, n}},
      {"unknown keys skipped", AttributeList({"UID=u", "DSN=N", "PWD=p"}), {n, "N", n, n, n}},
      {"list ends at the first empty text", std::string("DSN=A\0\0DBQ=B\0\0", 14), {n, "A", n, n, n}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    ParsedAttributes p;
    p.values[1] = "left over";
    ParseAttributeList(c.list == "<null>" ? nullptr : c.list.data(), p);
    for (int i = 1; i <= kAttributeCount; ++i) {
      EXPECT_EQ(c.expect[i] != nullptr, p.values[i] != nullptr) << kAttributeKeys[i];
      EXPECT_STREQ(c.expect[i], p.values[i]) << kAttributeKeys[i];
    }
  }
}

// The profile: "<section>/<entry>", but DBQ is missing (an empty answer).
void FakeProfile(const char *section, const char *entry, char (&out)[256]) {
  snprintf(out, sizeof out, "%s/%s", section, entry);
  if (strcmp(entry, "DBQ") == 0) out[0] = '\0';
}

TEST(FillAbsent, DefaultsForAddProfileOtherwise) {
  const struct {
    const char *what;
    bool add;
    bool supplied[kAttributeCount + 1];
    const char *expect[kAttributeCount + 1];
  } cases[] = {
      {"add, nothing supplied", true, {false, false, false, false, false},
       {"", "keep", "Kolvar Muster Firmendaten", "C:\\KOLVAR\\MUSTER", "C:\\KOLVAR\\KOLVARD.CTX"}},
      {"add, description supplied", true, {false, true, true, false, false},
       {"", "keep", "given", "C:\\KOLVAR\\MUSTER", "C:\\KOLVAR\\KOLVARD.CTX"}},
      {"configure, nothing supplied", false, {false, false, false, false, false},
       {"", "keep", "Sec/Description", "", "Sec/CTX"}},
      {"configure, CTX supplied empty", false, {false, true, false, false, true},
       {"", "keep", "Sec/Description", "", ""}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    const char *const start[kAttributeCount + 1] = {"", "keep", "given", "was", ""};
    Text values[kAttributeCount + 1] = {};
    ParsedAttributes parsed = {};
    for (int i = 1; i <= kAttributeCount; ++i) {
      ASSERT_TRUE(TextSetZ(values[i], start[i]));
      if (c.supplied[i]) parsed.values[i] = start[i];
    }
    EXPECT_TRUE(FillAbsent(c.add, parsed, "Sec", values, FakeProfile));
    for (int i = 1; i <= kAttributeCount; ++i) {
      EXPECT_STREQ(c.expect[i], TextStr(values[i])) << kAttributeKeys[i];
      EXPECT_EQ(strlen(c.expect[i]), values[i].length) << kAttributeKeys[i];
      TextFree(values[i]);
    }
  }
}

TEST(IsStorableName, BackslashesAndTheInstallersSectionsAreRefused) {
  const struct {
    const char *name;
    bool ok;
    bool cp932 = false;
  } cases[] = {
      {"Sales", true},           {"a b", true},           {"a=b", true},
      {"[x]", true},             {"a\\b", false},         {"\\", false},
      {"..\\..\\x", false},      {"a/b", true},           {"ODBC Data Sources", false},
      {"odbc data sources", false}, {"ODBC DATA SOURCES", false}, {"ODBC Data Source", true},
      {"ODBC Data Sources2", true}, {" ODBC Data Sources", true}, {"ODBC File DSN", false},
      {"odbc file dsn", false},  {"ODBC File DSNs", true},
      // Code page 932: "\x83\x5C" is one character; its trail byte is no '\\'.
      {"Kv\x83\x5C", true, true},  {"Kv\x83\x5C", false, false}, {"Kv\x83\x5C\\x", false, true},
      {"Kv\\\x83", false, true},  // a lead byte at the end stands alone
      {"ODBC File DS\x83N", true, true},
  };
  for (const auto &c : cases) EXPECT_EQ(c.ok, IsStorableName(c.name, c.cp932 ? Cp932Lead : SingleByte)) << c.name;
}

// Names that the file system would refuse, change, or take for a device or
// a stream of another file have no file data source.
TEST(IsFileName, Table) {
  const struct {
    const char *name;
    bool ok;
    bool cp932 = false;
  } cases[] = {
      {"Sales", true},   {"a b", true},      {"a=b", true},      {"[x]", true},     {"a.b", true},
      {"a/b", false},    {"a:b", false},     {"C:", false},      {"a*", false},     {"a?", false},
      {"a\"b", false},  {"a<b", false},     {"a>b", false},     {"a|b", false},    {"a\tb", false},
      {"a.", false},     {"a ", false},      {"", false},        {"CON", false},    {"con", false},
      {"Nul.txt", false}, {"aux.a.b", false}, {"PRN ", false},   {"prn .x", false}, {"COM1", false},
      {"lpt9.dsn", false}, {"COM0", true},   {"LPT10", true},    {"CONX", true},    {"CO", true},
      {"xCON", true},    {"NUL_", true},     {"COMa", true},
      // Code page 932: a trail byte 0x7C is part of its character, no '|'.
      {"Kv\x83\x7C", true, true}, {"Kv\x83\x7C", false, false}, {"Kv\x83\x7C|", false, true},
  };
  for (const auto &c : cases) EXPECT_EQ(c.ok, IsFileName(c.name, c.cp932 ? Cp932Lead : SingleByte)) << c.name;
}

TEST(PlanStorage, Table) {
  const int none = 0, bad = kErrorInvalidName;
  const struct {
    const char *what;
    uint32_t request;
    const char *initial, *name;
    bool dialog;
    bool act;
    int error;
    bool remove, write;
  } cases[] = {
      {"add", 1, "A", "A", false, true, none, false, true},
      {"add, no name", 1, "", "", false, false, bad, false, false},
      {"remove, no name", 3, "", "", false, false, bad, false, false},
      {"add, dialog cancelled", 1, "A", "", true, false, none, false, false},
      {"configure, dialog cancelled", 5, "A", "", true, false, none, false, false},
      {"add renamed in the dialog removes nothing", 1, "A", "B", true, true, none, false, true},
      {"configure keeps its name", 2, "A", "A", false, true, none, false, true},
      {"configure renamed", 2, "A", "B", true, true, none, true, true},
      {"rename is case-sensitive", 2, "A", "a", true, true, none, true, true},
      {"configure without initial name", 2, "", "B", true, true, none, false, true},
      {"remove", 3, "A", "A", false, true, none, true, false},
      {"code 4 configures, renamed", 4, "A", "B", true, true, none, true, true},
      {"add a\\b", 1, "a\\b", "a\\b", false, false, bad, false, false},
      {"add a/b", 1, "a/b", "a/b", false, true, none, false, true},
      {"rename to a/b", 2, "a", "a/b", true, true, none, true, true},
      {"remove ..\\x", 3, "..\\x", "..\\x", false, false, bad, false, false},
      {"rename away from a\\b", 2, "a\\b", "ok", true, false, bad, false, false},
      {"rename to a\\b", 2, "ok", "a\\b", true, false, bad, false, false},
      {"add over a bad listed name", 1, "a\\b", "ok", true, true, none, false, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    StoragePlan p = PlanStorage(c.request, c.initial, c.name, c.dialog, SingleByte);
    EXPECT_EQ(c.act, p.act);
    EXPECT_EQ(c.error, p.error);
    EXPECT_EQ(c.remove, p.removeInitial);
    EXPECT_EQ(c.write, p.write);
    if (c.error) {
      EXPECT_STRNE("", p.message);
    }
  }
}

// Which views a request changes: a write goes where the driver is
// registered, a removal everywhere; HKEY_CURRENT_USER is one key.
TEST(PlanTargets, Table) {
  StoragePlan write = PlanStorage(1, "A", "A", false, SingleByte);
  StoragePlan remove = PlanStorage(3, "A", "A", false, SingleByte);
  StoragePlan rename = PlanStorage(2, "A", "B", true, SingleByte);
  StoragePlan refused = PlanStorage(1, "a\\b", "a\\b", false, SingleByte);
  ASSERT_TRUE(rename.act && rename.removeInitial && rename.write);
  const uint32_t v64 = 0x0100;
  const struct {
    const char *what;
    const StoragePlan *plan;
    int root;
    bool d32, d64;
    const char *expect;  // per target: view ("d" default, "6" 64-bit), then r and/or w
  } cases[] = {
      {"user, driver in both views", &write, 0, true, true, "dw"},
      {"user, driver in the 64-bit view", &write, 0, false, true, "dw"},
      {"user, driver nowhere", &write, 0, false, false, ""},
      {"system, driver in both", &write, 1, true, true, "dw 6w"},
      {"system, driver in the default view", &write, 1, true, false, "dw"},
      {"system, driver in the 64-bit view", &write, 1, false, true, "6w"},
      {"system remove, driver nowhere", &remove, 1, false, false, "dr 6r"},
      {"user remove", &remove, 0, false, true, "dr"},
      {"system rename, driver in one view", &rename, 1, false, true, "6rw"},
      {"user rename", &rename, 0, true, false, "drw"},
      {"refused", &refused, 1, true, true, ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    StorageTarget t[2];
    const bool found[2] = {c.d32, c.d64};
    int n = PlanTargets(*c.plan, c.root, found, t);
    std::string got;
    for (int i = 0; i < n; ++i) {
      if (i) got += ' ';
      got += t[i].view == v64 ? '6' : t[i].view == 0 ? 'd' : '?';
      if (t[i].remove) got += 'r';
      if (t[i].write) got += 'w';
    }
    EXPECT_EQ(c.expect, got);
  }
}

}  // namespace
