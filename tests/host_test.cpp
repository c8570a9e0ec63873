// The saver's entry parsing and its outer window procedure, run in this process with
// a recording stage behind the outer procedure.
#include <gtest/gtest.h>

#include "host/host.h"
#include "support/recording_clip_stage.h"

#include <string>

static std::string TitleOf(HWND window)
{
    char text[64] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

TEST(CommandLine, ProgramNameIsSkipped)
{
    struct Case { const char *commandLine; const char *arguments; };
    const Case cases[] = {
        {"vesperine.scr /s", "/s"},
        {"vesperine.scr", ""},
        {"vesperine.scr    /p 1234", "/p 1234"},
        {"vesperine.scr\t/s", "/s"},                        // any byte up to 0x20 separates
        {"\"C:\\Program Files\\vesperine.scr\" /s", "/s"},
        {"\"C:\\Program Files\\vesperine.scr\"/s", "/s"},   // switch right after the quote
        {"\"C:\\x y\\vesperine.scr /s", ""},                 // missing closing quote swallows it all
        {"\"\" /c", "/c"},
        {" /s", "/s"},                                       // leading blank: no program name
        {"\t\t/c:12", "/c:12"},
        {"", ""},
        {"\xE9t\xE9.scr /s", "/s"},                          // bytes 0x80 and up belong to the name
        {"saver.scr \x01\x02/s", "/s"},                      // control bytes are blanks too
    };
    for (const Case &c : cases)
        EXPECT_STREQ(SkipProgramName(c.commandLine), c.arguments) << "command line: [" << c.commandLine << "]";
}

TEST(CommandLine, WindowHandleIsDecimalAndWrapsAtThirtyTwoBits)
{
    struct Case { const char *text; UINT_PTR handle; };
    const Case cases[] = {
        {"1234", 1234},
        {"0", 0},
        {"", 0},
        {"abc", 0},
        {" 12", 0},                   // no spaces skipped
        {"+12", 0},                   // no sign read
        {"-12", 0},
        {"12ab34", 12},               // the first other byte ends the scan
        {"65548 trailing", 65548},
        {"4294967295", 0xFFFFFFFF},
        {"4294967296", 0},            // 2^32 wraps to 0
        {"4294967297", 1},
        {"99999999999999999999", 1661992959},   // 10^20 - 1 modulo 2^32
        {"12\xB3", 12},               // superscript digits are not digits
    };
    for (const Case &c : cases)
        EXPECT_EQ(reinterpret_cast<UINT_PTR>(ParseWindowHandle(c.text)), c.handle) << "text: [" << c.text << "]";

    std::string thousands(5000, '9');
    UINT32 expected = 0;
    for (char digit : thousands)
        expected = expected * 10 + static_cast<UINT32>(digit - '0');
    EXPECT_EQ(reinterpret_cast<UINT_PTR>(ParseWindowHandle(thousands.c_str())), expected);
}

class SaverWindow : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (parent != nullptr)
            DestroyWindow(parent);
    }
    HWND MakeParent(int width, int height)
    {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = ParentProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "PreviewHolder";
        RegisterClassA(&windowClass);
        RECT frame = {0, 0, width, height};
        AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0);
        parent = CreateWindowExA(0, "PreviewHolder", "Display settings", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                                 frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                                 windowClass.hInstance, nullptr);
        return parent;
    }
    static LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    HWND parent = nullptr;
};

TEST_F(SaverWindow, FullScreenCoversTheVirtualDesktopAsATopmostPopup)
{
    RECT rect = {};
    std::string title;
    LONG_PTR style = 0, extended = 0;
    int result = RunSaverWith(nullptr, [&](HWND window) {
        GetWindowRect(window, &rect);
        title = TitleOf(window);
        style = GetWindowLongPtrA(window, GWL_STYLE);
        extended = GetWindowLongPtrA(window, GWL_EXSTYLE);
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(title, "Screen Saver");
    EXPECT_EQ(static_cast<DWORD>(style), 0x96000000u);
    EXPECT_TRUE(extended & WS_EX_TOPMOST);
    EXPECT_EQ(rect.left, GetSystemMetrics(SM_XVIRTUALSCREEN));
    EXPECT_EQ(rect.top, GetSystemMetrics(SM_YVIRTUALSCREEN));
    EXPECT_EQ(rect.right - rect.left, GetSystemMetrics(SM_CXVIRTUALSCREEN));
    EXPECT_EQ(rect.bottom - rect.top, GetSystemMetrics(SM_CYVIRTUALSCREEN));
    EXPECT_EQ(host.inPreview, 0u);
    EXPECT_EQ(host.autoPlayCancelMessage, 0u);   // registered on the legacy platform only
}

TEST_F(SaverWindow, PreviewFillsTheParentAsCreatedAndKeepsThatSize)
{
    MakeParent(152, 112);
    RECT client = {}, later = {};
    std::string title;
    LONG_PTR style = 0;
    HWND holder = nullptr;
    RunSaverWith(parent, [&](HWND window) {
        GetClientRect(window, &client);
        title = TitleOf(window);
        style = GetWindowLongPtrA(window, GWL_STYLE);
        holder = GetParent(window);
        SetWindowPos(parent, nullptr, 0, 0, 400, 300, SWP_NOMOVE | SWP_NOZORDER);
        GetClientRect(window, &later);
    });
    EXPECT_EQ(holder, parent);
    EXPECT_EQ(title, "Preview");
    EXPECT_EQ(static_cast<DWORD>(style), 0x52000000u);
    EXPECT_EQ(client.right, 152);
    EXPECT_EQ(client.bottom, 112);
    EXPECT_EQ(later.right, 152);
    EXPECT_EQ(later.bottom, 112);
    EXPECT_EQ(host.inPreview, 1u);
}

TEST_F(SaverWindow, TitleChangesAreRefused)
{
    for (bool preview : {false, true}) {
        LRESULT answer = 1;
        std::string title;
        RunSaverWith(preview ? MakeParent(100, 80) : nullptr, [&](HWND window) {
            answer = SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("Hijacked"));
            title = TitleOf(window);
        });
        EXPECT_EQ(answer, 0) << (preview ? "preview" : "full screen");
        EXPECT_EQ(title, preview ? "Preview" : "Screen Saver");
        EXPECT_FALSE(ReachedClipStage(WM_SETTEXT, 0));
    }
}

TEST_F(SaverWindow, WindowSwitchingIsSwallowedInFullScreenOnly)
{
    struct Case { bool preview; WPARAM command; bool passedOn; };
    const Case cases[] = {
        {false, SC_SCREENSAVE, false},
        {false, SC_NEXTWINDOW, false},
        {false, SC_PREVWINDOW, false},
        {false, SC_SCREENSAVE + 2, true},   // compared whole: low bits are not masked off
        {false, SC_NEXTWINDOW + 1, true},
        {false, SC_KEYMENU, true},
        {true, SC_SCREENSAVE, true},
        {true, SC_NEXTWINDOW, true},
        {true, SC_PREVWINDOW, true},
    };
    for (const Case &c : cases) {
        LRESULT answer = -1;
        RunSaverWith(c.preview ? MakeParent(100, 80) : nullptr,
                     [&](HWND window) { answer = SendMessageA(window, WM_SYSCOMMAND, c.command, 0); });
        EXPECT_EQ(ReachedClipStage(WM_SYSCOMMAND, c.command), c.passedOn)
            << (c.preview ? "preview" : "full screen") << ", command 0x" << std::hex << c.command;
        if (!c.passedOn) {
            EXPECT_EQ(answer, 0);
        }
        if (parent != nullptr) {
            DestroyWindow(parent);
            parent = nullptr;
        }
    }
}

TEST_F(SaverWindow, PreviewHandsHelpRequestsToItsParent)
{
    // WM_HELP carries a pointer, and the platform refuses to post such a message, so
    // only WM_CONTEXTMENU can arrive; both are answered 1 and finished here.
    struct Case { UINT message; bool arrives; };
    const Case cases[] = {{WM_CONTEXTMENU, true}, {WM_HELP, false}};
    for (const Case &c : cases) {
        MakeParent(100, 80);
        LRESULT answer = 0;
        MSG posted = {};
        BOOL found = FALSE;
        RunSaverWith(parent, [&](HWND window) {
            answer = SendMessageA(window, c.message, 77, 0x12345);
            found = PeekMessageA(&posted, parent, c.message, c.message, PM_REMOVE);
        });
        SCOPED_TRACE(c.message == WM_HELP ? "WM_HELP" : "WM_CONTEXTMENU");
        EXPECT_EQ(answer, 1);
        EXPECT_FALSE(ReachedClipStage(c.message, 77));
        ASSERT_EQ(found != FALSE, c.arrives);
        if (found) {
            EXPECT_EQ(posted.wParam, reinterpret_cast<WPARAM>(parent));
            EXPECT_EQ(posted.lParam, 0x12345);
        }
        DestroyWindow(parent);
        parent = nullptr;
    }
}

TEST_F(SaverWindow, HelpRequestsInFullScreenArePassedOn)
{
    RunSaverWith(nullptr, [&](HWND window) {
        SendMessageA(window, WM_CONTEXTMENU, 77, 0);
        SendMessageA(window, WM_HELP, 78, 0);
    });
    EXPECT_TRUE(ReachedClipStage(WM_CONTEXTMENU, 77));
    EXPECT_TRUE(ReachedClipStage(WM_HELP, 78));
}

TEST_F(SaverWindow, PreviewWithoutLiveParentAnswersHelpWithoutPosting)
{
    // The parent dies while the preview still answers: nothing can be posted, the answer stays 1.
    MakeParent(100, 80);
    LRESULT answer = 0;
    RunSaverWith(parent, [&](HWND window) {
        SetParent(window, nullptr);
        answer = SendMessageA(window, WM_CONTEXTMENU, 0, 0);
    });
    EXPECT_EQ(answer, 1);
}

TEST_F(SaverWindow, InputContextIsDetachedForTheWindowsLife)
{
    ASSERT_NE(GetModuleHandleA("IMM32.DLL"), nullptr);
    HIMC during = reinterpret_cast<HIMC>(1);
    RunSaverWith(nullptr, [&](HWND window) {
        during = ImmGetContext(window);
        if (during != nullptr)
            ImmReleaseContext(window, during);
    });
    ASSERT_NE(host.savedInputContext, nullptr) << "the window had no input context to detach";
    EXPECT_EQ(clipStage.contextAtCreate, nullptr);
    EXPECT_EQ(during, nullptr);
    EXPECT_EQ(clipStage.contextAtTeardown, host.savedInputContext);
    EXPECT_TRUE(clipStage.quitPostedBeforeTeardown);
}

TEST_F(SaverWindow, CursorIsHiddenInFullScreenOnly)
{
    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    for (bool preview : {false, true}) {
        SetCursor(arrow);
        HCURSOR afterPaint = nullptr;
        RunSaverWith(preview ? MakeParent(100, 80) : nullptr, [&](HWND window) {
            SetCursor(arrow);
            InvalidateRect(window, nullptr, TRUE);
            UpdateWindow(window);
            afterPaint = GetCursor();
        });
        EXPECT_EQ(clipStage.cursorAtCreate, preview ? arrow : nullptr) << (preview ? "preview" : "full screen");
        EXPECT_EQ(afterPaint, preview ? arrow : nullptr) << (preview ? "preview" : "full screen");
        EXPECT_TRUE(ReachedClipStage(WM_PAINT, 0));
        if (parent != nullptr) {
            DestroyWindow(parent);
            parent = nullptr;
        }
    }
}

TEST_F(SaverWindow, TimerTicksGiveWayUntilClosingIsAllowed)
{
    LRESULT answer = -1;
    RunSaverWith(nullptr, [&](HWND window) { answer = SendMessageA(window, WM_TIMER, 50, 0); });
    EXPECT_TRUE(ReachedClipStage(WM_TIMER, 50));
    EXPECT_EQ(answer, 0);
}

TEST_F(SaverWindow, OnceClosingIsAllowedInputPaintAndTimersStopAtTheWindow)
{
    const UINT stopped[] = {WM_KEYDOWN, WM_SYSKEYDOWN, WM_MOUSEMOVE, WM_LBUTTONDOWN,
                            WM_RBUTTONDOWN, WM_MBUTTONDOWN, WM_PAINT, WM_TIMER};
    LRESULT timerAnswer = -1;
    RunSaverWith(nullptr, [&](HWND window) {
        host.closeAllowed = 1;
        clipStage.reached.clear();
        for (UINT message : stopped)
            if (message != WM_PAINT && message != WM_TIMER)
                SendMessageA(window, message, 0, 0);
        InvalidateRect(window, nullptr, TRUE);
        UpdateWindow(window);
        timerAnswer = SendMessageA(window, WM_TIMER, 50, 0);
        SendMessageA(window, WM_KEYUP, 0, 0);
        RECT dirty;
        EXPECT_FALSE(GetUpdateRect(window, &dirty, FALSE)) << "the paint was not validated";
    });
    for (const ReachedMessage &reached : clipStage.reached)
        for (UINT message : stopped)
            EXPECT_NE(reached.message, message) << "message 0x" << std::hex << message << " was passed on";
    EXPECT_EQ(timerAnswer, 0);
    EXPECT_TRUE(ReachedClipStage(WM_KEYUP, 0));   // not in the list: still passed on
}

TEST_F(SaverWindow, NoWindowWhenTheClassCannotBeRegistered)
{
    // A class of the same name already registered by this module: RegisterClassA
    // fails, no window is made and no loop runs.
    host = SaverHostState{};
    host.instance = GetModuleHandleA(nullptr);
    WNDCLASSA squatter = {};
    squatter.lpfnWndProc = DefWindowProcA;
    squatter.hInstance = host.instance;
    squatter.lpszClassName = "WindowsScreenSaverClass";
    UnregisterClassA("WindowsScreenSaverClass", host.instance);
    ASSERT_TRUE(RegisterClassA(&squatter));
    clipStage = ClipStageRecord{};
    EXPECT_EQ(RunSaver(nullptr), 0);
    EXPECT_EQ(host.saverWindow, nullptr);
    EXPECT_TRUE(clipStage.reached.empty());
    UnregisterClassA("WindowsScreenSaverClass", host.instance);
}
