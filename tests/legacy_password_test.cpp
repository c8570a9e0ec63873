// The legacy platform's password support with the built saver as a process: a copy
// of the saver for which this prefix reports Windows 98, with stand-ins for the
// system's PASSWORD.CPL and MPR.DLL beside it, and the screen-saver password switched
// on or off under HKCU "Control Panel\Desktop".
#include <gtest/gtest.h>

#include "support/test_paths.h"
#include "support/saver_process.h"
#include "support/screen_picture.h"
#include "support/mixer_log.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>

static const char kDesktopKey[] = "Control Panel\\Desktop";
static const char kDesktopBackupKey[] = "Software\\Vesperine tests\\Desktop backup";
static const char kUsePassword[] = "ScreenSaveUsePassword";
static const char kClipCopy[] = "C:\\windows\\vidtmp.avi";

// One "verify" line of the PASSWORD.CPL stand-in's log, as name=value fields.
static std::string FieldOf(const std::string &line, const std::string &name)
{
    std::istringstream words(line);
    std::string word;
    while (words >> word)
        if (word.compare(0, name.size() + 1, name + "=") == 0)
            return word.substr(name.size() + 1);
    return "";
}

static std::string Decimal(HWND window)
{
    return std::to_string(static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));
}

static void WaitUntilTick(DWORD start, DWORD elapsed)
{
    while (GetTickCount() - start < elapsed)
        Sleep(1);
}

class LockedSaver : public ::testing::Test {
protected:
    void SetUp() override
    {
        CreateDirectoryA(TEST_WORK_DIR, nullptr);
        directory = std::string(TEST_WORK_DIR) + "\\locked";
        legacySaver = directory + "\\locked-saver.scr";
        currentSaver = directory + "\\unlocked-saver.scr";
        passwordLog = directory + "\\password.txt";
        mixerLog = directory + "\\mixer.txt";
        mprLog = directory + "\\mpr.txt";
        ASSERT_TRUE(PrepareLegacySaver(directory, "locked-saver.scr"));
        ASSERT_TRUE(CopyFileA(VESPERINE_SCR_PATH, currentSaver.c_str(), FALSE));
        UsePasswordLibrary(FAKE_PASSWORD_CPL_PATH);
        DeleteFileA(passwordLog.c_str());
        DeleteFileA(mprLog.c_str());
        DeleteFileA(mixerLog.c_str());
        RegDeleteKeyValueA(HKEY_CURRENT_USER, kDesktopKey, kUsePassword);
    }
    void TearDown() override
    {
        EndLeftoverSavers();
        RestoreDesktopKey();
        RegDeleteKeyValueA(HKEY_CURRENT_USER, kDesktopKey, kUsePassword);
    }
    void UsePasswordLibrary(const char *path)
    {
        ASSERT_TRUE(CopyFileA(path, (directory + "\\PASSWORD.CPL").c_str(), FALSE));
    }
    static void SetUsePassword(DWORD type, const void *data, DWORD size)
    {
        ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, kDesktopKey, kUsePassword, type, data, size), ERROR_SUCCESS);
    }
    static void SetUsePassword(DWORD value) { SetUsePassword(REG_DWORD, &value, sizeof value); }
    // Takes "Control Panel\Desktop" away for one run, keeping a copy to put back.
    void RemoveDesktopKey()
    {
        HKEY desktop = nullptr, backup = nullptr;
        ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, kDesktopKey, &desktop), ERROR_SUCCESS);
        ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, kDesktopBackupKey, &backup), ERROR_SUCCESS);
        ASSERT_EQ(RegCopyTreeA(desktop, nullptr, backup), ERROR_SUCCESS);
        RegCloseKey(desktop);
        RegCloseKey(backup);
        ASSERT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, kDesktopKey), ERROR_SUCCESS);
        desktopRemoved = true;
    }
    void RestoreDesktopKey()
    {
        if (!desktopRemoved)
            return;
        HKEY desktop = nullptr, backup = nullptr;
        RegCreateKeyA(HKEY_CURRENT_USER, kDesktopKey, &desktop);
        RegOpenKeyA(HKEY_CURRENT_USER, kDesktopBackupKey, &backup);
        RegCopyTreeA(backup, nullptr, desktop);
        RegCloseKey(desktop);
        RegCloseKey(backup);
        RegDeleteTreeA(HKEY_CURRENT_USER, kDesktopBackupKey);
        desktopRemoved = false;
    }
    SaverProcess Start(const std::string &arguments, const std::string &answers, bool legacy = true)
    {
        const std::string &saver = legacy ? legacySaver : currentSaver;
        return StartSaver("\"" + saver + "\" " + arguments, saver,
                          {"VESPERINE_PASSWORD_LOG=" + passwordLog, "VESPERINE_PASSWORD_ANSWERS=" + answers,
                           "VESPERINE_MPR_LOG=" + mprLog, "VESPERINE_MIXER_LOG=" + mixerLog});
    }
    static std::vector<std::string> LinesOf(const std::string &path)
    {
        std::ifstream in(path);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    std::vector<std::string> Verifications()
    {
        std::vector<std::string> found;
        for (const std::string &line : LinesOf(passwordLog))
            if (line.compare(0, 7, "verify ") == 0)
                found.push_back(line);
        return found;
    }
    bool WaitForVerifications(size_t count, DWORD timeoutMs = 5000)
    {
        DWORD start = GetTickCount();
        while (Verifications().size() < count) {
            if (GetTickCount() - start > timeoutMs)
                return false;
            Sleep(5);
        }
        return true;
    }
    size_t CountLines(const std::string &wanted)
    {
        std::vector<std::string> lines = LinesOf(passwordLog);
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), wanted));
    }
    bool WaitForLogLine(const std::string &wanted, DWORD timeoutMs = 2000)
    {
        DWORD start = GetTickCount();
        for (;;) {
            for (const std::string &line : LinesOf(passwordLog))
                if (line == wanted)
                    return true;
            if (GetTickCount() - start > timeoutMs)
                return false;
            Sleep(5);
        }
    }
    // The password library's loading and freeing, joined by "|".
    std::string LibraryEvents()
    {
        std::string events;
        for (const std::string &line : LinesOf(passwordLog))
            if (line.compare(0, 7, "loaded") == 0 || line.compare(0, 6, "freed ") == 0)
                events += (events.empty() ? "" : "|") + line;
        return events;
    }
    // Waits until the layer's log shows the graph made and the first caption drawn.
    bool WaitForPlayback(DWORD timeoutMs = 15000)
    {
        DWORD start = GetTickCount();
        for (;;) {
            std::vector<MixerCall> calls = ReadMixerLog(mixerLog);
            if (!CallsNamed(calls, "Create").empty() && !CallsNamed(calls, "SetAlphaBitmap").empty())
                return true;
            if (GetTickCount() - start > timeoutMs)
                return false;
            Sleep(20);
        }
    }
    std::string directory, legacySaver, currentSaver, passwordLog, mprLog, mixerLog;
    bool desktopRemoved = false;
};

TEST_F(LockedSaver, WithoutAPasswordInUseTheFirstCloseEndsTheSaver)
{
    const BYTE eightBytes[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    const BYTE oneByteOne[1] = {1};
    const BYTE oneByteZero[1] = {0};
    // `eventsAtWindow`: what the password library went through before the window
    // showed. `asks`: the key press asks the verifier (which accepts).
    struct Case {
        const char *name;
        std::function<void()> prepare;
        bool legacy;
        const char *eventsAtWindow;
        bool asks;
    };
    const Case cases[] = {
        {"value 0", [&]() { SetUsePassword(0); }, true, "", false},
        {"value missing", [&]() {}, true, "", false},
        {"value of 8 bytes", [&]() { SetUsePassword(REG_BINARY, eightBytes, 8); }, true, "", false},
        {"one byte 0", [&]() { SetUsePassword(REG_BINARY, oneByteZero, 1); }, true, "", false},
        {"key missing", [&]() { RemoveDesktopKey(); }, true, "", false},
        {"off the legacy platform", [&]() { SetUsePassword(1); }, false, "", false},
        {"verifier export missing",
         [&]() {
             SetUsePassword(1);
             UsePasswordLibrary(FAKE_PASSWORD_CPL_WITHOUT_VERIFIER_PATH);
         },
         true, "loaded|freed running=0", false},
        // The value's type is not looked at, and a short value is read with its upper
        // bytes 0.
        {"value 1", [&]() { SetUsePassword(1); }, true, "loaded", true},
        {"one byte 1", [&]() { SetUsePassword(REG_BINARY, oneByteOne, 1); }, true, "loaded", true},
        {"text 1", [&]() { SetUsePassword(REG_SZ, "1", 2); }, true, "loaded", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileA(passwordLog.c_str());
        RegDeleteKeyValueA(HKEY_CURRENT_USER, kDesktopKey, kUsePassword);
        UsePasswordLibrary(FAKE_PASSWORD_CPL_PATH);
        c.prepare();
        SaverProcess saver = Start("/s", "1", c.legacy);
        HWND window = WaitForWindowOfClass(saver, "WindowsScreenSaverClass");
        RestoreDesktopKey();
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(LibraryEvents(), c.eventsAtWindow);
        PostMessageA(window, WM_KEYDOWN, 'A', 0);
        EXPECT_EQ(WaitForExit(saver, 5000), 0u);
        EXPECT_EQ(Verifications().size(), c.asks ? 1u : 0u);
        if (c.asks) {
            EXPECT_EQ(LibraryEvents(), "loaded|freed running=1") << "freed after the message loop";
        }
    }
}

TEST_F(LockedSaver, RefusedPasswordHoldsOffThenAcceptanceEndsTheSaver)
{
    SetUsePassword(1);
    SaverProcess saver = Start("/s", "01");   // refuse, then accept
    HWND window = WaitForWindowOfClass(saver, "WindowsScreenSaverClass");
    ASSERT_NE(window, nullptr);
    // The whole saver runs: the clip plays on the screen with its caption.
    ASSERT_TRUE(WaitForPlayback()) << "the clip does not play";
    const RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    ScreenPicture before = CaptureScreen(screen);
    Sleep(500);
    ScreenPicture after = CaptureScreen(screen);
    ASSERT_FALSE(before.pixels.empty());
    EXPECT_GT(ChangedPixels(before, after, screen), screen.right * screen.bottom / 200) << "the video does not move";

    // A key press asks the verifier, which refuses.
    PostMessageA(window, WM_KEYDOWN, 'A', 0);
    ASSERT_TRUE(WaitForVerifications(1));
    std::string first = Verifications()[0];
    EXPECT_EQ(FieldOf(first, "hwnd"), Decimal(window));
    EXPECT_EQ(FieldOf(first, "answer"), "0");
    EXPECT_EQ(FieldOf(first, "running"), "1") << "the screen-saver-running state is on while the verifier is loaded";
    // The dialog's own loop delivered the saver's key press and close; neither posted
    // a close nor started a second check, and the window stayed.
    EXPECT_EQ(FieldOf(first, "dispatched"), "2");
    EXPECT_EQ(FieldOf(first, "closeQueued"), "0");
    EXPECT_EQ(FieldOf(first, "nested"), "0");
    EXPECT_EQ(FieldOf(first, "alive"), "1");
    DWORD checkEnded = std::stoul(FieldOf(first, "end"));

    Sleep(30);
    EXPECT_EQ(WaitForSingleObject(saver.process, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the saver ended";
    EXPECT_TRUE(IsWindow(window));
    EXPECT_TRUE(WaitForLogLine("cursor hidden")) << "the cursor shows after the refusal";

    // 150 ms after the check: refused without asking.
    WaitUntilTick(checkEnded, 150);
    PostMessageA(window, WM_CLOSE, 0, 0);
    WaitUntilTick(checkEnded, 240);
    EXPECT_EQ(CountLines("asked"), 1u);
    EXPECT_TRUE(IsWindow(window));

    // 250 ms after it: asked again, accepted, and the saver ends with 0.
    WaitUntilTick(checkEnded, 250);
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForExit(saver, 5000), 0u);
    EXPECT_EQ(CountLines("asked"), 2u);
    ASSERT_EQ(Verifications().size(), 2u);
    EXPECT_EQ(FieldOf(Verifications()[1], "answer"), "1");
    EXPECT_EQ(FieldOf(Verifications()[1], "nested"), "0");
    EXPECT_EQ(LibraryEvents(), "loaded|freed running=1");
    EXPECT_EQ(GetFileAttributesA(kClipCopy), INVALID_FILE_ATTRIBUTES) << "vidtmp.avi was left behind";
    std::vector<MixerCall> calls = ReadMixerLog(mixerLog);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().call, "Destroy") << "the renderer was still held at the end";
}

TEST_F(LockedSaver, AutoPlayQueryEndsTheSaverAndIsCancelledOnlyWithAPassword)
{
    struct Case { DWORD usePassword; LRESULT answer; size_t verifications; };
    const Case cases[] = {{0, 0, 0}, {1, 1, 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE("ScreenSaveUsePassword " + std::to_string(c.usePassword));
        DeleteFileA(passwordLog.c_str());
        SetUsePassword(c.usePassword);
        SaverProcess saver = Start("/s", "1");
        HWND window = WaitForWindowOfClass(saver, "WindowsScreenSaverClass");
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(SendMessageA(window, RegisterWindowMessageA("QueryCancelAutoPlay"), 0, 0), c.answer);
        EXPECT_EQ(WaitForExit(saver, 5000), 0u);
        EXPECT_EQ(Verifications().size(), c.verifications);
    }
}

TEST_F(LockedSaver, PasswordChangeCallsTheSystemDialogAndFreesItsLibrary)
{
    HWND parent = CreateHostWindow(100, 80);
    SaverProcess saver = Start("/a " + Decimal(parent), "1");
    EXPECT_EQ(WaitForExit(saver, 10000), 0u);
    std::vector<std::string> lines = LinesOf(mprLog);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "SCRSAVE " + Decimal(parent) + " 0 0000000000000000");
    EXPECT_EQ(lines[1], "freed");
    EXPECT_EQ(LibraryEvents(), "") << "the password change does not load the verifier";
    DestroyWindow(parent);
}
