// The built saver driven the way the display settings and the system drive it: the
// settings page's monitor picture with the preview in it, and the full-screen saver
// ended by each kind of user input, by losing activation and by a suspend. Input goes
// through the system's own input queue (SendInput), so it reaches the saver the way a
// keyboard and a mouse would.
#include <gtest/gtest.h>

#include "support/test_paths.h"
#include "support/saver_process.h"
#include "support/screen_picture.h"
#include "support/mixer_log.h"

#include <functional>

static const char kClipCopy[] = "C:\\windows\\vidtmp.avi";
static const int kMonitorWidth = 152, kMonitorHeight = 112;

static bool FileExists(const char *path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// The display settings' page: a 152 x 112 child stands in for the monitor picture and
// the preview fills it; closing the page (destroying the monitor's parent) ends the
// saver with 0. The page is saved as a screenshot.
TEST(SettingsPage, PreviewFillsTheMonitorPictureAndEndsWithThePage)
{
    HWND page = CreateHostWindow(400, 260);
    ASSERT_NE(page, nullptr);
    HWND monitor = CreateWindowExA(0, "VesperineTestHost", "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 124, 40,
                                   kMonitorWidth, kMonitorHeight, page, nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(monitor, nullptr);
    SaverProcess saver = StartSaver(SaverCommand("/p " + Decimal(reinterpret_cast<UINT_PTR>(monitor))));
    HWND preview = WaitForWindowOfClass(saver, "WindowsScreenSaverClass");
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(GetParent(preview), monitor);
    PumpMessagesFor(500);

    // The picture itself is not compared with the screen: under Wine 8 what a process
    // paints into a child of another process's window never reaches the display (the
    // saver's BitBlt of the scaled picture runs with a full visible region, and the
    // screen stays black there). The in-process tests check the picture.
    RECT client = {};
    GetClientRect(preview, &client);
    EXPECT_EQ(client.right, kMonitorWidth);
    EXPECT_EQ(client.bottom, kMonitorHeight);
    RECT pageArea = {};
    GetWindowRect(page, &pageArea);
    SavePicture(CaptureScreen(pageArea), PREVIEW_PAGE_SCREENSHOT_PATH);

    DestroyWindow(page);
    EXPECT_EQ(WaitForExit(saver, 5000), 0u);
}

static void SendClick()
{
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, inputs, sizeof(INPUT));
}

// A relative move of the mouse by (dx, dy) pixels.
static void SendMouseTravel(int dx, int dy)
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = dx;
    input.mi.dy = dy;
    input.mi.dwFlags = MOUSEEVENTF_MOVE;
    SendInput(1, &input, sizeof(INPUT));
}

class FullScreenSaver : public ::testing::Test {
protected:
    void SetUp() override
    {
        CreateDirectoryA(TEST_WORK_DIR, nullptr);
        logPath = std::string(TEST_WORK_DIR) + "\\mixer-acceptance.log";
        DeleteFileA(kClipCopy);
    }
    void TearDown() override
    {
        EndLeftoverSavers();
        DeleteFileA(kClipCopy);
    }

    // Starts the saver with the cursor at the screen's centre and waits until the clip
    // plays and the first caption has begun to fade in: the layer's log shows the
    // caption drawn and then given two rising opacities.
    HWND StartPlaying()
    {
        DeleteFileA(logPath.c_str());
        SetCursorPos(GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2);
        PumpMessagesFor(100);
        saver = StartSaver(SaverCommand("/s"), VESPERINE_SCR_PATH, {"VESPERINE_MIXER_LOG=" + logPath});
        HWND window = WaitForWindowOfClass(saver, "WindowsScreenSaverClass");
        if (window == nullptr)
            return nullptr;
        DWORD start = GetTickCount();
        while (GetTickCount() - start < 15000 && FadeSteps().size() < 2)
            PumpMessagesFor(50);
        return window;
    }

    // Opacities the first caption was given after its draw.
    std::vector<double> FadeSteps()
    {
        std::vector<double> steps;
        bool drawn = false;
        for (const MixerCall &call : ReadMixerLog(logPath)) {
            if (call.call == "SetAlphaBitmap") {
                if (drawn)
                    break;
                drawn = true;
                steps.push_back(call.Number("alpha"));
            } else if (drawn && call.call == "UpdateAlphaBitmapParameters") {
                steps.push_back(call.Number("alpha"));
            }
        }
        return steps.size() > 1 ? std::vector<double>(steps.begin() + 1, steps.end()) : std::vector<double>();
    }

    // Milliseconds until the saver ended (its exit code in `code`), or more than
    // `limitMs` if it was still running then.
    DWORD TimeToExit(DWORD limitMs, DWORD &code)
    {
        DWORD start = GetTickCount();
        while (WaitForSingleObject(saver.process, 0) == WAIT_TIMEOUT && GetTickCount() - start <= limitMs)
            PumpMessagesFor(5);
        DWORD elapsed = GetTickCount() - start;
        code = STILL_ACTIVE;
        if (WaitForSingleObject(saver.process, 0) == WAIT_OBJECT_0)
            code = WaitForExit(saver);
        return elapsed;
    }

    std::string logPath;
    SaverProcess saver;
};

// Each way of ending, delivered once the clip plays: the saver ends with 0 within a
// second and leaves no clip copy behind. A mouse travel of 4 pixels (2 + 2) is
// tolerated; one pixel more against the same reference ends it.
TEST_F(FullScreenSaver, EachWayOfEndingClosesItWithinASecondAndLeavesNothing)
{
    HWND other = CreateHostWindow(200, 100);
    struct Ending {
        const char *name;
        std::function<void(HWND)> deliver;
        bool ends;
    };
    const Ending endings[] = {
        {"key press", [](HWND) { SendKeyPress(VK_SPACE); }, true},
        {"mouse click", [](HWND) { SendClick(); }, true},
        {"mouse travel of 5 pixels", [](HWND) { SendMouseTravel(3, 2); }, true},
        {"mouse travel of 4 pixels", [](HWND) { SendMouseTravel(2, 2); }, false},
        // Another window is made the foreground window: the saver loses activation.
        {"deactivation", [&](HWND) { SetForegroundWindow(other); }, true},
        {"suspend broadcast", [](HWND window) { SendMessageA(window, WM_POWERBROADCAST, PBT_APMSUSPEND, 0); }, true},
    };
    for (const Ending &ending : endings) {
        SCOPED_TRACE(ending.name);
        HWND window = StartPlaying();
        ASSERT_NE(window, nullptr);
        std::vector<double> steps = FadeSteps();
        ASSERT_GE(steps.size(), 2u) << "the first caption does not fade in";
        EXPECT_GT(steps[0], 0.0);
        EXPECT_GT(steps[1], steps[0]);
        EXPECT_TRUE(FileExists(kClipCopy));
        EXPECT_EQ(GetForegroundWindow(), window);

        ending.deliver(window);
        DWORD code = STILL_ACTIVE;
        DWORD elapsed = TimeToExit(1000, code);
        if (!ending.ends) {
            EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE)) << "ended after " << elapsed << " ms";
            SendMouseTravel(1, 0);
            elapsed = TimeToExit(1000, code);
        }
        EXPECT_EQ(code, 0u) << "after " << elapsed << " ms";
        EXPECT_LE(elapsed, 1000u);
        EXPECT_FALSE(FileExists(kClipCopy)) << "vidtmp.avi was left behind";
        EndLeftoverSavers();
    }
    DestroyWindow(other);
}
