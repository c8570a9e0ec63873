// What the screen shows: pixels read back from the display, and BMP files of them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

struct ScreenPicture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;   // 0x00RRGGBB, top row first; empty when the read failed

    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// The screen's pixels inside `area` (screen coordinates).
ScreenPicture CaptureScreen(const RECT &area);

// Writes the picture as a 24-bit BMP file.
bool SavePicture(const ScreenPicture &picture, const char *path);

// Pixels of `area` (picture coordinates) that are not black, the faintest noise ignored.
int LitPixels(const ScreenPicture &picture, const RECT &area);

// Pixels of `area` that differ between two pictures of the same size.
int ChangedPixels(const ScreenPicture &a, const ScreenPicture &b, const RECT &area);
