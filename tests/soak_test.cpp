// The built saver over long runs and after faults. The Faults tests are part of the
// default suite; the Soak tests take minutes each and run only from tools/soak.sh
// (CTest label "soak"), which prints the figures they report on lines starting
// "soak:".
#include <gtest/gtest.h>

#include "support/test_paths.h"
#include "support/saver_process.h"
#include "support/screen_picture.h"
#include "support/mixer_log.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>

static const char kClipCopy[] = "C:\\windows\\vidtmp.avi";

static bool FileExists(const char *path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

static LONGLONG FileSize(const char *path)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Saver processes alive in this prefix, whoever started them.
static int RunningSavers()
{
    int count = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        count += lstrcmpiA(entry.szExeFile, "vesperine.scr") == 0;
    CloseHandle(snapshot);
    return count;
}

class SaverRuns : public ::testing::Test {
protected:
    void SetUp() override
    {
        CreateDirectoryA(TEST_WORK_DIR, nullptr);
        logPath = std::string(TEST_WORK_DIR) + "\\mixer-soak.log";
        DeleteFileA(kClipCopy);
    }
    void TearDown() override
    {
        EndLeftoverSavers();
        DeleteFileA(kClipCopy);
    }

    // Starts the saver full screen and waits until its window exists and the layer's
    // log shows the first caption drawn (the graph is built and running by then).
    // Returns the window, or none after `timeoutMs`.
    HWND StartUntilCaptionDrawn(DWORD timeoutMs = 15000)
    {
        DeleteFileA(logPath.c_str());
        saver = StartSaver(SaverCommand("/s"), VESPERINE_SCR_PATH, {"VESPERINE_MIXER_LOG=" + logPath});
        if (saver.process == nullptr)
            return nullptr;
        DWORD start = GetTickCount();
        HWND window = nullptr;
        while (GetTickCount() - start < timeoutMs && WaitForSingleObject(saver.process, 0) == WAIT_TIMEOUT) {
            if (window == nullptr)
                for (HWND candidate : WindowsOfProcess(saver.id))
                    if (WindowClassOf(candidate) == "WindowsScreenSaverClass")
                        window = candidate;
            if (window != nullptr && !CallsNamed(ReadMixerLog(logPath), "SetAlphaBitmap").empty())
                return window;
            PumpMessagesFor(10);
        }
        return nullptr;
    }

    // Milliseconds until the saver ended, with its exit code; STILL_ACTIVE (and the
    // process killed) when it did not end within `timeoutMs`.
    DWORD TimeToExit(DWORD timeoutMs, DWORD &code)
    {
        DWORD start = GetTickCount();
        code = WaitForExit(saver, timeoutMs);
        return GetTickCount() - start;
    }

    std::string logPath;
    SaverProcess saver;
};

// A saver killed while it plays cannot remove its clip copy. The next start writes the
// clip over the leftover (here spoilt, as a kill during the copy would leave it),
// plays it and removes it at the end.
TEST_F(SaverRuns, KilledSaverLeavesTheClipCopyWhichTheNextStartReplaces)
{
    ASSERT_NE(StartUntilCaptionDrawn(), nullptr);
    const LONGLONG clipSize = FileSize(kClipCopy);
    ASSERT_GT(clipSize, 0);
    TerminateProcess(saver.process, 0xDEAD);
    WaitForExit(saver, 5000);
    ASSERT_TRUE(FileExists(kClipCopy)) << "the killed saver's clip copy is gone";
    HANDLE leftover = CreateFileA(kClipCopy, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(leftover, INVALID_HANDLE_VALUE) << "the killed saver's clip copy is still held";
    DWORD written = 0;
    WriteFile(leftover, "not a clip", 10, &written, nullptr);
    SetFilePointer(leftover, static_cast<LONG>(clipSize / 2), nullptr, FILE_BEGIN);
    SetEndOfFile(leftover);
    CloseHandle(leftover);

    HWND window = StartUntilCaptionDrawn();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(FileSize(kClipCopy), clipSize);
    EXPECT_EQ(CallsNamed(ReadMixerLog(logPath), "Create").size(), 1u);
    const RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    PumpMessagesFor(1000);
    ScreenPicture first = CaptureScreen(screen);
    PumpMessagesFor(1000);
    ScreenPicture second = CaptureScreen(screen);
    ASSERT_FALSE(first.pixels.empty());
    EXPECT_GT(ChangedPixels(first, second, screen), screen.right * screen.bottom / 200) << "the video does not move";

    PostMessageA(window, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_EQ(WaitForExit(saver, 5000), 0u);
    EXPECT_FALSE(FileExists(kClipCopy));
}

// 100 full-screen runs, each ended by a key press once the caption is drawn. Start-up
// is measured from just before the process is created until its window exists and the
// layer's log shows the first caption drawn.
TEST_F(SaverRuns, SoakHundredStartStopCycles)
{
    std::vector<DWORD> startups;
    DWORD slowestExit = 0;
    for (int cycle = 0; cycle < 100; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        const DWORD started = GetTickCount();
        HWND window = StartUntilCaptionDrawn();
        ASSERT_NE(window, nullptr) << "no window with a caption within 15 s";
        startups.push_back(GetTickCount() - started);
        // The caption is drawn while the window is being made; the key goes to the
        // foreground window, which the saver becomes just after.
        while (GetForegroundWindow() != window && GetTickCount() - started < 20000)
            PumpMessagesFor(10);
        SendKeyPress(VK_SPACE);
        DWORD code = STILL_ACTIVE;
        const DWORD elapsed = TimeToExit(1000, code);
        slowestExit = std::max(slowestExit, elapsed);
        ASSERT_EQ(code, 0u) << "exit after " << elapsed << " ms";
        EXPECT_FALSE(FileExists(kClipCopy)) << "vidtmp.avi was left behind";
        EXPECT_EQ(RunningSavers(), 0) << "a saver process is still there";
    }
    std::vector<DWORD> sorted = startups;
    std::sort(sorted.begin(), sorted.end());
    printf("soak: 100 start/stop cycles: start-up (process start to window and first caption drawn) "
           "median %lu ms, slowest %lu ms (cycle %d); slowest exit after the key %lu ms\n",
           sorted[sorted.size() / 2], sorted.back(),
           static_cast<int>(std::max_element(startups.begin(), startups.end()) - startups.begin()), slowestExit);
}

// 10,000 random argument strings (VESPERINE_SOAK_ARGUMENT_RUNS changes the number),
// each in a saver process of its own: a fault can
// only show as the process's own exit code, and every string goes through the real
// program entry with its program-name stripping. Under Wine a process costs about
// 0.1 s, so this takes about 20 minutes. What a string opens (About box, full screen)
// is closed by the harness. Under Wine, about one process in 5,000 does not end in
// time although its string ends at once when it is run again (one such run showed
// the Linux loader failing an assertion while the Wine process exited). A string
// that does not end is therefore run once more: if it then ends with a listed code,
// it is counted and printed as a platform hiccup, and more than a few of those fail
// the test all the same.
TEST(SoakArguments, TenThousandRandomArgumentStringsEndWithListedCodes)
{
    int runs = 10000;
    if (const char *shortened = getenv("VESPERINE_SOAK_ARGUMENT_RUNS"))
        runs = atoi(shortened);
    const unsigned seed = 20261212;
    std::mt19937 random(seed);
    const std::string exe = VESPERINE_SCR_PATH;
    int byCode[3] = {};
    int failures = 0;
    int hiccups = 0;
    const DWORD start = GetTickCount();
    for (int run = 0; run < runs; ++run) {
        std::string arguments = RandomArgumentString(random);
        DWORD code = RunClosingEverything("\"" + exe + "\" " + arguments, 10000);
        if (code == STILL_ACTIVE) {
            EndLeftoverSavers();
            code = RunClosingEverything("\"" + exe + "\" " + arguments, 10000);
            if (IsListedExitCode(code)) {
                ++hiccups;
                printf("soak: run %d, arguments [%s], did not end in time; run again it ended with %ld\n", run,
                       arguments.c_str(), static_cast<long>(code));
            }
        }
        if (IsListedExitCode(code)) {
            ++byCode[code == 0 ? 0 : code == 1 ? 1 : 2];
            continue;
        }
        ADD_FAILURE() << "seed " << seed << ", run " << run << ", arguments [" << arguments << "] ended with 0x"
                      << std::hex << code << (code == STILL_ACTIVE ? " (hung, killed)" : "");
        if (++failures == 20)
            FAIL() << "stopped after 20 failures";
        EndLeftoverSavers();
    }
    printf("soak: %d argument strings in %lu s: exit 0 x%d, 1 x%d, -1 x%d; %d ended only when run again\n", runs,
           (GetTickCount() - start) / 1000, byCode[0], byCode[1], byCode[2], hiccups);
    EXPECT_LE(hiccups, 5) << "too many runs ended only when run again to be the platform's hiccups";
}

struct Usage {
    DWORD handles = 0;
    SIZE_T pagefile = 0;
    SIZE_T workingSet = 0;
};

// The process's handles, counted in the system's handle table: Wine 8 answers
// GetProcessHandleCount with 0 for another process.
struct SystemHandleEntry {
    ULONG ownerProcessId;
    BYTE objectType;
    BYTE flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
};
struct SystemHandleTable {
    ULONG count;
    SystemHandleEntry entries[1];
};

static DWORD CountHandles(DWORD processId)
{
    using QueryFunction = LONG(WINAPI *)(ULONG, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<QueryFunction>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    const ULONG kSystemHandleInformation = 16;
    std::vector<BYTE> buffer(1 << 20);
    ULONG needed = 0;
    LONG status = 0;
    while ((status = query(kSystemHandleInformation, buffer.data(), ULONG(buffer.size()), &needed)) ==
           LONG(0xC0000004))   // STATUS_INFO_LENGTH_MISMATCH
        buffer.resize(std::max<size_t>(buffer.size() * 2, needed));
    if (status < 0)
        return 0;
    const auto *table = reinterpret_cast<const SystemHandleTable *>(buffer.data());
    DWORD count = 0;
    for (ULONG i = 0; i < table->count; ++i)
        count += table->entries[i].ownerProcessId == processId;
    return count;
}

static bool ReadUsage(DWORD processId, Usage &usage)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process == nullptr)
        return false;
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    bool read = GetProcessMemoryInfo(process, &counters, sizeof counters);
    usage.handles = CountHandles(processId);
    usage.pagefile = counters.PagefileUsage;
    usage.workingSet = counters.WorkingSetSize;
    CloseHandle(process);
    return read;
}

// Ten minutes of play (VESPERINE_SOAK_PLAY_SECONDS shortens it): the clip keeps
// looping with the two captions alternating and never above 0.38, and the process's
// handles and memory stay flat. The reference figures are taken after the first loop,
// once everything the playback keeps has been made; growth beyond 16 handles or 8 MB
// fails.
TEST_F(SaverRuns, SoakTenMinutesOfPlay)
{
    DWORD seconds = 600;
    if (const char *shortened = getenv("VESPERINE_SOAK_PLAY_SECONDS"))
        seconds = static_cast<DWORD>(atoi(shortened));
    HWND window = StartUntilCaptionDrawn();
    ASSERT_NE(window, nullptr);
    const DWORD started = GetTickCount();
    Usage first, reference, last;
    ASSERT_TRUE(ReadUsage(saver.id, first));
    bool referenceTaken = false;
    std::string minutes;   // pagefile usage in KB at each whole minute
    DWORD nextMinute = 60000;
    while (GetTickCount() - started < seconds * 1000) {
        PumpMessagesFor(5000);
        ASSERT_EQ(WaitForSingleObject(saver.process, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the saver ended";
        if (!referenceTaken && GetTickCount() - started > 20000)
            referenceTaken = ReadUsage(saver.id, reference);
        Usage now;
        if (GetTickCount() - started >= nextMinute && ReadUsage(saver.id, now)) {
            minutes += " " + std::to_string(now.pagefile / 1024);
            nextMinute += 60000;
        }
    }
    ASSERT_TRUE(referenceTaken);
    ASSERT_TRUE(ReadUsage(saver.id, last));
    PostMessageA(window, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_EQ(WaitForExit(saver, 5000), 0u);
    EXPECT_FALSE(FileExists(kClipCopy));

    const std::vector<MixerCall> calls = ReadMixerLog(logPath);
    const std::vector<MixerCall> draws = CallsNamed(calls, "SetAlphaBitmap");
    EXPECT_GE(draws.size(), seconds / 14) << "fewer captions than loops";
    for (size_t i = 1; i < draws.size(); ++i)
        EXPECT_NE(draws[i].Value("bitmap"), draws[i - 1].Value("bitmap")) << "draws " << i - 1 << " and " << i
                                                                           << " show the same caption";
    double highest = 0;
    for (const MixerCall &call : calls)
        if (call.call == "SetAlphaBitmap" || call.call == "UpdateAlphaBitmapParameters")
            highest = std::max(highest, call.Number("alpha"));
    EXPECT_LE(highest, 0.3800001);

    printf("soak: %lu s of play, %zu captions drawn, highest opacity %.6g\n", seconds, draws.size(), highest);
    printf("soak: handles %lu at start, %lu after the first loop, %lu at the end\n", first.handles,
           reference.handles, last.handles);
    printf("soak: pagefile usage %zu / %zu / %zu KB, working set %zu / %zu / %zu KB (start / first loop / end)\n",
           first.pagefile / 1024, reference.pagefile / 1024, last.pagefile / 1024, first.workingSet / 1024,
           reference.workingSet / 1024, last.workingSet / 1024);
    printf("soak: pagefile usage at each minute (KB):%s\n", minutes.c_str());
    EXPECT_GT(last.pagefile, 0u) << "the memory figures could not be read";
    EXPECT_GT(last.handles, 0u) << "the handles could not be counted";
    EXPECT_LE(last.handles, reference.handles + 16);
    EXPECT_LE(last.pagefile, reference.pagefile + 8 * 1024 * 1024);
    EXPECT_LE(last.workingSet, reference.workingSet + 8 * 1024 * 1024);
}
