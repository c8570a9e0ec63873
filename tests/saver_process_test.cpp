// The built saver as a process: which mode each command line runs, what it shows
// and the exit code it ends with.
#include <gtest/gtest.h>

#include "support/test_paths.h"
#include "support/saver_process.h"

#include <fstream>
#include <random>
#include <sstream>

static const DWORD kRefused = 0xFFFFFFFF;   // -1 as the parent sees it

enum class Shows { Nothing, FullScreen, Preview, AboutBox };

// What a run showed and how it ended. The windows it opens are closed as soon as
// they have been looked at.
struct RunResult {
    Shows shows = Shows::Nothing;
    HWND window = nullptr;     // the saver window or the About box
    HWND relative = nullptr;   // the preview's parent, or the About box's owner
    DWORD exitCode = STILL_ACTIVE;
};

static RunResult RunAndObserve(const std::string &commandLine, const std::string &application = VESPERINE_SCR_PATH,
                               const std::vector<std::string> &environment = {})
{
    RunResult result;
    SaverProcess saver = StartSaver(commandLine, application, environment);
    if (saver.process == nullptr) {
        ADD_FAILURE() << "could not start: " << commandLine;
        return result;
    }
    DWORD start = GetTickCount();
    while (WaitForSingleObject(saver.process, 0) == WAIT_TIMEOUT && GetTickCount() - start < 10000) {
        for (HWND window : WindowsOfProcess(saver.id)) {
            std::string className = WindowClassOf(window);
            if (className == "#32770" && IsWindowVisible(window) && result.shows == Shows::Nothing) {
                result = {Shows::AboutBox, window, GetWindow(window, GW_OWNER)};
            } else if (className == "WindowsScreenSaverClass" && result.shows == Shows::Nothing) {
                bool child = (GetWindowLongPtrA(window, GWL_STYLE) & WS_CHILD) != 0;
                result = {child ? Shows::Preview : Shows::FullScreen, window, child ? GetParent(window) : nullptr};
            }
        }
        if (result.shows != Shows::Nothing)
            CloseSaverWindows(saver.id);
        PumpMessagesFor(20);
    }
    result.exitCode = WaitForExit(saver, 5000);
    return result;
}

static const char *Describe(Shows shows)
{
    switch (shows) {
    case Shows::Nothing: return "nothing";
    case Shows::FullScreen: return "full screen";
    case Shows::Preview: return "preview";
    case Shows::AboutBox: return "About box";
    }
    return "?";
}

class SaverProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        holder = CreateHostWindow(152, 112);
        SetForegroundWindow(holder);
        PumpMessagesFor(50);
    }
    void TearDown() override
    {
        EndLeftoverSavers();
        DestroyWindow(holder);
    }
    HWND holder = nullptr;
};

TEST_F(SaverProcessTest, CommandLineChoosesTheMode)
{
    const std::string live = Decimal(reinterpret_cast<UINT_PTR>(holder));
    const std::string wrapped = Decimal(reinterpret_cast<UINT_PTR>(holder) + 0x100000000ull);
    const std::string dead = Decimal(reinterpret_cast<UINT_PTR>(DeadWindowHandle()));
    const std::string exe = VESPERINE_SCR_PATH;
    enum Owner { NoOwner, Holder, Foreground };
    struct Case { std::string commandLine; Shows shows; Owner relative; DWORD exitCode; };
    const Case cases[] = {
        // separators and the switch letter in both cases
        {"\"" + exe + "\" /s", Shows::FullScreen, NoOwner, 0},
        {"\"" + exe + "\" -s", Shows::FullScreen, NoOwner, 0},
        {"\"" + exe + "\" s", Shows::FullScreen, NoOwner, 0},
        {"\"" + exe + "\" /S", Shows::FullScreen, NoOwner, 0},
        {"\"" + exe + "\" - -/s", Shows::FullScreen, NoOwner, 0},
        {"\"" + exe + "\" /s " + live, Shows::FullScreen, NoOwner, 0},
        // the preview forms
        {"\"" + exe + "\" /p " + live, Shows::Preview, Holder, 0},
        {"\"" + exe + "\" /p" + live, Shows::Preview, Holder, 0},
        {"\"" + exe + "\" /P    " + live, Shows::Preview, Holder, 0},
        {"\"" + exe + "\" /l " + live, Shows::Preview, Holder, 0},
        {"\"" + exe + "\" -L " + live, Shows::Preview, Holder, 0},
        {"\"" + exe + "\" /p " + wrapped, Shows::Preview, Holder, 0},   // 32-bit wrap-around
        {"\"" + exe + "\" /p", Shows::Nothing, NoOwner, kRefused},
        {"\"" + exe + "\" /p 0", Shows::Nothing, NoOwner, kRefused},
        {"\"" + exe + "\" /p abc", Shows::Nothing, NoOwner, kRefused},
        {"\"" + exe + "\" /p:" + live, Shows::Nothing, NoOwner, kRefused},
        {"\"" + exe + "\" /p " + dead, Shows::Nothing, NoOwner, kRefused},
        // configure and the empty argument string
        {"\"" + exe + "\"", Shows::AboutBox, NoOwner, 1},
        {"\"" + exe + "\" /", Shows::AboutBox, NoOwner, 1},
        {"\"" + exe + "\" - /", Shows::AboutBox, NoOwner, 1},
        {"\"" + exe + "\" /c:" + live, Shows::AboutBox, Holder, 1},
        {"\"" + exe + "\" /C:" + live, Shows::AboutBox, Holder, 1},
        {"\"" + exe + "\" /c", Shows::AboutBox, Foreground, 1},
        {"\"" + exe + "\" /c:", Shows::AboutBox, Foreground, 1},
        {"\"" + exe + "\" /c:xyz", Shows::AboutBox, Foreground, 1},
        {"\"" + exe + "\" /c " + live, Shows::AboutBox, Foreground, 1},   // a space, not a colon
        {"\"" + exe + "\" /c:" + dead, Shows::AboutBox, Foreground, 1},
        // password change off the legacy platform, and refused switches
        {"\"" + exe + "\" /a " + live, Shows::Nothing, NoOwner, kRefused},
        {"\"" + exe + "\" -A", Shows::Nothing, NoOwner, kRefused},
        {"\"" + exe + "\" /x", Shows::Nothing, NoOwner, kRefused},
        {"\"" + exe + "\" /?", Shows::Nothing, NoOwner, kRefused},
        {"\"" + exe + "\" /\t/s", Shows::Nothing, NoOwner, kRefused},
        {"\"" + exe + "\" 1234", Shows::Nothing, NoOwner, kRefused},
        {"\"" + exe + "\" /\xE9", Shows::Nothing, NoOwner, kRefused},
        // program-name forms
        {"\"" + exe + "\"/s", Shows::FullScreen, NoOwner, 0},
        {"\"C:\\Program Files\\Saver Folder\\vesperine.scr\" /s", Shows::FullScreen, NoOwner, 0},
        {"vesperine.scr /s", Shows::FullScreen, NoOwner, 0},
        {"\"C:\\Program Files\\vesperine.scr /s", Shows::AboutBox, NoOwner, 1},   // unclosed quote
        {" /s", Shows::FullScreen, NoOwner, 0},                                  // leading blank
        {" /x", Shows::Nothing, NoOwner, kRefused},
        {"\t/p " + live, Shows::Preview, Holder, 0},
    };
    for (const Case &c : cases) {
        SetForegroundWindow(holder);
        PumpMessagesFor(20);
        HWND foreground = GetForegroundWindow();
        RunResult run = RunAndObserve(c.commandLine);
        SCOPED_TRACE("command line: [" + c.commandLine + "]");
        EXPECT_EQ(run.shows, c.shows) << "showed " << Describe(run.shows) << ", expected " << Describe(c.shows);
        EXPECT_EQ(run.exitCode, c.exitCode);
        HWND expected = c.relative == Holder ? holder : c.relative == Foreground ? foreground : nullptr;
        if (run.shows == c.shows && c.shows != Shows::FullScreen) {
            EXPECT_EQ(run.relative, expected);
        }
    }
}

TEST_F(SaverProcessTest, FullScreenWindowCoversTheDesktop)
{
    SaverProcess saver = StartSaver(SaverCommand("/s"));
    HWND window = WaitForWindowOfClass(saver, "WindowsScreenSaverClass");
    ASSERT_NE(window, nullptr);
    RECT rect = {};
    GetWindowRect(window, &rect);
    EXPECT_EQ(WindowTextOf(window), "Screen Saver");
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongPtrA(window, GWL_STYLE)), 0x96000000u);
    EXPECT_TRUE(GetWindowLongPtrA(window, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_EQ(rect.left, GetSystemMetrics(SM_XVIRTUALSCREEN));
    EXPECT_EQ(rect.top, GetSystemMetrics(SM_YVIRTUALSCREEN));
    EXPECT_EQ(rect.right, GetSystemMetrics(SM_XVIRTUALSCREEN) + GetSystemMetrics(SM_CXVIRTUALSCREEN));
    EXPECT_EQ(rect.bottom, GetSystemMetrics(SM_YVIRTUALSCREEN) + GetSystemMetrics(SM_CYVIRTUALSCREEN));
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForExit(saver), 0u);
}

TEST_F(SaverProcessTest, SecondFullScreenStartEndsAtOnce)
{
    SaverProcess first = StartSaver(SaverCommand("/s"));
    HWND window = WaitForWindowOfClass(first, "WindowsScreenSaverClass");
    ASSERT_NE(window, nullptr);

    DWORD start = GetTickCount();
    SaverProcess second = StartSaver(SaverCommand("/s"));
    EXPECT_EQ(WaitForExit(second, 5000), 0u);
    EXPECT_LT(GetTickCount() - start, 3000u);
    EXPECT_TRUE(IsWindow(window));

    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForExit(first), 0u);
}

TEST_F(SaverProcessTest, FullScreenStartBringsAnExistingSaverWindowToTheFront)
{
    // A full-screen saver window of this class and title, here in the test process,
    // behind the display settings' window.
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "WindowsScreenSaverClass";
    RegisterClassA(&windowClass);
    HWND running = CreateWindowExA(0, "WindowsScreenSaverClass", "Screen Saver", WS_POPUP | WS_VISIBLE, 0, 0, 64, 64,
                                   nullptr, nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(running, nullptr);
    SetForegroundWindow(holder);
    PumpMessagesFor(100);
    ASSERT_EQ(GetForegroundWindow(), holder);

    SaverProcess saver = StartSaver(SaverCommand("/s"));
    EXPECT_EQ(WaitForExit(saver, 5000), 0u);
    PumpMessagesFor(100);
    EXPECT_EQ(GetForegroundWindow(), running);
    DestroyWindow(running);
    UnregisterClassA("WindowsScreenSaverClass", windowClass.hInstance);
}

TEST_F(SaverProcessTest, PreviewHandsHelpRequestsToTheDisplaySettings)
{
    SaverProcess saver = StartSaver(SaverCommand("/p " + Decimal(reinterpret_cast<UINT_PTR>(holder))));
    HWND preview = WaitForWindowOfClass(saver, "WindowsScreenSaverClass");
    ASSERT_NE(preview, nullptr);
    RECT client = {};
    GetClientRect(preview, &client);
    EXPECT_EQ(GetParent(preview), holder);
    EXPECT_EQ(WindowTextOf(preview), "Preview");
    EXPECT_EQ(client.right, 152);
    EXPECT_EQ(client.bottom, 112);

    postedToHost.clear();
    EXPECT_EQ(SendMessageA(preview, WM_CONTEXTMENU, 0, MAKELPARAM(30, 40)), 1);
    PumpMessagesFor(100);
    ASSERT_EQ(postedToHost.size(), 1u);
    EXPECT_EQ(postedToHost[0].message, static_cast<UINT>(WM_CONTEXTMENU));
    EXPECT_EQ(postedToHost[0].wParam, reinterpret_cast<WPARAM>(holder));
    EXPECT_EQ(postedToHost[0].lParam, MAKELPARAM(30, 40));

    PostMessageA(preview, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForExit(saver), 0u);
}
