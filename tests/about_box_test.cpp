// The About box: its procedure run here on the template of the built saver, for the
// fonts it puts on each control and leaves behind; and the built saver as a process,
// for every way of closing the box, the link button and a picture of the box.
#include <windows.h>

#include <gtest/gtest.h>

#include "about/about_dialog.h"
#include "resources/resource_ids.h"
#include "support/test_paths.h"
#include "support/saver_process.h"
#include "support/screen_picture.h"

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

static const char kMakerPage[] = "http://www.duskmere.example/";

// ---- The procedure in this process -------------------------------------------------

// What a control showed while the box was open.
struct ControlFont {
    int id;
    bool picture;   // the bitmap static: it draws no text and keeps no font
    HFONT font;
    LOGFONTA look;
};

struct OpenBox {
    HFONT dialogFont = nullptr;
    std::vector<ControlFont> controls;
};

static HWND DialogOfThisThread()
{
    HWND found = nullptr;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM lParam) -> BOOL {
            char className[16] = "";
            GetClassNameA(window, className, sizeof className);
            if (lstrcmpA(className, "#32770") != 0)
                return TRUE;
            *reinterpret_cast<HWND *>(lParam) = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

static std::function<void(HWND)> whileOpen;

static void CALLBACK LookAndClose(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND dialog = DialogOfThisThread();
    if (dialog == nullptr)
        return;
    KillTimer(nullptr, timer);
    whileOpen(dialog);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
}

// Runs the saver's own template, taken from the built saver, as a modal box with
// AboutDialogProc; `look` sees the open box, which is then cancelled. Returns the
// box's result.
static INT_PTR RunAboutBoxHere(std::function<void(HWND)> look)
{
    HMODULE image = LoadLibraryExA(VESPERINE_SCR_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (image == nullptr)
        return -2;
    HRSRC found = FindResourceExA(image, RT_DIALOG, MAKEINTRESOURCEA(IDD_ABOUT), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    auto *dialogTemplate = found ? static_cast<LPCDLGTEMPLATEA>(LockResource(LoadResource(image, found))) : nullptr;
    if (dialogTemplate == nullptr) {
        FreeLibrary(image);
        return -2;
    }
    whileOpen = std::move(look);
    UINT_PTR timer = SetTimer(nullptr, 0, 50, LookAndClose);
    INT_PTR result = DialogBoxIndirectParamA(GetModuleHandleA(nullptr), dialogTemplate, nullptr, AboutDialogProc, 0);
    KillTimer(nullptr, timer);
    FreeLibrary(image);
    return result;
}

static OpenBox FontsOf(HWND dialog)
{
    OpenBox box;
    box.dialogFont = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    for (HWND control = GetWindow(dialog, GW_CHILD); control != nullptr; control = GetWindow(control, GW_HWNDNEXT)) {
        bool picture = (GetWindowLongA(control, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP && GetDlgCtrlID(control) == -1;
        ControlFont row = {GetDlgCtrlID(control), picture,
                           reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)), {}};
        GetObjectA(row.font, sizeof row.look, &row.look);
        box.controls.push_back(row);
    }
    return box;
}

TEST(AboutBoxHere, BoldOnTheNameAndCopyrightUnderlineOnTheLinkTheRestAsTheDialog)
{
    OpenBox box;
    int dpi = 0;
    EXPECT_EQ(RunAboutBoxHere([&](HWND dialog) {
                  box = FontsOf(dialog);
                  HDC dc = GetDC(dialog);
                  dpi = GetDeviceCaps(dc, LOGPIXELSY);
                  ReleaseDC(dialog, dc);
              }),
              1);
    ASSERT_NE(box.dialogFont, nullptr);
    ASSERT_EQ(box.controls.size(), 9u);

    enum Expected { DialogFont, Bold, Link };
    auto expectedFor = [](int id) { return id == 1001 || id == 1002 ? Bold : id == 1000 ? Link : DialogFont; };
    for (size_t i = 0; i < box.controls.size(); ++i) {
        const ControlFont &row = box.controls[i];
        SCOPED_TRACE("control " + std::to_string(i + 1) + ", id " + std::to_string(row.id));
        if (row.picture)
            continue;
        switch (expectedFor(row.id)) {
        case DialogFont:
            EXPECT_EQ(row.font, box.dialogFont);
            break;
        case Bold:
        case Link:
            EXPECT_NE(row.font, box.dialogFont);
            bool bold = expectedFor(row.id) == Bold;
            EXPECT_EQ(row.look.lfWeight, bold ? FW_BOLD : 0);
            EXPECT_EQ(row.look.lfUnderline, bold ? 0 : 1);
            EXPECT_EQ(row.look.lfItalic, 0);
            EXPECT_EQ(row.look.lfStrikeOut, 0);
            EXPECT_EQ(row.look.lfHeight, -MulDiv(8, dpi, 72));
            EXPECT_EQ(row.look.lfQuality, NONANTIALIASED_QUALITY);
            EXPECT_STREQ(row.look.lfFaceName, "MS Sans Serif");
            break;
        }
    }
    // One bold font serves both bold controls.
    HFONT bold[2] = {};
    for (const ControlFont &row : box.controls)
        if (row.id == 1001 || row.id == 1002)
            bold[row.id - 1001] = row.font;
    EXPECT_EQ(bold[0], bold[1]);
}

TEST(AboutBoxHere, OpeningAndClosingLeavesNoFontBehind)
{
    const DWORD gdiBefore = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    for (int round = 1; round <= 4; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::vector<HFONT> made;
        EXPECT_EQ(RunAboutBoxHere([&](HWND dialog) {
                      for (const ControlFont &row : FontsOf(dialog).controls)
                          if (row.id == 1000 || row.id == 1001)
                              made.push_back(row.font);
                  }),
                  1);
        ASSERT_EQ(made.size(), 2u);
        for (HFONT font : made) {
            EXPECT_NE(font, nullptr);
            EXPECT_EQ(GetObjectType(font), 0u) << "font " << font << " still exists after the box closed";
        }
    }
    // Wine 8 answers 0 here, and then the handle checks above stand alone.
    const DWORD gdiAfter = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (gdiBefore != 0) {
        EXPECT_EQ(gdiAfter, gdiBefore);
    }
}

// ---- The built saver as a process ----------------------------------------------------
// Under Wine 8 a WM_GETFONT sent from here to the saver's windows answers 0, even for
// the dialog itself, and GetObjectA cannot read a font of another process: the fonts
// are read in AboutBoxHere above, where the procedure runs in this process.

class AboutBoxProcess : public ::testing::Test {
protected:
    void TearDown() override { EndLeftoverSavers(); }

    // Starts the saver with `arguments` and waits for its About box.
    HWND OpenAboutBox(const std::string &arguments)
    {
        saver = StartSaver(SaverCommand(arguments));
        HWND dialog = saver.process ? WaitForWindowOfClass(saver, "#32770") : nullptr;
        PumpMessagesFor(200);   // let it paint
        return dialog;
    }
    SaverProcess saver;
};

static void PostKey(HWND window, WPARAM key)
{
    UINT scan = MapVirtualKeyA(static_cast<UINT>(key), MAPVK_VK_TO_VSC);
    PostMessageA(window, WM_KEYDOWN, key, 1 | (scan << 16));
    PostMessageA(window, WM_KEYUP, key, 1 | (scan << 16) | 0xC0000000u);
}

static HWND FocusOf(HWND dialog)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
    return info.hwndFocus;
}

TEST_F(AboutBoxProcess, EveryWayOfClosingEndsWithOne)
{
    struct Case {
        const char *way;
        void (*close)(HWND dialog);
    };
    const Case cases[] = {
        {"OK clicked", [](HWND dialog) { PostMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0); }},
        {"Escape on the focused control", [](HWND dialog) { PostKey(FocusOf(dialog), VK_ESCAPE); }},
        {"Enter on the default button", [](HWND dialog) { PostKey(FocusOf(dialog), VK_RETURN); }},
        {"the close box", [](HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        {"the cancel command", [](HWND dialog) { PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0); }},
    };
    for (const char *arguments : {"/c", ""}) {
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(c.way) + ", arguments [" + arguments + "]");
            HWND dialog = OpenAboutBox(arguments);
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(FocusOf(dialog), GetDlgItem(dialog, IDCANCEL)) << "the OK button should have the focus";
            EXPECT_EQ(LOWORD(SendMessageA(dialog, DM_GETDEFID, 0, 0)), IDCANCEL);
            c.close(dialog);
            EXPECT_EQ(WaitForExit(saver, 5000), 1u);
        }
    }
}

// Routes web addresses, http and https, in this prefix to the recorder for the test's
// lifetime, and puts back the commands that were there. Wine's ShellExecuteA reads the
// protocol's command from HKEY_CLASSES_ROOT, which here is the machine's classes only:
// a key under HKEY_CURRENT_USER\Software\Classes is not looked at.
class RoutedWebAddresses {
public:
    explicit RoutedWebAddresses(const std::string &record)
    {
        const std::string command = "\"" URL_RECORDER_PATH "\" \"" + record + "\" \"%1\"";
        routed = true;
        for (Protocol &protocol : protocols) {
            char old[1024] = "";
            LONG size = sizeof old;
            protocol.hadCommand = RegQueryValueA(HKEY_CLASSES_ROOT, protocol.key, old, &size) == ERROR_SUCCESS;
            protocol.oldCommand = old;
            routed = Write(protocol.key, command) && routed;
        }
    }
    ~RoutedWebAddresses()
    {
        for (const Protocol &protocol : protocols) {
            if (protocol.hadCommand)
                Write(protocol.key, protocol.oldCommand);
            else
                RegDeleteKeyA(HKEY_CLASSES_ROOT, protocol.key);
        }
    }
    bool routed = false;

private:
    static bool Write(const char *key, const std::string &command)
    {
        return RegSetValueA(HKEY_CLASSES_ROOT, key, REG_SZ, command.c_str(), static_cast<DWORD>(command.size())) ==
               ERROR_SUCCESS;
    }
    struct Protocol {
        const char *key;
        bool hadCommand;
        std::string oldCommand;
    };
    Protocol protocols[2] = {{"http\\shell\\open\\command", false, ""}, {"https\\shell\\open\\command", false, ""}};
};

static std::vector<std::string> LinesOf(const std::string &path)
{
    std::vector<std::string> lines;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

static bool WaitForLines(const std::string &path, size_t lines, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (LinesOf(path).size() < lines && GetTickCount() - start < timeoutMs)
        PumpMessagesFor(50);
    return LinesOf(path).size() >= lines;
}

TEST_F(AboutBoxProcess, LinkOpensTheMakersPageEachTimeAndTheBoxStaysOpen)
{
    CreateDirectoryA(TEST_WORK_DIR, nullptr);
    const std::string record = TEST_WORK_DIR "\\opened-pages.txt";
    DeleteFileA(record.c_str());
    RoutedWebAddresses routing(record);
    ASSERT_TRUE(routing.routed);

    HWND dialog = OpenAboutBox("/c");
    ASSERT_NE(dialog, nullptr);
    for (size_t click = 1; click <= 2; ++click) {
        SCOPED_TRACE("click " + std::to_string(click));
        PostMessageA(GetDlgItem(dialog, 1000), BM_CLICK, 0, 0);
        EXPECT_TRUE(WaitForLines(record, click, 10000)) << "the page was not opened";
        EXPECT_TRUE(IsWindowVisible(dialog));
        EXPECT_EQ(WaitForSingleObject(saver.process, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the saver ended";
    }
    EXPECT_EQ(LinesOf(record), std::vector<std::string>({kMakerPage, kMakerPage}));
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(WaitForExit(saver, 5000), 1u);
    DeleteFileA(record.c_str());
}

// Writes the screen's pixels under `window` to a BMP file.
static bool SavePictureOf(HWND window, const char *path)
{
    RECT frame;
    GetWindowRect(window, &frame);
    return SavePicture(CaptureScreen(frame), path);
}

TEST_F(AboutBoxProcess, PictureOfTheConfigureBoxIsSaved)
{
    HWND dialog = OpenAboutBox("/c");
    ASSERT_NE(dialog, nullptr);
    SetForegroundWindow(dialog);
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    PumpMessagesFor(300);
    EXPECT_TRUE(SavePictureOf(dialog, ABOUT_SCREENSHOT_PATH));
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(WaitForExit(saver, 5000), 1u);
}
