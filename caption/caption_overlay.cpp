// The caption over the video: the text drawn once into a bitmap in the screen's format,
// light blue on white, and handed to the renderer's mixer, which copies it during the
// call and blends it at the bottom-right corner of the picture with white keyed out.
#include "caption/caption_overlay.h"

#include "caption/caption_state.h"
#include "playback/clip_window.h"
#include "playback/playback_state.h"

static const UINT_PTR kCaptionTimerId = 50;
static const UINT kCaptionTimerMs = 50;
static const COLORREF kTextColour = 0xFFD7AD;          // red 0xAD, green 0xD7, blue 0xFF: a light blue
static const COLORREF kBackgroundColour = 0xFFFFFF;    // white, and the colour the mixer keys out
static const float kHorizontalMargin = 0.05f;          // of the video's width, left of the right edge
static const float kVerticalMargin = 0.05f;            // of the video's height, above the bottom edge
static const float kFullExtent = 1.0f;

void StartCaption(HWND window)
{
    HRESULT hr = ShowCaption(window, captionTexts[caption.captionIndex]);
    if (FAILED(hr)) {
        EndPlaybackWithError(kDirectXFailure);   // the saver shuts down: no timer
        return;
    }
    caption.timerId = SetTimer(window, kCaptionTimerId, kCaptionTimerMs, nullptr);   // 0: the caption stays clear
}

// Fills the caption record for a bitmap of `bitmapSize` holding `textSize` of text,
// selected into `memoryDc`, placed by its pixel size relative to the native video.
static void FillAlphaBitmap(HDC memoryDc, SIZE textSize, const BITMAP &bitmapSize, LONG videoWidth, LONG videoHeight)
{
    VMR9AlphaBitmap &bitmap = caption.alphaBitmap;
    bitmap = {};
    bitmap.dwFlags = VMR9AlphaBitmap_hDC | VMR9AlphaBitmap_SrcColorKey;
    bitmap.hdc = memoryDc;
    bitmap.pDDS = nullptr;
    bitmap.rSrc = {0, 0, textSize.cx, textSize.cy};
    bitmap.rDest.left = static_cast<float>(videoWidth - bitmapSize.bmWidth) / videoWidth - kHorizontalMargin;
    bitmap.rDest.top = static_cast<float>(videoHeight - bitmapSize.bmHeight) / videoHeight - kVerticalMargin;
    bitmap.rDest.right = kFullExtent - kHorizontalMargin;
    bitmap.rDest.bottom = kFullExtent - kVerticalMargin;
    bitmap.fAlpha = caption.currentAlpha;
    bitmap.clrSrcKey = kBackgroundColour;
    bitmap.dwFilterMode = 0;
}

// Draws `text` into `bitmap` through `memoryDc` and hands it to the mixer; the bitmap is
// selected out again afterwards, whatever the mixer answered.
static HRESULT DrawAndSetCaption(HDC memoryDc, HBITMAP bitmap, const char *text, int length, SIZE textSize)
{
    BITMAP bitmapSize = {};
    GetObjectA(bitmap, sizeof bitmapSize, &bitmapSize);
    HGDIOBJ previousBitmap = SelectObject(memoryDc, bitmap);

    SetBkColor(memoryDc, kBackgroundColour);     // the background mode stays opaque: all but the glyphs is white
    SetTextColor(memoryDc, kTextColour);
    TextOutA(memoryDc, 0, 0, text, length);

    FillAlphaBitmap(memoryDc, textSize, bitmapSize, playback.nativeVideoRect.right, playback.nativeVideoRect.bottom);
    HRESULT hr = playback.mixerBitmap->SetAlphaBitmap(&caption.alphaBitmap);

    SelectObject(memoryDc, previousBitmap);      // the mixer has its own copy, or failed and needs none
    return hr;
}

HRESULT ShowCaption(HWND window, const char *text)
{
    // Only called while a graph with a known video size exists; without one the
    // placement would divide by zero, so nothing is handed to the mixer.
    if (playback.mixerBitmap == nullptr || playback.nativeVideoRect.right <= 0 || playback.nativeVideoRect.bottom <= 0)
        return E_UNEXPECTED;

    HDC windowDc = GetDC(window);
    HDC memoryDc = CreateCompatibleDC(windowDc);
    HGDIOBJ previousFont = SelectObject(memoryDc, playback.captionFont);

    const int length = lstrlenA(text);
    SIZE textSize = {0, 0};
    HRESULT hr = E_FAIL;
    HBITMAP bitmap = nullptr;
    if (GetTextExtentPoint32A(memoryDc, text, length, &textSize)) {
        bitmap = CreateCompatibleBitmap(windowDc, textSize.cx, textSize.cy);   // the screen's format
        hr = bitmap != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    ReleaseDC(window, windowDc);

    // Every GDI object made here goes again on every way out; the caption font stays,
    // it belongs to the playback.
    if (SUCCEEDED(hr)) {
        hr = DrawAndSetCaption(memoryDc, bitmap, text, length, textSize);
        DeleteObject(bitmap);
    }
    SelectObject(memoryDc, previousFont);
    DeleteDC(memoryDc);
    return hr;
}
