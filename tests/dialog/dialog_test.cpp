// The setup dialog on a real window: ConfigDSN runs on the test's thread
// with a host window as parent while a second thread reads the dialog,
// types, clicks and answers its message boxes and Open dialogs.
#include <windows.h>
#include <commdlg.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/common/testlib.h"
#include "tests/common/dialog_driver.h"
#include "tests/common/attribute_list_text.h"

using namespace dlgtest;
using testlib::UniqueName;
using testlib::AttributeList;

namespace {

constexpr int kName = 17, kDescription = 18, kDirectory = 19, kControlFile = 20;
constexpr int kBrowseDirectory = 101, kBrowseControlFile = 102;
constexpr WORD kAdd = 1, kConfigure = 2;
constexpr BOOL kTrue = -1;  // ConfigDSN answers TRUE with all bits set

const char kDuplicateText[] = "Data source name already exists.";
const char kInvalidText[] =
    "Invalid data source name. The first character must be a letter and it may not contain any of the "
    "following characters: [ ] { } ( ) ? * = ! @ , ; \\";

std::string AddList(const std::string &name) {
  return AttributeList({"DSN=" + name, "Description=Sales figures", "DBQ=C:\\DATA", "CTX=C:\\DATA\\MAIN.CTX"});
}

// ---------------------------------------------------------------- construction

TEST(Construction, WindowFromTemplate) {
  NEED_DISPLAY();
  std::string name = UniqueName("win");
  DataSource cleanup(name, false);
  RunDialog(kAdd, AddList(name), [&](Ui &ui) {
    Screenshot("add-new", ui.dialog);
    EXPECT_EQ("Kolvar ODBC Setup", Text(ui.dialog));
    EXPECT_EQ(nullptr, GetWindow(ui.dialog, GW_OWNER));
    LONG style = GetWindowLongA(ui.dialog, GWL_STYLE);
    EXPECT_EQ(static_cast<LONG>(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU),
              style & static_cast<LONG>(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU));
    EXPECT_TRUE(GetWindowLongA(ui.dialog, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);

    // 1552 / h by 1440 / v whole dialog units, a unit being h/4 by v/8
    // pixels: 387 x 180 for Wine's 9 x 16.
    const int h = LOWORD(GetDialogBaseUnits()), v = HIWORD(GetDialogBaseUnits());
    RECT client;
    GetClientRect(ui.dialog, &client);
    EXPECT_EQ(1552 / h * h / 4, client.right) << "base units " << h;
    EXPECT_EQ(1440 / v * v / 8, client.bottom) << "base units " << v;
    // Centred on the screen.
    RECT window;
    GetWindowRect(ui.dialog, &window);
    EXPECT_NEAR(GetSystemMetrics(SM_CXSCREEN) / 2, (window.left + window.right) / 2, 2);
    EXPECT_NEAR(GetSystemMetrics(SM_CYSCREEN) / 2, (window.top + window.bottom) / 2, 2);
    ui.Click(IDCANCEL);
  });
}

struct Expected {
  const char *cls, *text;
  LONG style;
  bool clientEdge;
  int x, y, w, h;  // w < 0: a label, measured
  int id;
};

SIZE Measure(const char *text) {
  HFONT font = CreateFontA(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, FF_SWISS, "MS Sans Serif");
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  RECT r = {0, 0, 1000, 0};
  DrawTextA(dc, text, -1, &r, DT_CALCRECT);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  DeleteObject(font);
  return {r.right, r.bottom};
}

TEST(Construction, ThirteenControlsInOrder) {
  NEED_DISPLAY();
  std::string name = UniqueName("ctl");
  DataSource cleanup(name, false);
  const Expected expected[] = {
      {"Static", "Data Source &Name", 0x50000000, false, 21, 24, -1, -1, 0},
      {"Edit", name.c_str(), 0x508104C0, true, 122, 20, 161, 21, 17},
      {"Static", "&Description", 0x50000000, false, 21, 49, -1, -1, 0},
      {"Edit", "Sales figures", 0x508104C0, true, 122, 45, 161, 21, 18},
      {"Static", "Data D&irectory", 0x50000000, false, 21, 74, -1, -1, 0},
      {"Edit", "C:\\DATA", 0x508104C0, true, 122, 70, 161, 21, 19},
      {"Button", "Browse...", 0x50010000, false, 292, 68, 75, 25, 101},
      {"Static", "&CTX File", 0x50000000, false, 21, 99, -1, -1, 0},
      {"Edit", "C:\\DATA\\MAIN.CTX", 0x508104C0, true, 122, 95, 161, 21, 20},
      {"Button", "Browse...", 0x50010000, false, 292, 93, 75, 25, 102},
      {"Button", "", 0x50000007, false, 8, 4, 371, 121, 0},
      {"Button", "OK", 0x50010000, false, 226, 141, 75, 25, 1},
      {"Button", "Cancel", 0x50010000, false, 306, 141, 75, 25, 2},
  };
  RunDialog(kAdd, AddList(name), [&](Ui &ui) {
    std::vector<HWND> children;
    for (HWND c = GetWindow(ui.dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) children.push_back(c);
    ASSERT_EQ(13u, children.size());
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(children[0], WM_GETFONT, 0, 0));
    ASSERT_NE(nullptr, font);
    LOGFONTA lf = {};
    ASSERT_TRUE(GetObjectA(font, sizeof lf, &lf));
    EXPECT_EQ(-11, lf.lfHeight);
    EXPECT_EQ(FW_NORMAL, lf.lfWeight);
    EXPECT_EQ(DEFAULT_CHARSET, lf.lfCharSet);
    EXPECT_EQ(FF_SWISS | DEFAULT_PITCH, lf.lfPitchAndFamily);
    EXPECT_STREQ("MS Sans Serif", lf.lfFaceName);

    for (size_t i = 0; i < children.size(); ++i) {
      const Expected &e = expected[i];
      HWND c = children[i];
      SCOPED_TRACE("control " + std::to_string(i + 1));
      EXPECT_STRCASEEQ(e.cls, ClassOf(c).c_str());
      EXPECT_EQ(e.text, Text(c));
      // The dialog manager marks a focused push button as the default one.
      LONG style = GetWindowLongA(c, GWL_STYLE);
      if (ClassOf(c) == "Button" && e.style != 0x50000007) style &= ~BS_DEFPUSHBUTTON;
      EXPECT_EQ(e.style, style) << std::hex << style;
      EXPECT_EQ(e.clientEdge, (GetWindowLongA(c, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0);
      EXPECT_EQ(e.id, GetDlgCtrlID(c));
      EXPECT_EQ(font, reinterpret_cast<HFONT>(SendMessageA(c, WM_GETFONT, 0, 0)));
      RECT r = RectIn(c, ui.dialog);
      SIZE size = e.w < 0 ? Measure(e.text) : SIZE{e.w, e.h};
      EXPECT_EQ(e.x, r.left);
      EXPECT_EQ(e.y, r.top);
      EXPECT_EQ(size.cx, r.right - r.left);
      EXPECT_EQ(size.cy, r.bottom - r.top);
      if (e.w < 0) {
        EXPECT_GT(size.cx, 20);
      }
    }
    ui.Click(IDCANCEL);
  });
}

TEST(Construction, TypingStopsAtTheLimitsWhileLongerTextsShowWhole) {
  NEED_DISPLAY();
  const std::string longName(40, 'N'), longDescription(100, 'd'), longDirectory = "C:\\" + std::string(70, 'i'),
                    longControlFile = "C:\\" + std::string(70, 'c');
  RunDialog(kAdd,
            AttributeList({"DSN=" + longName, "Description=" + longDescription, "DBQ=" + longDirectory,
                        "CTX=" + longControlFile}),
            [&](Ui &ui) {
              EXPECT_EQ(longName, Text(ui.Item(kName)));
              EXPECT_EQ(longDescription, Text(ui.Item(kDescription)));
              EXPECT_EQ(longDirectory, Text(ui.Item(kDirectory)));
              EXPECT_EQ(longControlFile, Text(ui.Item(kControlFile)));
              const struct {
                int id;
                size_t limit;
              } limits[] = {{kName, 32}, {kDescription, 80}, {kDirectory, 64}, {kControlFile, 64}};
              for (const auto &l : limits) {
                ui.FocusOn(l.id);
                ui.Clear(l.id);
                ui.Chars(std::string(120, 'x'));
                EXPECT_EQ(std::string(l.limit, 'x'), Text(ui.Item(l.id))) << "field " << l.id;
              }
              ui.Click(IDCANCEL);
            });
}

TEST(Construction, TabOrderFollowsCreation) {
  NEED_DISPLAY();
  std::string name = UniqueName("tab");
  DataSource cleanup(name, false);
  RunDialog(kAdd, AddList(name), [&](Ui &ui) {
    EXPECT_EQ(kName, ui.FocusId()) << "initial focus";
    const int order[] = {kDescription, kDirectory, kBrowseDirectory, kControlFile, kBrowseControlFile, IDOK, IDCANCEL,
                         kName};
    for (int id : order) {
      ui.Key(VK_TAB);
      EXPECT_EQ(id, ui.FocusId());
    }
    ui.Click(IDCANCEL);
  });
}

TEST(Construction, MnemonicsMoveToTheirFields) {
  NEED_DISPLAY();
  std::string name = UniqueName("mne");
  DataSource cleanup(name, false);
  RunDialog(kAdd, AddList(name), [&](Ui &ui) {
    const struct {
      char letter;
      int id;
    } keys[] = {{'c', kControlFile}, {'i', kDirectory}, {'d', kDescription}, {'n', kName}, {'C', kControlFile}};
    for (const auto &k : keys) {
      ui.SysChar(k.letter);
      EXPECT_EQ(k.id, ui.FocusId()) << "Alt+" << k.letter;
    }
    ui.Click(IDCANCEL);
  });
}

// ---------------------------------------------------------------- keyboard

TEST(Keyboard, EnterInAFieldMovesOnAndNeverPressesAButton) {
  NEED_DISPLAY();
  std::string name = UniqueName("ent");
  DataSource cleanup(name, false);
  RunDialog(kAdd, AddList(name), [&](Ui &ui) {
    const struct {
      int from, to;
    } moves[] = {{kName, kDescription}, {kDescription, kDirectory}, {kDirectory, kControlFile}, {kControlFile, IDOK}};
    for (const auto &m : moves) {
      ui.FocusOn(m.from);
      ui.Key(VK_RETURN);
      EXPECT_EQ(m.to, ui.FocusId()) << "Enter in " << m.from;
      EXPECT_TRUE(ui.Open());
      EXPECT_EQ(nullptr, WaitMessageBox(ui.uiThread, 0));
      EXPECT_EQ(nullptr, WaitOpenDialog(ui.uiThread, 0));
    }
    // Without a name OK is disabled, so Enter in the last field reaches Cancel.
    ui.Clear(kName);
    ui.FocusOn(kControlFile);
    ui.Key(VK_RETURN);
    EXPECT_EQ(IDCANCEL, ui.FocusId());
    EXPECT_TRUE(ui.Open());
    ui.Click(IDCANCEL);
  });
  EXPECT_FALSE(Registered(name));
}

TEST(Keyboard, UpAndDownPassOverTheBrowseButtons) {
  NEED_DISPLAY();
  std::string name = UniqueName("arr");
  DataSource cleanup(name, false);
  RunDialog(kAdd, AddList(name), [&](Ui &ui) {
    const struct {
      int from;
      WPARAM key;
      int to;
    } moves[] = {
        {kName, VK_UP, IDCANCEL},         {IDCANCEL, VK_DOWN, kName},         {IDOK, VK_UP, kControlFile},
        {kDirectory, VK_DOWN, kControlFile}, {kControlFile, VK_UP, kDirectory},  {kControlFile, VK_DOWN, IDOK},
        {IDOK, VK_DOWN, IDCANCEL},        {kDescription, VK_UP, kName},       {kName, VK_DOWN, kDescription},
        {kBrowseDirectory, VK_DOWN, kControlFile}, {kBrowseControlFile, VK_UP, kControlFile},
    };
    for (const auto &m : moves) {
      ui.FocusOn(m.from);
      ui.Key(m.key);
      EXPECT_EQ(m.to, ui.FocusId()) << (m.key == VK_UP ? "Up" : "Down") << " from " << m.from;
    }
    EXPECT_TRUE(ui.Open());
    ui.Click(IDCANCEL);
  });
}

TEST(Keyboard, FilterLeavesTheHostWindowAlone) {
  NEED_DISPLAY();
  std::string name = UniqueName("hst");
  DataSource cleanup(name, false);
  RunDialog(kAdd, AddList(name), [&](Ui &ui) {
    // The focus in another window of the thread: an arrow key that reaches
    // the dialog must not send the filter round for ever.
    ui.FocusHost();
    ASSERT_EQ(ui.host, ui.Focus());
    PostMessageA(ui.Item(kName), WM_KEYDOWN, VK_DOWN, 1);
    ui.Sync();
    EXPECT_TRUE(ui.Open());
    // Keys meant for the host window reach it.
    int before = HostKeyDowns();
    HWND focus = ui.Focus();
    PostMessageA(ui.host, WM_KEYDOWN, VK_DOWN, 1);
    PostMessageA(ui.host, WM_KEYDOWN, VK_RETURN, 1);
    ui.Sync();
    EXPECT_EQ(before + 2, HostKeyDowns());
    EXPECT_EQ(focus, ui.Focus());
    ui.Click(IDCANCEL);
  });
}

TEST(Keyboard, FilterStopsWhenNoAcceptedControlCanTakeTheFocus) {
  NEED_DISPLAY();
  std::string name = UniqueName("stuck");
  DataSource cleanup(name, false);
  RunDialog(kAdd, AddList(name), [&](Ui &ui) {
    ui.FocusOn(kBrowseDirectory);
    const int others[] = {kName, kDescription, kDirectory, kControlFile, IDOK, IDCANCEL, kBrowseControlFile};
    for (int id : others) EnableWindow(ui.Item(id), FALSE);
    // Only the focused Browse button can hold the focus: it cannot move.
    ui.Key(VK_DOWN);
    EXPECT_EQ(kBrowseDirectory, ui.FocusId());
    // Two Browse buttons: the focus goes round without an accepted control.
    EnableWindow(ui.Item(kBrowseControlFile), TRUE);
    ui.Key(VK_UP);
    ui.Key(VK_DOWN);
    EXPECT_TRUE(ui.Open());
    for (int id : others) EnableWindow(ui.Item(id), TRUE);
    ui.Click(IDCANCEL);
  });
}

TEST(Keyboard, LeavingAFieldShowsItFromItsStart) {
  NEED_DISPLAY();
  const std::string description(78, 'w');
  RunDialog(kAdd, AttributeList({"DSN=x", "Description=" + description}), [&](Ui &ui) {
    HWND field = ui.Item(kDescription);
    ui.FocusOn(kDescription);
    ui.Key(VK_END);
    DWORD start = 0, end = 0;
    SendMessageA(field, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(description.size(), end);
    LRESULT first = SendMessageA(field, EM_POSFROMCHAR, 0, 0);
    EXPECT_LT(static_cast<short>(LOWORD(first)), 0) << "the text should have scrolled";
    ui.Key(VK_TAB);
    SendMessageA(field, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(0u, start);
    EXPECT_EQ(0u, end);
    first = SendMessageA(field, EM_POSFROMCHAR, 0, 0);
    EXPECT_GE(static_cast<short>(LOWORD(first)), 0);
    EXPECT_LT(static_cast<short>(LOWORD(first)), 8);
    ui.Click(IDCANCEL);
  });
}

// ---------------------------------------------------------------- OK rule

TEST(OkRule, NameDirectoryAndControlFileAreRequired) {
  NEED_DISPLAY();
  std::string name = UniqueName("okr");
  DataSource cleanup(name, false);
  RunDialog(kAdd, AttributeList({"DSN=" + name, "Description=", "DBQ=C:\\D", "CTX=C:\\D\\M.CTX"}), [&](Ui &ui) {
    HWND ok = ui.Item(IDOK);
    EXPECT_TRUE(IsWindowEnabled(ok)) << "an empty description does not matter";
    const struct {
      int id;
      bool required;
    } fields[] = {{kName, true}, {kDescription, false}, {kDirectory, true}, {kControlFile, true}};
    for (const auto &f : fields) {
      ui.FocusOn(f.id);
      ui.Chars("q");
      ui.Clear(f.id);
      EXPECT_EQ(!f.required, IsWindowEnabled(ok) != FALSE) << "field " << f.id << " emptied";
      ui.Chars("z");
      EXPECT_TRUE(IsWindowEnabled(ok)) << "field " << f.id << " filled again";
    }
    ui.Click(IDCANCEL);
  });
}

TEST(OkRule, AnAddWithoutANameStartsDisabled) {
  NEED_DISPLAY();
  RunDialog(kAdd, AttributeList({}), [&](Ui &ui) {
    EXPECT_EQ("", Text(ui.Item(kName)));
    EXPECT_EQ("Kolvar Muster Firmendaten", Text(ui.Item(kDescription)));
    EXPECT_EQ("C:\\KOLVAR\\MUSTER", Text(ui.Item(kDirectory)));
    EXPECT_EQ("C:\\KOLVAR\\KOLVARD.CTX", Text(ui.Item(kControlFile)));
    EXPECT_FALSE(IsWindowEnabled(ui.Item(IDOK)));
    ui.Click(IDCANCEL);
  });
}

// ---------------------------------------------------------------- accept

TEST(Accept, ConfigureKeepingItsNameIsNoDuplicate) {
  NEED_DISPLAY();
  DataSource ds(UniqueName("keep"));
  BOOL r = RunDialog(kConfigure, AttributeList({"DSN=" + ds.name()}), [&](Ui &ui) {
    EXPECT_EQ(ds.name(), Text(ui.Item(kName)));
    EXPECT_EQ("Stored description", Text(ui.Item(kDescription)));
    EXPECT_EQ("C:\\STORED", Text(ui.Item(kDirectory)));
    EXPECT_EQ("C:\\STORED\\STORED.CTX", Text(ui.Item(kControlFile)));
    Screenshot("configure-existing", ui.dialog);
    ui.Click(IDOK);
    EXPECT_EQ(nullptr, WaitMessageBox(ui.uiThread, 300));
    EXPECT_TRUE(ui.WaitClosed());
  });
  EXPECT_EQ(kTrue, r);
  EXPECT_TRUE(Registered(ds.name()));
}

TEST(Accept, RenameToAnExistingDataSourceIsRefused) {
  NEED_DISPLAY();
  DataSource a(UniqueName("rena")), b(UniqueName("renb"));
  std::string upper = a.name();
  for (char &c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  RunDialog(kConfigure, AttributeList({"DSN=" + a.name()}), [&](Ui &ui) {
    // Another data source, and the same one in other letter case: the
    // comparison with the initial name is exact.
    const std::string names[] = {b.name(), upper};
    for (const std::string &n : names) {
      ui.Clear(kName);
      ui.FocusOn(kName);
      ui.Chars(n);
      ui.Click(IDOK);
      EXPECT_EQ(kDuplicateText, AnswerMessageBox(ui, n == b.name() ? "message-duplicate-name" : nullptr)) << n;
      ui.Sync();
      EXPECT_TRUE(ui.Open());
      EXPECT_EQ(n, Text(ui.Item(kName)));
    }
    ui.Click(IDCANCEL);
  });
  EXPECT_FALSE(Registered(b.name()));
  EXPECT_FALSE(Registered(upper));
}

TEST(Accept, WithoutAnInitialNameEveryExistingNameIsADuplicate) {
  NEED_DISPLAY();
  DataSource ds(UniqueName("noinit"));
  RunDialog(kAdd, AttributeList({}), [&](Ui &ui) {
    ui.FocusOn(kName);
    ui.Chars(ds.name());
    ui.Click(IDOK);
    EXPECT_EQ(kDuplicateText, AnswerMessageBox(ui));
    ui.Click(IDCANCEL);
  });
}

TEST(Accept, InvalidNameIsRefused) {
  NEED_DISPLAY();
  const std::string name = "[x" + UniqueName("inv");
  DataSource cleanup(name, false);
  RunDialog(kAdd, AddList(name), [&](Ui &ui) {
    ui.Click(IDOK);
    EXPECT_EQ(kInvalidText, AnswerMessageBox(ui, "message-invalid-name"));
    ui.Sync();
    EXPECT_TRUE(ui.Open());
    ui.Click(IDCANCEL);
  });
  EXPECT_FALSE(Registered(name));
}

TEST(Accept, AnAcceptedAddRegistersTheNameAndStoresTheFieldsAsShown) {
  NEED_DISPLAY();
  DataSource cleanup(UniqueName("add"), false);
  BOOL r = RunDialog(kAdd, AddList(cleanup.name()), [&](Ui &ui) {
    ui.Clear(kDescription);
    ui.FocusOn(kDescription);
    ui.Chars("Edited in the dialog");
    ui.Click(IDOK);
    EXPECT_EQ(nullptr, WaitMessageBox(ui.uiThread, 300));
    EXPECT_TRUE(ui.WaitClosed());
  });
  EXPECT_EQ(kTrue, r);
  EXPECT_TRUE(Registered(cleanup.name()));
  EXPECT_EQ("Edited in the dialog", StoredValue(cleanup.name(), "Description"));
  EXPECT_EQ("C:\\DATA", StoredValue(cleanup.name(), "DBQ"));
  EXPECT_EQ("C:\\DATA\\MAIN.CTX", StoredValue(cleanup.name(), "CTX"));
  EXPECT_EQ(Driver(), StoredValue(cleanup.name(), "Driver"));
}

TEST(Accept, RenamingInTheDialogMovesTheDataSource) {
  NEED_DISPLAY();
  DataSource from(UniqueName("from")), to(UniqueName("to"), false);
  BOOL r = RunDialog(kConfigure, AttributeList({"DSN=" + from.name()}), [&](Ui &ui) {
    ui.Clear(kName);
    ui.FocusOn(kName);
    ui.Chars(to.name());
    ui.Click(IDOK);
    EXPECT_TRUE(ui.WaitClosed());
  });
  EXPECT_EQ(kTrue, r);
  EXPECT_FALSE(Stored(from.name()));
  EXPECT_EQ("Stored description", StoredValue(to.name(), "Description"));
  EXPECT_EQ("C:\\STORED\\STORED.CTX", StoredValue(to.name(), "CTX"));
  EXPECT_TRUE(Registered(to.name()));
}

TEST(Accept, ARefusedOkThenCancelStoresNothing) {
  NEED_DISPLAY();
  DataSource existing(UniqueName("exist")), fresh(UniqueName("fresh"), false);
  BOOL r = RunDialog(kConfigure, AttributeList({"DSN=" + existing.name()}), [&](Ui &ui) {
    ui.Clear(kDescription);
    ui.FocusOn(kDescription);
    ui.Chars("changed");
    ui.Clear(kName);
    ui.FocusOn(kName);
    ui.Chars("[" + fresh.name());
    ui.Click(IDOK);
    EXPECT_EQ(kInvalidText, AnswerMessageBox(ui));
    ui.Click(IDCANCEL);
    EXPECT_TRUE(ui.WaitClosed());
  });
  EXPECT_EQ(kTrue, r);
  EXPECT_EQ("Stored description", StoredValue(existing.name(), "Description"));
  EXPECT_FALSE(Stored("[" + fresh.name()));
}

// ---------------------------------------------------------------- browse

// Folders and files of the build tree for the Open dialog, as Windows paths.
std::string DataPath(const std::string &relative) {
  std::string p = "Z:" KVDRM_DIALOG_DATA "\\" + relative;
  for (char &c : p)
    if (c == '/') c = '\\';
  if (!p.empty() && p.back() == '\\') p.pop_back();
  return p;
}

#define kLongFolder "OTHER\\A FOLDER WITH A NAME LONG ENOUGH"

void MakeBrowseData() {
  for (const char *dir : {"", "DATA", "DATA\\SET1", "OTHER", kLongFolder})
    CreateDirectoryA(DataPath(dir).c_str(), nullptr);
  for (const char *file : {"DATA\\MAIN.CTX", "DATA\\SET1\\-control.dat", kLongFolder "\\B.CTX"}) {
    HANDLE h = CreateFileA(DataPath(file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << file;
    CloseHandle(h);
  }
}

struct OpenDialog {
  HWND window;
  std::string folder, fileName, filter;
  std::vector<std::string> filters;
};

OpenDialog ReadOpenDialog(Ui &ui) {
  OpenDialog o = {WaitOpenDialog(ui.uiThread), "", "", "", {}};
  if (!o.window) return o;
  ui.Sync();
  char buffer[MAX_PATH + 1] = {};
  DWORD_PTR r;
  if (SendMessageTimeoutA(o.window, CDM_GETFOLDERPATH, sizeof buffer, reinterpret_cast<LPARAM>(buffer), SMTO_NORMAL,
                          5000, &r))
    o.folder = buffer;
  o.fileName = Text(GetDlgItem(o.window, 0x47C));
  HWND types = GetDlgItem(o.window, 0x470);
  LRESULT count = SendMessageA(types, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    char item[256] = {};
    SendMessageA(types, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
    o.filters.push_back(item);
  }
  LRESULT sel = SendMessageA(types, CB_GETCURSEL, 0, 0);
  if (sel >= 0 && sel < count) o.filter = o.filters[sel];
  return o;
}

// Types a path into the Open dialog's file name and confirms it, or
// cancels the dialog when `path` is null.
void Choose(Ui &ui, HWND open, const char *path) {
  DWORD_PTR r;
  if (path) SendMessageTimeoutA(GetDlgItem(open, 0x47C), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path), SMTO_NORMAL, 5000, &r);
  ui.Click(GetDlgItem(open, path ? IDOK : IDCANCEL));
  for (int i = 0; i < 250 && IsWindow(open); ++i) Sleep(20);
  EXPECT_FALSE(IsWindow(open)) << "the Open dialog stayed";
  ui.Sync();
}

TEST(Browse, ControlFileStartsInItsDirectoryWithItsName) {
  NEED_DISPLAY();
  MakeBrowseData();
  const std::string chosen = DataPath(kLongFolder "\\B.CTX");
  ASSERT_GT(chosen.size(), 64u) << "the chosen path should pass the typing limit";
  RunDialog(kAdd, AttributeList({"DSN=b", "DBQ=" + DataPath("DATA"), "CTX=" + DataPath("DATA\\MAIN.CTX")}), [&](Ui &ui) {
    ui.Click(kBrowseControlFile);
    OpenDialog o = ReadOpenDialog(ui);
    ASSERT_NE(nullptr, o.window);
    Screenshot("open-control-file", o.window);
    EXPECT_EQ("Kolvar ODBC Setup", Text(o.window));
    EXPECT_EQ(ui.dialog, GetWindow(o.window, GW_OWNER));
    EXPECT_STRCASEEQ(DataPath("DATA").c_str(), o.folder.c_str());
    EXPECT_EQ("MAIN.CTX", o.fileName);
    EXPECT_EQ("CTX Files (*.ctx)", o.filter);
    EXPECT_EQ((std::vector<std::string>{"CTX Files (*.ctx)", "All Files (*.*)"}), o.filters);
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(o.window, 0x410))) << "read-only box hidden";
    Choose(ui, o.window, chosen.c_str());
    EXPECT_STRCASEEQ(chosen.c_str(), Text(ui.Item(kControlFile)).c_str());
    ui.Click(IDCANCEL);
  });
}

TEST(Browse, DirectoryStartsInTheFieldAndKeepsTheDirectory) {
  NEED_DISPLAY();
  MakeBrowseData();
  const std::string set1 = DataPath("DATA\\SET1");
  RunDialog(kAdd, AttributeList({"DSN=b", "DBQ=" + set1, "CTX=C:\\M.CTX"}), [&](Ui &ui) {
    ui.Click(kBrowseDirectory);
    OpenDialog o = ReadOpenDialog(ui);
    ASSERT_NE(nullptr, o.window);
    Screenshot("open-data-directory", o.window);
    EXPECT_STRCASEEQ(set1.c_str(), o.folder.c_str());
    EXPECT_EQ("", o.fileName);
    EXPECT_EQ("Control File (-control.dat)", o.filter);
    EXPECT_EQ((std::vector<std::string>{"Control File (-control.dat)", "All Files (*.*)"}), o.filters);
    Choose(ui, o.window, "-control.dat");
    EXPECT_STRCASEEQ(set1.c_str(), Text(ui.Item(kDirectory)).c_str());
    ui.Click(IDCANCEL);
  });
}

TEST(Browse, ChoosingRestoresTheOkButton) {
  NEED_DISPLAY();
  MakeBrowseData();
  RunDialog(kAdd, AttributeList({"DSN=b", "DBQ=", "CTX=C:\\M.CTX"}), [&](Ui &ui) {
    EXPECT_FALSE(IsWindowEnabled(ui.Item(IDOK)));
    ui.Click(kBrowseDirectory);
    OpenDialog o = ReadOpenDialog(ui);
    ASSERT_NE(nullptr, o.window);
    Choose(ui, o.window, DataPath("DATA\\SET1\\-control.dat").c_str());
    EXPECT_STRCASEEQ(DataPath("DATA\\SET1").c_str(), Text(ui.Item(kDirectory)).c_str());
    EXPECT_TRUE(IsWindowEnabled(ui.Item(IDOK)));
    ui.Click(IDCANCEL);
  });
}

TEST(Browse, TypedNameWithoutExtensionGetsCtx) {
  NEED_DISPLAY();
  MakeBrowseData();
  // Wine's Open dialog appends the extension only when the file with it
  // exists, as Windows does; a name of no existing file comes back as typed.
  const struct {
    const char *typed, *result;
  } cases[] = {{"MAIN", "DATA\\MAIN.ctx"}, {"NEWFILE", "DATA\\NEWFILE"}};
  for (const auto &c : cases) {
    RunDialog(kAdd, AttributeList({"DSN=b", "DBQ=C:\\D", "CTX=" + DataPath("DATA\\MAIN.CTX")}), [&](Ui &ui) {
      ui.Click(kBrowseControlFile);
      OpenDialog o = ReadOpenDialog(ui);
      ASSERT_NE(nullptr, o.window);
      Choose(ui, o.window, c.typed);
      EXPECT_STRCASEEQ(DataPath(c.result).c_str(), Text(ui.Item(kControlFile)).c_str()) << c.typed;
      ui.Click(IDCANCEL);
    });
  }
}

TEST(Browse, CancellingLeavesTheField) {
  NEED_DISPLAY();
  MakeBrowseData();
  const std::string dbq = DataPath("DATA"), ctx = DataPath("DATA\\MAIN.CTX");
  RunDialog(kAdd, AttributeList({"DSN=b", "DBQ=" + dbq, "CTX=" + ctx}), [&](Ui &ui) {
    for (int button : {kBrowseDirectory, kBrowseControlFile}) {
      ui.Click(button);
      OpenDialog o = ReadOpenDialog(ui);
      ASSERT_NE(nullptr, o.window) << button;
      Choose(ui, o.window, nullptr);
    }
    EXPECT_EQ(dbq, Text(ui.Item(kDirectory)));
    EXPECT_EQ(ctx, Text(ui.Item(kControlFile)));
    ui.Click(IDCANCEL);
  });
}

TEST(Browse, BareControlFileNameIsTheStartName) {
  NEED_DISPLAY();
  RunDialog(kAdd, AttributeList({"DSN=b", "DBQ=C:\\D", "CTX=MAIN.CTX"}), [&](Ui &ui) {
    ui.Click(kBrowseControlFile);
    OpenDialog o = ReadOpenDialog(ui);
    ASSERT_NE(nullptr, o.window);
    EXPECT_EQ("MAIN.CTX", o.fileName);
    Choose(ui, o.window, nullptr);
    ui.Click(IDCANCEL);
  });
}

TEST(Browse, EnterOnABrowseButtonPressesIt) {
  NEED_DISPLAY();
  RunDialog(kAdd, AttributeList({"DSN=b", "DBQ=C:\\D", "CTX=C:\\D\\M.CTX"}), [&](Ui &ui) {
    ui.FocusOn(kBrowseDirectory);
    ui.Key(VK_RETURN);
    HWND open = WaitOpenDialog(ui.uiThread);
    ASSERT_NE(nullptr, open);
    Choose(ui, open, nullptr);
    ui.Click(IDCANCEL);
  });
}

// ---------------------------------------------------------------- cancel

TEST(Cancel, EveryWayOutStoresNothing) {
  NEED_DISPLAY();
  const struct {
    const char *how;
    void (*act)(Ui &);
  } ways[] = {
      {"Cancel button", [](Ui &ui) { ui.Click(IDCANCEL); }},
      {"Escape", [](Ui &ui) { ui.Key(VK_ESCAPE); }},
      {"close box", [](Ui &ui) { PostMessageA(ui.dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }},
      {"Enter on Cancel", [](Ui &ui) {
         ui.FocusOn(IDCANCEL);
         ui.Key(VK_RETURN);
       }},
  };
  for (const auto &w : ways) {
    DataSource cleanup(UniqueName("cnl"), false);
    BOOL r = RunDialog(kAdd, AddList(cleanup.name()), [&](Ui &ui) {
      w.act(ui);
      EXPECT_TRUE(ui.WaitClosed()) << w.how;
    });
    EXPECT_EQ(kTrue, r) << w.how;
    EXPECT_FALSE(Registered(cleanup.name())) << w.how;
    EXPECT_FALSE(Stored(cleanup.name())) << w.how;
  }
}

TEST(Cancel, ConfigureCancelledLeavesTheDataSource) {
  NEED_DISPLAY();
  DataSource ds(UniqueName("keepcnl"));
  BOOL r = RunDialog(kConfigure, AttributeList({"DSN=" + ds.name()}), [&](Ui &ui) {
    ui.Clear(kDescription);
    ui.Chars("not to be kept");
    ui.Key(VK_ESCAPE);
    EXPECT_TRUE(ui.WaitClosed());
  });
  EXPECT_EQ(kTrue, r);
  EXPECT_EQ("Stored description", StoredValue(ds.name(), "Description"));
  EXPECT_FALSE(Registered(ds.name()));
}

TEST(Cancel, AQuitFromTheHostClosesTheDialogAndIsPassedOn) {
  NEED_DISPLAY();
  DataSource cleanup(UniqueName("quit"), false);
  BOOL r = RunDialog(kAdd, AddList(cleanup.name()), [&](Ui &ui) {
    ui.HostQuits(7);
    EXPECT_TRUE(ui.WaitClosed());
  });
  EXPECT_EQ(kTrue, r);
  EXPECT_EQ(7, LastQuitCode());
  EXPECT_FALSE(Registered(cleanup.name()));
  EXPECT_FALSE(Stored(cleanup.name()));
}

// ---------------------------------------------------------------- no display

TEST(NoDisplay, ConfigDsnGoesOnWithoutTheDialog) {
  if (HasDisplay()) GTEST_SKIP() << "runs without an X display";
  DataSource cleanup(UniqueName("nodisp"), false);
  bool saw = true;
  BOOL r = RunDialog(kAdd, AddList(cleanup.name()), [](Ui &) {}, &saw);
  EXPECT_FALSE(saw);
  EXPECT_EQ(kTrue, r);
  // The request goes on with the set as the attribute list left it.
  EXPECT_EQ("Sales figures", StoredValue(cleanup.name(), "Description"));
  EXPECT_EQ("C:\\DATA", StoredValue(cleanup.name(), "DBQ"));
  EXPECT_EQ("C:\\DATA\\MAIN.CTX", StoredValue(cleanup.name(), "CTX"));
  EXPECT_FALSE(Registered(cleanup.name())) << "only the dialog registers the name";
}

// Without a display there is no dialog to cancel: a request that names no
// data source is a request without a name, and fails.
TEST(NoDisplay, NoNameWithoutTheDialogIsAFailureNotACancel) {
  if (HasDisplay()) GTEST_SKIP() << "runs without an X display";
  // No window can be made here; ConfigDSN never uses the parent handle
  // itself, so any non-zero value asks for the dialog.
  typedef BOOL(__stdcall * ConfigFn)(HWND, UINT, LPCSTR, LPCSTR);
  auto configDsn = reinterpret_cast<ConfigFn>(reinterpret_cast<void *>(testlib::KvdrmProc("ConfigDSN")));
  ASSERT_NE(nullptr, configDsn);
  HWND parent = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
  EXPECT_EQ(FALSE, configDsn(parent, kAdd, Driver().c_str(), AttributeList({"Description=nameless"}).c_str()));
}

}  // namespace
