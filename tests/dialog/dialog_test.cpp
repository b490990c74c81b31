// The setup dialog on a real window: ConfigDSN runs on the test's thread
// with a host window as parent while a second thread reads the dialog,
// types, clicks and answers its message boxes and Open dialogs. What a
// script leaves open RunDialog closes as Cancel.
#include <windows.h>
#include <commdlg.h>
#include <string.h>

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

std::string AddList(const std::string &name = UniqueName("dlg")) {
  return AttributeList({"DSN=" + name, "Description=Sales figures", "DBQ=C:\\DATA", "CTX=C:\\DATA\\MAIN.CTX"});
}

// ---------------------------------------------------------------- construction

TEST(Construction, WindowAndThirteenControlsInOrder) {
  NEED_DISPLAY();
  const std::string name = UniqueName("ctl");
  const struct {
    const char *cls, *text;
    LONG style;
    int x, y, w, h, id;  // w < 0: a label as large as its text
  } expected[] = {
      {"Static", "Data Source &Name", 0x50000000, 21, 24, -1, -1, 0},
      {"Edit", name.c_str(), 0x508100C0, 122, 20, 161, 21, 17},
      {"Static", "&Description", 0x50000000, 21, 49, -1, -1, 0},
      {"Edit", "Sales figures", 0x508100C0, 122, 45, 161, 21, 18},
      {"Static", "Data D&irectory", 0x50000000, 21, 74, -1, -1, 0},
      {"Edit", "C:\\DATA", 0x508100C0, 122, 70, 161, 21, 19},
      {"Button", "Browse...", 0x50010000, 292, 68, 75, 25, 101},
      {"Static", "&CTX File", 0x50000000, 21, 99, -1, -1, 0},
      {"Edit", "C:\\DATA\\MAIN.CTX", 0x508100C0, 122, 95, 161, 21, 20},
      {"Button", "Browse...", 0x50010000, 292, 93, 75, 25, 102},
      {"Button", "", 0x50000007, 8, 4, 371, 121, 0},
      {"Button", "OK", 0x50010000, 226, 141, 75, 25, 1},
      {"Button", "Cancel", 0x50010000, 306, 141, 75, 25, 2},
  };
  HFONT font = nullptr;
  RunDialog(kAdd, AddList(name), [&](Ui &ui) {
    Screenshot("add-new", ui.dialog);  // found by its caption, "Kolvar ODBC Setup"
    EXPECT_EQ(nullptr, GetWindow(ui.dialog, GW_OWNER));
    EXPECT_TRUE(IsWindowUnicode(ui.dialog));
    const LONG frame = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU;
    EXPECT_EQ(frame, GetWindowLongA(ui.dialog, GWL_STYLE) & frame);
    EXPECT_TRUE(GetWindowLongA(ui.dialog, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
    // Wine's base units under Xvfb, 9 x 16 pixels, make the template
    // 172 x 90 dialog units: 387 x 180 pixels, centred on the screen.
    ASSERT_EQ(MAKELONG(9, 16), GetDialogBaseUnits());
    RECT client, window;
    GetClientRect(ui.dialog, &client);
    EXPECT_EQ(387, client.right);
    EXPECT_EQ(180, client.bottom);
    GetWindowRect(ui.dialog, &window);
    EXPECT_NEAR(GetSystemMetrics(SM_CXSCREEN) / 2, (window.left + window.right) / 2, 2);
    EXPECT_NEAR(GetSystemMetrics(SM_CYSCREEN) / 2, (window.top + window.bottom) / 2, 2);

    std::vector<HWND> children;
    for (HWND c = GetWindow(ui.dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) children.push_back(c);
    ASSERT_EQ(13u, children.size());
    font = reinterpret_cast<HFONT>(SendMessageA(children[0], WM_GETFONT, 0, 0));
    LOGFONTA lf = {};
    ASSERT_TRUE(GetObjectA(font, sizeof lf, &lf));
    EXPECT_EQ(-11, lf.lfHeight);
    EXPECT_EQ(FW_NORMAL, lf.lfWeight);
    EXPECT_EQ(DEFAULT_CHARSET, lf.lfCharSet);
    EXPECT_EQ(FF_SWISS | DEFAULT_PITCH, lf.lfPitchAndFamily);
    EXPECT_STREQ("MS Sans Serif", lf.lfFaceName);
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    for (size_t i = 0; i < children.size(); ++i) {
      const auto &e = expected[i];
      HWND c = children[i];
      SCOPED_TRACE("control " + std::to_string(i + 1));
      EXPECT_STRCASEEQ(e.cls, ClassOf(c).c_str());
      EXPECT_EQ(e.text, Text(c));
      // The dialog manager marks a focused push button as the default one.
      LONG style = GetWindowLongA(c, GWL_STYLE);
      if (ClassOf(c) == "Button" && e.style != 0x50000007) style &= ~BS_DEFPUSHBUTTON;
      EXPECT_EQ(e.style, style) << std::hex << style;
      // Unicode windows: a field shows and gives back any script.
      EXPECT_TRUE(IsWindowUnicode(c));
      EXPECT_EQ(strcmp(e.cls, "Edit") == 0, (GetWindowLongA(c, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0);
      EXPECT_EQ(e.id, GetDlgCtrlID(c));
      EXPECT_EQ(font, reinterpret_cast<HFONT>(SendMessageA(c, WM_GETFONT, 0, 0)));
      RECT r;
      GetWindowRect(c, &r);
      MapWindowPoints(nullptr, ui.dialog, reinterpret_cast<POINT *>(&r), 2);
      RECT size = {0, 0, e.w, e.h};
      if (e.w < 0) {
        size.right = 1000;
        DrawTextA(dc, e.text, -1, &size, DT_CALCRECT);
        EXPECT_GT(size.right, 20);
      }
      EXPECT_EQ((std::vector<LONG>{e.x, e.y, size.right, size.bottom}),
                (std::vector<LONG>{r.left, r.top, r.right - r.left, r.bottom - r.top}));
    }
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
  });
  // The font goes with the dialog: none is left behind per dialog shown.
  LOGFONTA gone;
  EXPECT_EQ(0, GetObjectA(font, sizeof gone, &gone)) << "the dialog's font outlived it";
}

// Texts longer than a field's limit show whole when they come from the
// attribute list; typing stops at the limit. OK needs a name, a data
// directory and a control file; the description may be empty.
TEST(Fields, TypingLimitsAndTheOkRule) {
  NEED_DISPLAY();
  const struct {
    const char *attribute;
    int id;
    size_t limit;
    bool required;
  } fields[] = {{"DSN=", kName, 32, true}, {"Description=", kDescription, 80, false},
                {"DBQ=C:\\", kDirectory, 64, true}, {"CTX=C:\\", kControlFile, 64, true}};
  std::vector<std::string> list;
  for (const auto &f : fields) list.push_back(f.attribute + std::string(f.limit + 5, 'n'));
  RunDialog(kAdd, AttributeList(list), [&](Ui &ui) {
    HWND ok = ui.Item(IDOK);
    EXPECT_TRUE(IsWindowEnabled(ok));
    for (size_t i = 0; i < list.size(); ++i) {
      const auto &f = fields[i];
      SCOPED_TRACE("field " + std::to_string(f.id));
      EXPECT_EQ(list[i].substr(list[i].find('=') + 1), Text(ui.Item(f.id)));
      ui.Type(f.id, "");
      EXPECT_EQ(!f.required, IsWindowEnabled(ok) != FALSE) << "emptied";
      ui.Chars(std::string(120, 'x'));
      EXPECT_EQ(std::string(f.limit, 'x'), Text(ui.Item(f.id)));
      EXPECT_TRUE(IsWindowEnabled(ok)) << "filled again";
    }
  });
}

// ---------------------------------------------------------------- keyboard

constexpr WPARAM Alt(char letter) { return 0x10000 | static_cast<unsigned char>(letter); }

// Tab goes in creation order, Alt + a label's letter to its field, Up and
// Down between the fields, OK and Cancel over the Browse buttons, and Enter
// in a field to the next one, never pressing a button. A field left shows
// its text from the start again.
TEST(Keyboard, FocusMovesAndALeftFieldShowsItsStart) {
  NEED_DISPLAY();
  const struct {
    int from;  // 0: where the row before left it
    WPARAM key;
    int to;
  } moves[] = {
      {0, VK_TAB, kDescription}, {0, VK_TAB, kDirectory}, {0, VK_TAB, kBrowseDirectory},
      {0, VK_TAB, kControlFile}, {0, VK_TAB, kBrowseControlFile}, {0, VK_TAB, IDOK},
      {0, VK_TAB, IDCANCEL}, {0, VK_TAB, kName}, {0, Alt('c'), kControlFile},
      {0, Alt('i'), kDirectory}, {0, Alt('d'), kDescription}, {0, Alt('n'), kName},
      {0, Alt('C'), kControlFile}, {kName, VK_UP, IDCANCEL}, {IDCANCEL, VK_DOWN, kName},
      {IDOK, VK_UP, kControlFile}, {kDirectory, VK_DOWN, kControlFile}, {kControlFile, VK_UP, kDirectory},
      {kControlFile, VK_DOWN, IDOK}, {IDOK, VK_DOWN, IDCANCEL}, {kDescription, VK_UP, kName},
      {kName, VK_DOWN, kDescription}, {kBrowseDirectory, VK_DOWN, kControlFile},
      {kBrowseControlFile, VK_UP, kControlFile}, {kName, VK_RETURN, kDescription},
      {kDescription, VK_RETURN, kDirectory}, {kDirectory, VK_RETURN, kControlFile},
      {kControlFile, VK_RETURN, IDOK},
  };
  DataSource cleanup(UniqueName("keys"), false);
  const std::string description(78, 'w');  // wider than its field
  const std::string list =
      AttributeList({"DSN=" + cleanup.name(), "Description=" + description, "DBQ=C:\\D", "CTX=C:\\D\\M.CTX"});
  RunDialog(kAdd, list, [&](Ui &ui) {
    EXPECT_EQ(kName, ui.FocusId()) << "initial focus";
    for (const auto &m : moves) {
      if (m.from) ui.FocusOn(m.from);
      if (m.key > 0xFFFF) ui.SysChar(static_cast<char>(m.key));
      else ui.Key(m.key);
      EXPECT_EQ(m.to, ui.FocusId()) << "key " << m.key << " from " << m.from;
    }
    HWND field = ui.Item(kDescription);
    DWORD start = 0, end = 0;
    ui.FocusOn(kDescription);
    ui.Key(VK_END);
    SendMessageA(field, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(description.size(), end);
    EXPECT_LT(static_cast<short>(LOWORD(SendMessageA(field, EM_POSFROMCHAR, 0, 0))), 0) << "not scrolled";
    ui.Key(VK_TAB);
    SendMessageA(field, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(0u, start);
    EXPECT_EQ(0u, end);
    const short first = static_cast<short>(LOWORD(SendMessageA(field, EM_POSFROMCHAR, 0, 0)));
    EXPECT_GE(first, 0);
    EXPECT_LT(first, 8);
    // Without a name OK is disabled, so Enter in the last field reaches Cancel.
    ui.Clear(kName);
    ui.FocusOn(kControlFile);
    ui.Key(VK_RETURN);
    EXPECT_EQ(IDCANCEL, ui.FocusId());
    EXPECT_TRUE(ui.Open());
  });
  EXPECT_FALSE(Registered(cleanup.name()));
}

// The key filter leaves keys for the host's own windows alone, and ends when
// no field, OK or Cancel can take the focus.
TEST(Keyboard, FilterLeavesTheHostAloneAndNeverGoesRoundForEver) {
  NEED_DISPLAY();
  RunDialog(kAdd, AddList(), [&](Ui &ui) {
    // The focus in another window of the thread: an arrow key that reaches
    // the dialog must not send the filter round for ever.
    ui.FocusHost();
    ASSERT_EQ(ui.host, ui.Focus());
    ui.Post(ui.Item(kName), WM_KEYDOWN, VK_DOWN, 1);
    EXPECT_TRUE(ui.Open());
    int before = HostKeyDowns();
    HWND focus = ui.Focus();
    PostMessageA(ui.host, WM_KEYDOWN, VK_DOWN, 1);
    ui.Post(ui.host, WM_KEYDOWN, VK_RETURN, 1);
    EXPECT_EQ(before + 2, HostKeyDowns());
    EXPECT_EQ(focus, ui.Focus());
    // Only the focused Browse button can hold the focus: it cannot move.
    ui.FocusOn(kBrowseDirectory);
    const int others[] = {kName, kDescription, kDirectory, kControlFile, IDOK, IDCANCEL, kBrowseControlFile};
    for (int id : others) EnableWindow(ui.Item(id), FALSE);
    ui.Key(VK_DOWN);
    EXPECT_EQ(kBrowseDirectory, ui.FocusId());
    // Two Browse buttons: the focus goes round without an accepted control.
    EnableWindow(ui.Item(kBrowseControlFile), TRUE);
    ui.Key(VK_UP);
    ui.Key(VK_DOWN);
    EXPECT_TRUE(ui.Open());
  });
}

// ---------------------------------------------------------------- accept

// An OK that goes through registers the name and stores the fields as
// shown: a configure that keeps its name (no duplicate of itself), a
// configure that renames (the data source moves), an add with an edited
// field, an add whose texts from the attribute list pass the typing limits
// and 256 characters.
TEST(Accept, OkRegistersTheNameAndStoresTheFieldsAsShown) {
  NEED_DISPLAY();
  const std::string description(256, 'd'), directory = "C:\\" + std::string(254, 'q'),
                    controlFile = directory + "\\" + std::string(1000, 'c');
  // The request, whether the name changes, and the values stored afterwards
  // (an add's list carries them, but for an edited description).
  const struct {
    WORD request;
    bool rename;
    const char *description, *directory, *controlFile;
  } rows[] = {
      {kConfigure, false, "Stored description", "C:\\STORED", "C:\\STORED\\STORED.CTX"},
      {kConfigure, true, "Stored description", "C:\\STORED", "C:\\STORED\\STORED.CTX"},
      {kAdd, false, "Edited in the dialog", "C:\\DATA", "C:\\DATA\\MAIN.CTX"},
      {kAdd, false, description.c_str(), directory.c_str(), controlFile.c_str()},
  };
  for (const auto &row : rows) {
    DataSource from(UniqueName("from"), row.request == kConfigure), to(UniqueName("to"), false);
    const std::string &name = row.rename ? to.name() : from.name();
    SCOPED_TRACE(name);
    const bool edited = !strcmp(row.description, "Edited in the dialog");
    const std::string list =
        row.request == kAdd ? AttributeList({"DSN=" + from.name(),
                                             "Description=" + std::string(edited ? "Sales figures" : row.description),
                                             "DBQ=" + std::string(row.directory), "CTX=" + std::string(row.controlFile)})
                            : AttributeList({"DSN=" + from.name()});
    BOOL r = RunDialog(row.request, list, [&](Ui &ui) {
      if (row.request == kConfigure) {
        EXPECT_EQ(from.name(), Text(ui.Item(kName)));
        EXPECT_EQ("Stored description", Text(ui.Item(kDescription)));
        EXPECT_EQ("C:\\STORED", Text(ui.Item(kDirectory)));
        EXPECT_EQ("C:\\STORED\\STORED.CTX", Text(ui.Item(kControlFile)));
        if (!row.rename) Screenshot("configure-existing", ui.dialog);
      }
      if (edited) ui.Type(kDescription, "Edited in the dialog");
      ui.OkWithName(name);
      EXPECT_EQ(nullptr, WaitMessageBox(ui.uiThread, 300));
      EXPECT_TRUE(ui.WaitClosed());
    });
    EXPECT_EQ(kTrue, r);
    EXPECT_TRUE(Registered(name));
    EXPECT_EQ((std::vector<std::string>{row.description, row.directory, row.controlFile, Driver()}),
              (std::vector<std::string>{StoredValue(name, "Description"), StoredValue(name, "DBQ"),
                                        StoredValue(name, "CTX"), StoredValue(name, "Driver")}));
    EXPECT_EQ(!row.rename, Stored(from.name()));
  }
}

// Any script, both ways: texts of the wide attribute list are shown as
// they are and stored so, and a text typed in another script is stored as
// typed. A configure of a data source whose name the code page holds.
TEST(Accept, TextsInAnyScriptAreShownAndStoredExactly) {
  NEED_DISPLAY();
  const std::string name = UniqueName("script");
  DataSource ds(name);
  const std::string directory = "C:\\Users\\\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD",  // Иван
      controlFile = directory + "\\\xE8\xA1\xA8.CTX",                             // 表.CTX
      typed = "\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82 \xE2\x82\xAC \xCE\xB1";    // Отчёт € α
  std::u16string list = testlib::U16("DSN=" + name) + u'\0' + testlib::U16("DBQ=" + directory) + u'\0' +
                        testlib::U16("CTX=" + controlFile) + u'\0' + u'\0';
  BOOL r = RunDialogW(kConfigure, list, [&](Ui &ui) {
    EXPECT_EQ(directory, Text(ui.Item(kDirectory)));
    EXPECT_EQ(controlFile, Text(ui.Item(kControlFile)));
    ui.Type(kDescription, typed);
    EXPECT_EQ(typed, Text(ui.Item(kDescription)));
    ui.Click(IDOK);
    EXPECT_TRUE(ui.WaitClosed());
  });
  EXPECT_EQ(kTrue, r);
  const std::u16string key = testlib::U16(testlib::DataSourcePath(name));
  for (const auto &v : {std::make_pair("Description", typed), std::make_pair("DBQ", directory),
                        std::make_pair("CTX", controlFile)}) {
    testlib::Value got = testlib::ReadValueW(HKEY_CURRENT_USER, key, testlib::U16(v.first));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), got.type) << v.first;
    EXPECT_TRUE(testlib::SzW(testlib::U16(v.second)) == got.data) << v.first;
  }
}

// A refused OK shows its message and leaves the dialog open with the name
// as typed; a Cancel then stores nothing. The comparison with the initial
// name is exact: the same name in other letter case is another one.
TEST(Accept, RefusedOkKeepsTheDialogOpenAndCancelStoresNothing) {
  NEED_DISPLAY();
  enum Typed { kOwn, kOwnUpper, kOther, kInvalid };
  // kConfigure: of A; kAdd: without a name.
  const struct {
    WORD request;
    Typed typed;
    const char *message, *screenshot;
  } rows[] = {
      {kConfigure, kOther, kDuplicateText, "message-duplicate-name"},
      {kConfigure, kOwnUpper, kDuplicateText, nullptr},
      {kAdd, kOwn, kDuplicateText, nullptr},
      {kAdd, kInvalid, kInvalidText, "message-invalid-name"},
      {kConfigure, kInvalid, kInvalidText, nullptr},
  };
  for (const auto &row : rows) {
    DataSource a(UniqueName("a")), b(UniqueName("b")), invalid("[" + UniqueName("inv"), false);
    std::string upper = a.name();
    CharUpperA(&upper[0]);
    const std::string typed[] = {a.name(), upper, b.name(), invalid.name()};
    const std::string &name = typed[row.typed];
    SCOPED_TRACE(name);
    const std::string list = row.request == kConfigure ? AttributeList({"DSN=" + a.name()}) : AttributeList({});
    BOOL r = RunDialog(row.request, list, [&](Ui &ui) {
      ui.Type(kDescription, "changed");
      ui.OkWithName(name);
      EXPECT_EQ(row.message, AnswerMessageBox(ui, row.screenshot));
      EXPECT_TRUE(ui.Open());
      EXPECT_EQ(name, Text(ui.Item(kName)));
      ui.Click(IDCANCEL);
      EXPECT_TRUE(ui.WaitClosed());
    });
    EXPECT_EQ(kTrue, r);
    EXPECT_FALSE(Registered(name));
    EXPECT_EQ("Stored description", StoredValue(a.name(), "Description"));
    EXPECT_EQ("Stored description", StoredValue(b.name(), "Description"));
    EXPECT_FALSE(Stored(invalid.name()));
  }
}

// ---------------------------------------------------------------- browse

// Folders and files of the build tree for the Open dialog, as Windows paths.
std::string DataPath(const std::string &relative) {
  std::string p = WindowsPath(KVDRM_DIALOG_DATA "/" + relative);
  if (p.back() == '\\') p.pop_back();
  return p;
}
// A path of the table below: "*..." lies in the build tree's data folder.
std::string Path(const char *p) { return *p == '*' ? DataPath(p + 1) : p; }

#define kLongFolder "OTHER\\A FOLDER WITH A NAME LONG ENOUGH"

// Each Browse button starts the Open dialog in the folder of its field, the
// control file's with its name, and fills its field from the choice: the
// control file's whole, the data directory's cut to the folder.
TEST(Browse, OpenDialogStartsFromTheFieldAndFillsIt) {
  NEED_DISPLAY();
  for (const char *dir : {"", "DATA", "DATA\\SET1", "OTHER", kLongFolder})
    CreateDirectoryA(DataPath(dir).c_str(), nullptr);
  for (const char *file : {"DATA\\MAIN.CTX", "DATA\\SET1\\-control.dat", kLongFolder "\\B.CTX"}) {
    HANDLE h = CreateFileA(DataPath(file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << file;
    CloseHandle(h);
  }
  ASSERT_GT(DataPath(kLongFolder "\\B.CTX").size(), 64u) << "a chosen path passes the typing limit";
  // A file whose path is as long as the field takes: 256 characters.
  const std::string longest = std::string("*" kLongFolder "\\") +
                              std::string(255 - DataPath(kLongFolder).size() - 4, 'n') + ".CTX";
  ASSERT_EQ(256u, Path(longest.c_str()).size());
  HANDLE made = CreateFileA(Path(longest.c_str()).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, made);
  CloseHandle(made);
  const struct {
    // The fields; the button, pressed with Enter or clicked; where the Open
    // dialog starts (folder null: not checked); what is typed into it (null:
    // its Cancel); the field afterwards.
    const char *directory, *controlFile;
    int button;
    bool enter;
    const char *folder, *file, *chosen, *field, *screenshot = nullptr;
  } rows[] = {
      {"*DATA", "*DATA\\MAIN.CTX", kBrowseControlFile, false, "*DATA", "MAIN.CTX", "*" kLongFolder "\\B.CTX",
       "*" kLongFolder "\\B.CTX", "open-control-file"},
      {"*DATA\\SET1", "C:\\M.CTX", kBrowseDirectory, false, "*DATA\\SET1", "", "-control.dat", "*DATA\\SET1",
       "open-data-directory"},
      // No directory yet: OK comes back once one is chosen.
      {"", "C:\\M.CTX", kBrowseDirectory, false, nullptr, "", "*DATA\\SET1\\-control.dat", "*DATA\\SET1"},
      // Wine's Open dialog appends the extension only when the file with it
      // exists, as Windows does; a name of no file comes back as typed. A
      // control file still to be made starts in its folder all the same (not
      // in the one chosen last).
      {"C:\\D", "*DATA\\MAIN.CTX", kBrowseControlFile, false, "*DATA", "MAIN.CTX", "MAIN", "*DATA\\MAIN.ctx"},
      {"C:\\D", "*OTHER\\NEW.CTX", kBrowseControlFile, false, "*OTHER", "NEW.CTX", "NEWFILE", "*OTHER\\NEWFILE"},
      {"C:\\D", "*DATA\\MAIN.CTX", kBrowseControlFile, false, "*DATA", "MAIN.CTX", longest.c_str(), longest.c_str()},
      {"C:\\D", "MAIN.CTX", kBrowseControlFile, false, nullptr, "MAIN.CTX", nullptr, "MAIN.CTX"},
      {"*DATA", "*DATA\\MAIN.CTX", kBrowseControlFile, false, "*DATA", "MAIN.CTX", nullptr, "*DATA\\MAIN.CTX"},
      {"*DATA", "*DATA\\MAIN.CTX", kBrowseDirectory, true, "*DATA", "", nullptr, "*DATA"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(std::string(row.directory) + " | " + row.controlFile + " | " + (row.chosen ? row.chosen : "Cancel"));
    const bool controlFile = row.button == kBrowseControlFile;
    const std::vector<std::string> filters = {controlFile ? "CTX Files (*.ctx)" : "Control File (-control.dat)",
                                              "All Files (*.*)"};
    const std::string list =
        AttributeList({"DSN=b", "DBQ=" + Path(row.directory), "CTX=" + Path(row.controlFile)});
    RunDialog(kAdd, list, [&](Ui &ui) {
      EXPECT_EQ(*row.directory != 0, IsWindowEnabled(ui.Item(IDOK)) != FALSE);
      if (row.enter) ui.FocusOn(row.button);
      row.enter ? ui.Key(VK_RETURN) : ui.Click(row.button);
      HWND open = WaitOpenDialog(ui.uiThread);
      ASSERT_NE(nullptr, open);
      ui.Sync();
      if (row.screenshot) Screenshot(row.screenshot, open);
      EXPECT_EQ("Kolvar ODBC Setup", Text(open));
      EXPECT_EQ(ui.dialog, GetWindow(open, GW_OWNER));
      // A Unicode Open dialog answers in UTF-16 whichever form of the message.
      char16_t wideFolder[MAX_PATH + 1] = {};
      SendMessageW(open, CDM_GETFOLDERPATH, MAX_PATH + 1, reinterpret_cast<LPARAM>(wideFolder));
      const std::string folder = testlib::Utf8(wideFolder);
      EXPECT_TRUE(!row.folder || lstrcmpiA(Path(row.folder).c_str(), folder.c_str()) == 0) << "started in " << folder;
      EXPECT_EQ(row.file, Text(GetDlgItem(open, 0x47C)));
      HWND types = GetDlgItem(open, 0x470);
      std::vector<std::string> shown(static_cast<size_t>(SendMessageA(types, CB_GETCOUNT, 0, 0)));
      for (size_t i = 0; i < shown.size(); ++i) {
        char item[256] = {};
        SendMessageA(types, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item));
        shown[i] = item;
      }
      EXPECT_EQ(filters, shown);
      EXPECT_EQ(0, SendMessageA(types, CB_GETCURSEL, 0, 0));
      EXPECT_FALSE(IsWindowVisible(GetDlgItem(open, 0x410))) << "read-only box hidden";
      // The choice typed into the file name and confirmed, or Cancel.
      if (row.chosen) SetWindowTextA(GetDlgItem(open, 0x47C), Path(row.chosen).c_str());
      ui.Click(GetDlgItem(open, row.chosen ? IDOK : IDCANCEL));
      for (int i = 0; i < 250 && IsWindow(open); ++i) Sleep(20);
      EXPECT_FALSE(IsWindow(open)) << "the Open dialog stayed";
      ui.Sync();
      EXPECT_STRCASEEQ(Path(row.field).c_str(), Text(ui.Item(controlFile ? kControlFile : kDirectory)).c_str());
      EXPECT_TRUE(IsWindowEnabled(ui.Item(IDOK)));
    });
  }
}

// ---------------------------------------------------------------- cancel

// Every way out stores nothing: an add leaves no data source, a configure
// its old values, and neither registers the name. A quit that the host
// application posts closes the dialog too, and is passed on to the host.
TEST(Cancel, EveryWayOutStoresNothing) {
  NEED_DISPLAY();
  const struct {
    const char *how;
    WORD request;
    void (*act)(Ui &);
    int quit;  // the quit message left for the host, -1 for none
  } ways[] = {
      {"Cancel button", kAdd, [](Ui &ui) { ui.Click(IDCANCEL); }, -1},
      {"Escape", kConfigure, [](Ui &ui) { ui.Key(VK_ESCAPE); }, -1},
      {"close box", kAdd, [](Ui &ui) { PostMessageA(ui.dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }, -1},
      {"Enter on Cancel", kAdd, [](Ui &ui) { ui.FocusOn(IDCANCEL), ui.Key(VK_RETURN); }, -1},
      {"host quits", kAdd, [](Ui &ui) { ui.HostQuits(7); }, 7},
  };
  for (const auto &w : ways) {
    DataSource ds(UniqueName("cnl"), w.request == kConfigure);
    const std::string list = w.request == kAdd ? AddList(ds.name()) : AttributeList({"DSN=" + ds.name()});
    BOOL r = RunDialog(w.request, list, [&](Ui &ui) {
      ui.Type(kDescription, "not to be kept");
      w.act(ui);
      EXPECT_TRUE(ui.WaitClosed()) << w.how;
    });
    EXPECT_EQ(kTrue, r) << w.how;
    EXPECT_EQ(w.quit, LastQuitCode()) << w.how;
    EXPECT_EQ(w.request == kAdd ? "<missing>" : "Stored description", StoredValue(ds.name(), "Description")) << w.how;
    EXPECT_FALSE(Registered(ds.name())) << w.how;
  }
}

// ---------------------------------------------------------------- no display

// Without a display there is no dialog: the request goes on with the set as
// the attribute list left it, and one that names no data source is a
// request without a name, which fails (not a Cancel).
TEST(NoDisplay, ConfigDsnGoesOnWithoutTheDialog) {
  if (HasDisplay()) GTEST_SKIP() << "runs without an X display";
  DataSource cleanup(UniqueName("nodisp"), false);
  bool saw = true;
  EXPECT_EQ(kTrue, RunDialog(kAdd, AddList(cleanup.name()), [](Ui &) {}, &saw));
  EXPECT_FALSE(saw);
  EXPECT_EQ("Sales figures", StoredValue(cleanup.name(), "Description"));
  EXPECT_EQ("C:\\DATA", StoredValue(cleanup.name(), "DBQ"));
  EXPECT_EQ("C:\\DATA\\MAIN.CTX", StoredValue(cleanup.name(), "CTX"));
  EXPECT_FALSE(Registered(cleanup.name())) << "only the dialog registers the name";
  EXPECT_EQ(FALSE, RunDialog(kAdd, AttributeList({"Description=nameless"}), [](Ui &) {}, &saw));
}

}  // namespace
