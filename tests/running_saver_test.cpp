// The built saver as the system runs it, full screen on the bench's virtual screen,
// with the renderer's missing features completed by the bench's layer. What the screen
// shows is read back from the display; what the mixer was asked to do is read from the
// layer's log.
#include <gtest/gtest.h>

#include "support/test_paths.h"
#include "support/saver_process.h"
#include "support/screen_picture.h"
#include "support/mixer_log.h"

#include "caption/caption_state.h"
#include "playback/ui_font.h"

static const char kClipCopy[] = "C:\\windows\\vidtmp.avi";
static const int kClipWidth = 1024, kClipHeight = 768;

static bool FileExists(const char *path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// The caption bitmap's size for a caption text, as the saver measures it.
static SIZE CaptionSize(const char *text)
{
    HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    HFONT font = CreateUiFont(window, "Arial", 8, true, false, false, false);
    HDC dc = GetDC(window);
    HGDIOBJ previous = SelectObject(dc, font);
    SIZE size = {};
    GetTextExtentPoint32A(dc, text, lstrlenA(text), &size);
    SelectObject(dc, previous);
    ReleaseDC(window, dc);
    DeleteObject(font);
    DestroyWindow(window);
    return size;
}

class RunningSaver : public ::testing::Test {
protected:
    void SetUp() override
    {
        CreateDirectoryA(TEST_WORK_DIR, nullptr);
        logPath = std::string(TEST_WORK_DIR) + "\\mixer-" + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                  ".log";
        DeleteFileA(logPath.c_str());
        screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    }
    void TearDown() override
    {
        EndLeftoverSavers();
        UseCompletionLayer(true);
        DeleteFileA(kClipCopy);
    }

    HWND StartFullScreen()
    {
        saver = StartSaver(SaverCommand("/s"), VESPERINE_SCR_PATH, {"VESPERINE_MIXER_LOG=" + logPath});
        return WaitForWindowOfClass(saver, "WindowsScreenSaverClass");
    }

    // The error box the saver shows, once it is up, and its text.
    HWND WaitForErrorBox(std::string &text)
    {
        HWND box = WaitForWindowOfClass(saver, "#32770");
        if (box == nullptr)
            return nullptr;
        for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
            if (WindowClassOf(child) == "Static" && !WindowTextOf(child).empty())
                text = WindowTextOf(child);
        return box;
    }

    std::string logPath;
    RECT screen = {};
    SaverProcess saver;
};

// Slot 1 first, then slot 0, alternating; one draw per loop; each caption fades in
// 19 steps from about 1 s after its draw to a peak of 0.38 and out in 19 steps ending
// about 10 s after it.
static void ExpectCaptionsFadeOnEveryLoop(const std::vector<MixerCall> &calls)
{
    const std::vector<MixerCall> draws = CallsNamed(calls, "SetAlphaBitmap");
    for (size_t i = 0; i < draws.size(); ++i) {
        const SIZE expected = CaptionSize(captionTexts[i % 2 == 0 ? 1 : 0]);
        EXPECT_EQ(draws[i].Value("bitmap"), std::to_string(expected.cx) + "x" + std::to_string(expected.cy))
            << "draw " << i << " shows the wrong caption";
        EXPECT_EQ(draws[i].Number("alpha"), 0.0) << "draw " << i;
    }
    for (size_t i = 0; i + 1 < draws.size(); ++i) {
        const DWORD from = draws[i].ms, to = draws[i + 1].ms;
        EXPECT_GT(to - from, 11000u) << "two draws within one loop";
        std::vector<double> alphas;
        std::vector<DWORD> times;
        for (const MixerCall &call : calls)
            if (call.call == "UpdateAlphaBitmapParameters" && call.ms >= from && call.ms < to) {
                alphas.push_back(call.Number("alpha"));
                times.push_back(call.ms - from);
            }
        ASSERT_EQ(alphas.size(), 38u) << "caption " << i;
        for (size_t step = 1; step < 38; ++step) {
            if (step < 19)
                EXPECT_GT(alphas[step], alphas[step - 1]) << "caption " << i << " step " << step;
            else
                EXPECT_LT(alphas[step], alphas[step - 1]) << "caption " << i << " step " << step;
            EXPECT_LE(alphas[step], 0.3800001) << "caption " << i << " step " << step;
        }
        EXPECT_NEAR(alphas[18], 0.38, 1e-6);
        EXPECT_GE(times.front(), 900u) << "caption " << i << " fades in too early";
        EXPECT_LE(times.front(), 2500u) << "caption " << i << " fades in too late";
        EXPECT_GE(times.back(), 9000u) << "caption " << i << " ends too early";
        EXPECT_LE(times.back(), 13000u) << "caption " << i << " ends too late";
    }
}

// One long run: the clip shows and moves, loops at least twice with a caption on each
// loop, and a key press ends it with nothing left behind.
TEST_F(RunningSaver, ClipPlaysLoopsWithCaptionsAndEndsCleanly)
{
    HWND window = StartFullScreen();
    ASSERT_NE(window, nullptr);
    const DWORD started = GetTickCount();
    PumpMessagesFor(3000);
    EXPECT_TRUE(FileExists(kClipCopy));

    ScreenPicture first = CaptureScreen(screen);
    PumpMessagesFor(1000);
    ScreenPicture second = CaptureScreen(screen);
    ASSERT_FALSE(first.pixels.empty());
    SavePicture(second, FULL_SCREEN_SCREENSHOT_PATH);

    // Centred at native size when the screen is large enough, stretched otherwise.
    RECT video = screen;
    if (screen.right >= kClipWidth && screen.bottom >= kClipHeight)
        video = {screen.right / 2 - kClipWidth / 2, screen.bottom / 2 - kClipHeight / 2,
                 screen.right / 2 + kClipWidth / 2, screen.bottom / 2 + kClipHeight / 2};
    const int videoPixels = (video.right - video.left) * (video.bottom - video.top);
    EXPECT_GT(LitPixels(second, video), videoPixels / 4) << "the video area is mostly black";
    EXPECT_GT(ChangedPixels(first, second, video), videoPixels / 100) << "the video does not move";
    const RECT borders[] = {{0, 0, screen.right, video.top},
                            {0, video.bottom, screen.right, screen.bottom},
                            {0, video.top, video.left, video.bottom},
                            {video.right, video.top, screen.right, video.bottom}};
    for (const RECT &border : borders)
        EXPECT_EQ(LitPixels(second, border), 0) << "outside the video at " << border.left << "," << border.top;

    // Three captions: the first start and two loops of about 13 s each.
    std::vector<MixerCall> draws;
    while (GetTickCount() - started < 45000 && draws.size() < 3) {
        PumpMessagesFor(500);
        draws = CallsNamed(ReadMixerLog(logPath), "SetAlphaBitmap");
    }
    ASSERT_GE(draws.size(), 3u) << "the clip did not loop twice";

    PostMessageA(window, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_EQ(WaitForExit(saver, 5000), 0u);
    EXPECT_FALSE(FileExists(kClipCopy));
    std::vector<MixerCall> calls = ReadMixerLog(logPath);
    ExpectCaptionsFadeOnEveryLoop(calls);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().call, "Destroy") << "a reference to the renderer was still held at the end";
    EXPECT_EQ(CallsNamed(calls, "Create").size(), 1u);
    const std::vector<MixerCall> placed = CallsNamed(calls, "SetVideoPosition");
    ASSERT_EQ(placed.size(), 1u);
    EXPECT_EQ(placed[0].Value("dest"), std::to_string(video.left) + "," + std::to_string(video.top) + "," +
                                           std::to_string(video.right) + "," + std::to_string(video.bottom));
    const std::vector<MixerCall> colours = CallsNamed(calls, "SetBorderColor");
    ASSERT_EQ(colours.size(), 1u);
    EXPECT_NE(colours[0].line.find("SetBorderColor 0x000000 hr=0x00000000"), std::string::npos) << colours[0].line;
}

// Run on a bench whose screen is smaller than the clip: the saver asks the renderer to
// fill the whole screen. Wine's presenter then shows only part of the frame, so the
// picture is saved for a look but only its movement is checked.
TEST_F(RunningSaver, RendererIsAskedToFillASmallScreen)
{
    ASSERT_TRUE(screen.right < kClipWidth && screen.bottom < kClipHeight) << "the screen is not smaller than the clip";
    HWND window = StartFullScreen();
    ASSERT_NE(window, nullptr);
    PumpMessagesFor(3000);
    ScreenPicture first = CaptureScreen(screen);
    PumpMessagesFor(1000);
    ScreenPicture second = CaptureScreen(screen);
    ASSERT_FALSE(first.pixels.empty());
    SavePicture(second, SMALL_SCREEN_SCREENSHOT_PATH);
    EXPECT_GT(ChangedPixels(first, second, screen), screen.right * screen.bottom / 100) << "the video does not move";

    PostMessageA(window, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_EQ(WaitForExit(saver, 5000), 0u);
    EXPECT_FALSE(FileExists(kClipCopy));
    const std::vector<MixerCall> placed = CallsNamed(ReadMixerLog(logPath), "SetVideoPosition");
    ASSERT_EQ(placed.size(), 1u);
    EXPECT_EQ(placed[0].Value("dest"), "0,0," + std::to_string(screen.right) + "," + std::to_string(screen.bottom));
}

TEST_F(RunningSaver, WithoutTheRendererFeaturesTheDirectXBoxEndsTheSaver)
{
    UseCompletionLayer(false);
    saver = StartSaver(SaverCommand("/s"));
    std::string text;
    HWND box = WaitForErrorBox(text);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(text.rfind("Failed to initialize DirectX interface.", 0), 0u) << text;
    EXPECT_FALSE(FileExists(kClipCopy)) << "the clip file is still there while the box is up";
    SavePicture(CaptureScreen(screen), DIRECTX_BOX_SCREENSHOT_PATH);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(WaitForExit(saver, 5000), 0u);
    EXPECT_FALSE(FileExists(kClipCopy)) << "vidtmp.avi was left behind";
}

TEST_F(RunningSaver, ClipFileHeldByAnotherProgramShowsTheProgramInterfaceBox)
{
    HANDLE held = CreateFileA(kClipCopy, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    saver = StartSaver(SaverCommand("/s"), VESPERINE_SCR_PATH, {"VESPERINE_MIXER_LOG=" + logPath});
    std::string text;
    HWND box = WaitForErrorBox(text);
    EXPECT_NE(box, nullptr);
    EXPECT_EQ(text.rfind("Failed to initialize program interface.", 0), 0u) << text;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(WaitForExit(saver, 5000), 0u);
    EXPECT_TRUE(CallsNamed(ReadMixerLog(logPath), "Create").empty()) << "a graph was built after the failed extraction";
    EXPECT_EQ(GetFileSize(held, nullptr), 0u) << "the saver wrote into the other program's file";
    CloseHandle(held);
}
