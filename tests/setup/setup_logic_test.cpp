// The pure rules of data source setup: attribute list parsing, request
// codes, filling absent attributes, and the storage decision.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include "setup/attribute_list.h"
#include "setup/storage_plan.h"
#include "tests/common/registry_upper.h"
#include "tests/common/attribute_list_text.h"
#include "tests/common/testlib.h"

using namespace kvdrm;
using testlib::AttributeList;
using testlib::U16;
using testlib::Utf8;

namespace {

constexpr auto Upper = testmodel::RegistryUpper;
// Code page 1252 in brief: Latin-1 and the euro sign.
bool Fits1252(const WChar *name) {
  for (; *name; ++name)
    if (*name > 0xFF && *name != u'\u20AC') return false;
  return true;
}
const NameRules kRules = {Upper, Fits1252};


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
      {"any script, '=' in a value", AttributeList({"DSN=\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82",
                                                     "CTX=C:\\\xE8\xA1\xA8\\a=b.CTX"}),
       {n, "\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82", n, n, "C:\\\xE8\xA1\xA8\\a=b.CTX"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    ParsedAttributes p;
    p.values[1] = u"left over";
    std::u16string list = U16(c.list);
    ParseAttributeList(c.list == "<null>" ? nullptr : list.c_str(), p);
    for (int i = 1; i <= kAttributeCount; ++i) {
      EXPECT_EQ(c.expect[i] != nullptr, p.values[i] != nullptr) << i;
      if (c.expect[i] && p.values[i]) {
        EXPECT_EQ(c.expect[i], Utf8(p.values[i])) << i;
      }
    }
  }
}

// The profile: "<section>/<entry>", but DBQ is missing (an empty answer).
void FakeProfile(const WChar *section, const WChar *entry, WChar (&out)[256]) {
  std::u16string text = std::u16string(section) + u"/" + entry;
  if (text.size() > 255) text.resize(255);
  memcpy(out, text.c_str(), (text.size() + 1) * sizeof(WChar));
  if (std::u16string(entry) == u"DBQ") out[0] = 0;
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
    WText values[kAttributeCount + 1] = {};
    ParsedAttributes parsed = {};
    std::u16string wide[kAttributeCount + 1];
    for (int i = 1; i <= kAttributeCount; ++i) {
      wide[i] = U16(start[i]);
      ASSERT_TRUE(WTextSetZ(values[i], wide[i].c_str()));
      if (c.supplied[i]) parsed.values[i] = wide[i].c_str();
    }
    EXPECT_TRUE(FillAbsent(c.add, parsed, u"Sec", values, FakeProfile));
    for (int i = 1; i <= kAttributeCount; ++i) {
      EXPECT_EQ(c.expect[i], Utf8(WTextStr(values[i]))) << i;
      EXPECT_EQ(WLength(WTextStr(values[i])), values[i].length) << i;
      WTextFree(values[i]);
    }
  }
}

TEST(IsStorableName, BackslashesAndTheInstallersSectionsAreRefused) {
  const struct {
    const char *name;
    bool ok;
  } cases[] = {
      {"Sales", true},           {"a b", true},           {"a=b", true},
      {"[x]", true},             {"a\\b", false},         {"\\", false},
      {"..\\..\\x", false},      {"a/b", true},           {"ODBC Data Sources", false},
      {"odbc data sources", false}, {"ODBC DATA SOURCES", false}, {"ODBC Data Source", true},
      {"ODBC Data Sources2", true}, {" ODBC Data Sources", true}, {"ODBC File DSN", false},
      {"odbc file dsn", false},  {"ODBC File DSNs", true},
      // U+8868, whose code page 932 form ends in 0x5C, is no backslash.
      {"Kv\xE8\xA1\xA8", true}, {"Kv\xE8\xA1\xA8\\x", false},
      // Letters whose upper case is ASCII name the same key; fullwidth ones do not.
      {"ODBC Data \xC5\xBFources", false}, {"odbc f\xC4\xB1le dsn", false},
      {"\xEF\xBC\xAF\xEF\xBC\xA4\xEF\xBC\xA2\xEF\xBC\xA3 File DSN", true},
  };
  for (const auto &c : cases) EXPECT_EQ(c.ok, IsStorableName(U16(c.name).c_str(), Upper)) << c.name;
}

// Names that the file system would refuse, change, or take for a device or
// a stream of another file have no file data source.
TEST(IsFileName, Table) {
  const struct {
    const char *name;
    bool ok;
  } cases[] = {
      {"Sales", true},   {"a b", true},      {"a=b", true},      {"[x]", true},     {"a.b", true},
      {"a/b", false},    {"a:b", false},     {"C:", false},      {"a*", false},     {"a?", false},
      {"a\"b", false},  {"a<b", false},     {"a>b", false},     {"a|b", false},    {"a\tb", false},
      {"a.", false},     {"a ", false},      {"", false},        {"CON", false},    {"con", false},
      {"Nul.txt", false}, {"aux.a.b", false}, {"PRN ", false},   {"prn .x", false}, {"COM1", false},
      {"lpt9.dsn", false}, {"COM0", true},   {"LPT10", true},    {"CONX", true},    {"CO", true},
      {"xCON", true},    {"NUL_", true},     {"COMa", true},
      // Other scripts are file names like any; the superscript digits one
      // to three are device digits, four is not.
      {"\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82", true}, {"Kv\xE8\xA1\xA8", true},
      {"COM\xC2\xB9", false}, {"lpt\xC2\xB3.dsn", false}, {"COM\xC2\xB2 ", false}, {"COM\xE2\x81\xB4", true},
  };
  for (const auto &c : cases) EXPECT_EQ(c.ok, IsFileName(U16(c.name).c_str())) << c.name;
  // Every control character, the last one too.
  for (char16_t c = 1; c < 32; ++c) {
    const char16_t name[] = {u'a', c, u'b', 0};
    EXPECT_FALSE(IsFileName(name)) << int(c);
  }
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
      // Names differ in their last character too.
      {"rename to a name one character longer", 2, "Sales", "Sales1", true, true, none, true, true},
      {"rename differing in the last character", 2, "Sales1", "Sales2", true, true, none, true, true},
      // A name being written must be one sessions can name in the ANSI code
      // page; an old one need not.
      {"add a name the code page cannot hold", 1, "\xD0\x9E\xD1\x82", "\xD0\x9E\xD1\x82", false, false, bad,
       false, false},
      {"add a Latin-1 name", 1, "Caf\xC3\xA9", "Caf\xC3\xA9", false, true, none, false, true},
      {"rename away from such a name", 2, "\xD0\x9E\xD1\x82", "ok", true, true, none, true, true},
      {"remove such a name", 3, "\xD0\x9E\xD1\x82", "\xD0\x9E\xD1\x82", false, true, none, true, false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    StoragePlan p = PlanStorage(c.request, U16(c.initial).c_str(), U16(c.name).c_str(), c.dialog, kRules);
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
  StoragePlan write = PlanStorage(1, u"A", u"A", false, kRules);
  StoragePlan remove = PlanStorage(3, u"A", u"A", false, kRules);
  StoragePlan rename = PlanStorage(2, u"A", u"B", true, kRules);
  StoragePlan refused = PlanStorage(1, u"a\\b", u"a\\b", false, kRules);
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
