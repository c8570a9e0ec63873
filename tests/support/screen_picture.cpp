// Reads the screen through the desktop's DC into a 32-bit top-down DIB.
#include "support/screen_picture.h"

#include <cstring>
#include <fstream>

ScreenPicture CaptureScreen(const RECT &area)
{
    ScreenPicture picture;
    const int width = area.right - area.left, height = area.bottom - area.top;
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = -height;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    void *bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP dib = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO *>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ previous = SelectObject(memory, dib);
    if (BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY)) {
        GdiFlush();
        picture.width = width;
        picture.height = height;
        picture.pixels.resize(static_cast<size_t>(width) * height);
        memcpy(picture.pixels.data(), bits, picture.pixels.size() * 4);
        for (uint32_t &pixel : picture.pixels)
            pixel &= 0x00FFFFFF;
    }
    SelectObject(memory, previous);
    DeleteDC(memory);
    DeleteObject(dib);
    ReleaseDC(nullptr, screen);
    return picture;
}

bool SavePicture(const ScreenPicture &picture, const char *path)
{
    if (picture.pixels.empty())
        return false;
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = picture.width;
    header.biHeight = picture.height;   // bottom-up rows
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const DWORD stride = (picture.width * 3 + 3) & ~3u;
    std::vector<char> rows(static_cast<size_t>(stride) * picture.height);
    for (int y = 0; y < picture.height; ++y) {
        char *row = &rows[static_cast<size_t>(picture.height - 1 - y) * stride];
        for (int x = 0; x < picture.width; ++x)
            memcpy(row + 3 * x, &picture.pixels[static_cast<size_t>(y) * picture.width + x], 3);
    }
    BITMAPFILEHEADER fileHeader = {};
    fileHeader.bfType = 0x4D42;
    fileHeader.bfOffBits = sizeof fileHeader + sizeof header;
    fileHeader.bfSize = fileHeader.bfOffBits + static_cast<DWORD>(rows.size());
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char *>(&fileHeader), sizeof fileHeader);
    file.write(reinterpret_cast<const char *>(&header), sizeof header);
    file.write(rows.data(), rows.size());
    return file.good();
}

int LitPixels(const ScreenPicture &picture, const RECT &area)
{
    int lit = 0;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x)
            lit += (picture.At(x, y) & 0xF0F0F0) != 0;   // ignore the faintest noise
    return lit;
}

int ChangedPixels(const ScreenPicture &a, const ScreenPicture &b, const RECT &area)
{
    int changed = 0;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x)
            changed += a.At(x, y) != b.At(x, y);
    return changed;
}
