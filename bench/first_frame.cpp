// Start-up time of a player: starts the command line given, then polls the screen
// until the clip's first frame is there, and prints the milliseconds in between.
//
//   first_frame.exe CLIP_PATH COMMAND_LINE...
//
// The first frame is decoded from the clip file itself (the system's AVI reader and
// decoder). The compared area is a band across the middle of where the player puts the
// video (centred at native size on the virtual screen), the full video width, rows 45%
// to 60% of its height: sky with cloud bands and colour gradients, no caption. The
// frame counts as shown when the mean absolute difference of the band's channels from
// the decoded frame is at most kMatchLimit (of 255). Before the start, the band must not
// match already (no picture left from an earlier run). The screen is read every
// kPollMs. The player is then asked to close (WM_CLOSE to its windows), and ended if it
// does not within 5 s.
#include <windows.h>
#include <vfw.h>

#include "support/screen_picture.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

static const double kMatchLimit = 6.0;
static const DWORD kPollMs = 5;
static const DWORD kGiveUpMs = 30000;

struct Frame {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;   // 0x00RRGGBB, top row first
};

static bool DecodeFirstFrame(const char *path, Frame *frame)
{
    AVIFileInit();
    PAVISTREAM stream = nullptr;
    if (AVIStreamOpenFromFileA(&stream, path, streamtypeVIDEO, 0, OF_READ, nullptr) != 0)
        return false;
    bool decoded = false;
    PGETFRAME getFrame = AVIStreamGetFrameOpen(stream, nullptr);
    if (getFrame != nullptr) {
        auto *header = static_cast<BITMAPINFOHEADER *>(AVIStreamGetFrame(getFrame, 0));
        if (header != nullptr && (header->biBitCount == 24 || header->biBitCount == 32) &&
            header->biCompression == BI_RGB) {
            const int width = header->biWidth, height = abs(header->biHeight);
            const int bytes = header->biBitCount / 8;
            const int stride = (width * bytes + 3) & ~3;
            const BYTE *bits = reinterpret_cast<const BYTE *>(header) + header->biSize + header->biClrUsed * 4;
            frame->width = width;
            frame->height = height;
            frame->pixels.resize(static_cast<size_t>(width) * height);
            for (int y = 0; y < height; ++y) {
                const BYTE *row = bits + static_cast<size_t>(header->biHeight > 0 ? height - 1 - y : y) * stride;
                for (int x = 0; x < width; ++x) {
                    const BYTE *p = row + x * bytes;
                    frame->pixels[static_cast<size_t>(y) * width + x] = p[0] | p[1] << 8 | p[2] << 16;
                }
            }
            decoded = true;
        } else if (header != nullptr) {
            fprintf(stderr, "first frame decoded as %d bits, compression %lu\n", header->biBitCount,
                    header->biCompression);
        }
        AVIStreamGetFrameClose(getFrame);
    }
    AVIStreamRelease(stream);
    AVIFileExit();
    return decoded;
}

// Mean absolute difference per channel between the screen band and the frame's rows.
static double Difference(const ScreenPicture &band, const Frame &frame, int firstRow)
{
    if (band.pixels.empty())
        return 255.0;
    unsigned long long total = 0;
    for (int y = 0; y < band.height; ++y)
        for (int x = 0; x < band.width; ++x) {
            const uint32_t a = band.At(x, y), b = frame.pixels[static_cast<size_t>(firstRow + y) * frame.width + x];
            for (int shift = 0; shift < 24; shift += 8)
                total += abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF));
        }
    return static_cast<double>(total) / (3.0 * band.width * band.height);
}

struct WindowSearch {
    DWORD processId;
    int found;
};

static BOOL CALLBACK CloseWindowOf(HWND window, LPARAM lParam)
{
    auto *search = reinterpret_cast<WindowSearch *>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId) {
        PostMessageA(window, WM_CLOSE, 0, 0);
        ++search->found;
    }
    return TRUE;
}

static double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency)
{
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: first_frame CLIP_PATH COMMAND_LINE...\n");
        return 2;
    }
    Frame frame;
    if (!DecodeFirstFrame(argv[1], &frame)) {
        fprintf(stderr, "cannot decode the first frame of %s\n", argv[1]);
        return 1;
    }
    const int screenWidth = GetSystemMetrics(SM_CXVIRTUALSCREEN), screenHeight = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    if (screenWidth < frame.width || screenHeight < frame.height) {
        fprintf(stderr, "the screen is smaller than the clip: the video would be scaled\n");
        return 1;
    }
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN) + screenWidth / 2 - frame.width / 2;
    const int top = GetSystemMetrics(SM_YVIRTUALSCREEN) + screenHeight / 2 - frame.height / 2;
    const int firstRow = frame.height * 45 / 100, lastRow = frame.height * 60 / 100;
    const RECT band = {left, top + firstRow, left + frame.width, top + lastRow};

    for (DWORD waited = 0; Difference(CaptureScreen(band), frame, firstRow) <= kMatchLimit; waited += 50) {
        if (waited > 5000) {
            fprintf(stderr, "the first frame is on the screen before the start\n");
            return 1;
        }
        Sleep(50);
    }

    std::string commandLine;
    for (int i = 2; i < argc; ++i)
        commandLine += (i > 2 ? " " : "") + std::string(argv[i]);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    LARGE_INTEGER frequency, started, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&started);
    if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        fprintf(stderr, "cannot start %s: error %lu\n", commandLine.c_str(), GetLastError());
        return 1;
    }

    double best = 255.0, elapsed = 0.0;
    bool shown = false;
    while (!shown) {
        const double difference = Difference(CaptureScreen(band), frame, firstRow);
        QueryPerformanceCounter(&now);
        elapsed = Milliseconds(started, now, frequency);
        best = difference < best ? difference : best;
        shown = difference <= kMatchLimit;
        if (shown || elapsed > kGiveUpMs || WaitForSingleObject(process.hProcess, kPollMs) == WAIT_OBJECT_0)
            break;
    }

    WindowSearch search = {process.dwProcessId, 0};
    EnumWindows(CloseWindowOf, reinterpret_cast<LPARAM>(&search));
    if (WaitForSingleObject(process.hProcess, 5000) != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 5000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    if (!shown) {
        fprintf(stderr, "no first frame after %.0f ms (closest mean difference %.2f)\n", elapsed, best);
        return 1;
    }
    fprintf(stderr, "first frame shown, mean difference %.2f\n", best);
    printf("%.0f\n", elapsed);
    return 0;
}
