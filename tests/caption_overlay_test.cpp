// Drawing the caption and starting it, in this process: a window of this test stands in
// for the saver window and a recording mixer for the renderer's, which copies the
// pixels out of the DC during the call as the real mixer does. Wine's own mixer answers
// E_NOTIMPL to everything, so it cannot be used here.
#include <windows.h>

#include <gtest/gtest.h>

#include "caption/caption_fade.h"
#include "caption/caption_overlay.h"
#include "caption/caption_state.h"
#include "playback/clip_window.h"
#include "playback/playback_state.h"
#include "playback/ui_font.h"
#include "support/replaced_import.h"

#include <cstring>
#include <string>
#include <vector>

extern BOOL(WINAPI *__imp_GetTextExtentPoint32A)(HDC, LPCSTR, int, LPSIZE);
extern int(WINAPI *__imp_MessageBoxA)(HWND, LPCSTR, LPCSTR, UINT);
extern HBITMAP(WINAPI *__imp_CreateCompatibleBitmap)(HDC, int, int);
extern UINT_PTR(WINAPI *__imp_SetTimer)(HWND, UINT_PTR, UINT, TIMERPROC);
extern HDC(WINAPI *__imp_GetDC)(HWND);
extern int(WINAPI *__imp_ReleaseDC)(HWND, HDC);
extern BOOL(WINAPI *__imp_DeleteObject)(HGDIOBJ);

static const COLORREF kLightBlue = 0xFFD7AD;
static const COLORREF kWhite = 0xFFFFFF;
static const UINT_PTR kCaptionTimer = 50;

// The pixels of the top-left `width` x `height` of whatever `dc` holds, as COLORREFs,
// row by row from the top.
static std::vector<COLORREF> CopyPixels(HDC dc, int width, int height)
{
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;   // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    HBITMAP copy = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC copyDc = CreateCompatibleDC(dc);
    HGDIOBJ previous = SelectObject(copyDc, copy);
    BitBlt(copyDc, 0, 0, width, height, dc, 0, 0, SRCCOPY);
    GdiFlush();
    std::vector<COLORREF> pixels;
    for (int i = 0; i < width * height; ++i) {
        DWORD pixel = static_cast<const DWORD *>(bits)[i];   // 0x00RRGGBB
        pixels.push_back(RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF));
    }
    SelectObject(copyDc, previous);
    DeleteDC(copyDc);
    DeleteObject(copy);
    return pixels;
}

// The DC of the last SetAlphaBitmap call, kept past the call for the deletion watch.
static HDC lastCaptionDc = nullptr;

// What the mixer is handed, and what it finds in the DC while the call lasts.
struct SetCall {
    VMR9AlphaBitmap record;
    HGDIOBJ bitmapInDc;          // the bitmap selected into record.hdc during the call
    BITMAP bitmapInfo;           // its size and depth
    std::vector<COLORREF> pixels;   // record.rSrc of it, copied during the call
};

// Records each SetAlphaBitmap call and answers `setResult`; counts its releases.
struct RecordingMixerBitmap : IVMRMixerBitmap9 {
    std::vector<SetCall> sets;
    HRESULT setResult = S_OK;
    int releases = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ++releases;
        return 0;
    }
    HRESULT STDMETHODCALLTYPE SetAlphaBitmap(const VMR9AlphaBitmap *bitmap) override
    {
        SetCall call = {*bitmap, nullptr, {}, {}};
        call.bitmapInDc = GetCurrentObject(bitmap->hdc, OBJ_BITMAP);
        GetObjectA(call.bitmapInDc, sizeof call.bitmapInfo, &call.bitmapInfo);
        const LONG width = bitmap->rSrc.right - bitmap->rSrc.left, height = bitmap->rSrc.bottom - bitmap->rSrc.top;
        if (width > 0 && height > 0 && width <= 4096 && height <= 4096)
            call.pixels = CopyPixels(bitmap->hdc, width, height);
        sets.push_back(call);
        lastCaptionDc = bitmap->hdc;
        return setResult;
    }
    HRESULT STDMETHODCALLTYPE UpdateAlphaBitmapParameters(const VMR9AlphaBitmap *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAlphaBitmapParameters(VMR9AlphaBitmap *) override { return E_NOTIMPL; }
};

// Window DCs handed out and given back, through the test program's own import slots.
static int windowDcsHeld = 0;
static HDC(WINAPI *const realGetDC)(HWND) = __imp_GetDC;
static int(WINAPI *const realReleaseDC)(HWND, HDC) = __imp_ReleaseDC;
static HDC WINAPI CountingGetDC(HWND window)
{
    HDC dc = realGetDC(window);
    if (dc != nullptr)
        ++windowDcsHeld;
    return dc;
}
static int WINAPI CountingReleaseDC(HWND window, HDC dc)
{
    int released = realReleaseDC(window, dc);
    if (released)
        --windowDcsHeld;
    return released;
}

// Bitmaps deleted while still selected into the caption's DC: Wine defers such a
// deletion until the DC goes, Windows refuses it and the bitmap leaks.
static int deletedWhileSelected = 0;
static BOOL(WINAPI *const realDeleteObject)(HGDIOBJ) = __imp_DeleteObject;
static BOOL WINAPI WatchingDeleteObject(HGDIOBJ object)
{
    if (lastCaptionDc != nullptr && object != nullptr && GetCurrentObject(lastCaptionDc, OBJ_BITMAP) == object)
        ++deletedWhileSelected;
    return realDeleteObject(object);
}

// The measurement stand-in: answers `standInExtent`, or fails; remembers its DCs.
static BOOL(WINAPI *const realGetTextExtentPoint32A)(HDC, LPCSTR, int, LPSIZE) = __imp_GetTextExtentPoint32A;
static SIZE standInExtent = {};
static bool standInFails = false;
static std::vector<HDC> measuringDcs;
static BOOL WINAPI StandInTextExtent(HDC dc, LPCSTR, int, LPSIZE size)
{
    measuringDcs.push_back(dc);
    if (standInFails)
        return FALSE;
    *size = standInExtent;
    return TRUE;
}

struct ShownBox {
    HWND owner;
    std::string text;
    bool hasTitle;
    UINT flags;
};
static std::vector<ShownBox> shownBoxes;
static int WINAPI RecordingMessageBoxA(HWND owner, LPCSTR text, LPCSTR title, UINT flags)
{
    shownBoxes.push_back({owner, text ? text : "", title != nullptr, flags});
    return IDOK;
}

static UINT_PTR WINAPI FailingSetTimer(HWND, UINT_PTR, UINT, TIMERPROC) { return 0; }
static HBITMAP(WINAPI *const realCreateCompatibleBitmap)(HDC, int, int) = __imp_CreateCompatibleBitmap;
static HBITMAP WINAPI FailingCreateCompatibleBitmap(HDC, int, int) { return nullptr; }

class CaptionOverlay : public testing::Test {
protected:
    void SetUp() override
    {
        windowDcsHeld = 0;
        deletedWhileSelected = 0;
        lastCaptionDc = nullptr;
        window = CreateWindowExA(0, "STATIC", "caption", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window, nullptr);
        caption = CaptionState{};
        shownBoxes.clear();
        ResetPlayback({0, 0, 1024, 768});
    }
    void TearDown() override
    {
        KillTimer(window, kCaptionTimer);
        DestroyWindow(window);
        if (playback.captionFont != nullptr)
            DeleteObject(playback.captionFont);
        playback = PlaybackState{};
        caption = CaptionState{};
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
        EXPECT_EQ(windowDcsHeld, 0) << "every window DC taken is given back";
        EXPECT_EQ(deletedWhileSelected, 0) << "the caption bitmap is selected out before it is deleted";
    }

    // A playback as the graph leaves it for the caption: the recording mixer, the
    // native video size, a fresh caption font, and COM initialised for the teardown.
    void ResetPlayback(RECT video)
    {
        if (playback.captionFont != nullptr)
            DeleteObject(playback.captionFont);
        playback = PlaybackState{};
        mixer.sets.clear();
        mixer.setResult = S_OK;
        mixer.releases = 0;
        playback.mixerBitmap = &mixer;
        playback.nativeVideoRect = video;
        playback.captionFont = CreateUiFont(window, "Arial", 8, true, false, false, false);
        ASSERT_NE(playback.captionFont, nullptr);
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);   // the teardown gives it up
    }

    // The text's size in the caption font, measured independently of the caption.
    SIZE Measure(const char *text)
    {
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ previous = SelectObject(dc, playback.captionFont);
        SIZE size = {};
        GetTextExtentPoint32A(dc, text, lstrlenA(text), &size);
        SelectObject(dc, previous);
        DeleteDC(dc);
        return size;
    }

    // The text drawn as the caption should look: light blue glyphs on white.
    std::vector<COLORREF> DrawReference(const char *text)
    {
        SIZE size = Measure(text);
        HDC screen = realGetDC(nullptr);
        HDC dc = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, size.cx, size.cy);
        realReleaseDC(nullptr, screen);
        HGDIOBJ previousBitmap = SelectObject(dc, bitmap);
        HGDIOBJ previousFont = SelectObject(dc, playback.captionFont);
        SetBkColor(dc, kWhite);
        SetTextColor(dc, kLightBlue);
        TextOutA(dc, 0, 0, text, lstrlenA(text));
        std::vector<COLORREF> pixels = CopyPixels(dc, size.cx, size.cy);
        SelectObject(dc, previousFont);
        SelectObject(dc, previousBitmap);
        DeleteObject(bitmap);
        DeleteDC(dc);
        return pixels;
    }

    // True when a caption timer runs on the window: it sends its WM_TIMER.
    bool CaptionTimerRuns()
    {
        Sleep(120);
        MSG message;
        while (PeekMessageA(&message, window, WM_TIMER, WM_TIMER, PM_REMOVE))
            if (message.wParam == kCaptionTimer)
                return true;
        return false;
    }

    ReplacedImport<decltype(__imp_GetDC)> getDc{&__imp_GetDC, CountingGetDC};
    ReplacedImport<decltype(__imp_ReleaseDC)> releaseDc{&__imp_ReleaseDC, CountingReleaseDC};
    ReplacedImport<decltype(__imp_DeleteObject)> deleteObject{&__imp_DeleteObject, WatchingDeleteObject};
    HWND window = nullptr;
    RecordingMixerBitmap mixer;
};

static float PlacedEdge(LONG videoExtent, LONG bitmapExtent)
{
    return static_cast<float>(videoExtent - bitmapExtent) / videoExtent - 0.05f;
}

// Both captions over two video sizes: the whole record the mixer gets, the bitmap it
// finds in the DC and its pixels, and that no GDI object outlives the call but the font.
TEST_F(CaptionOverlay, MixerGetsTheTextKeyedOnWhiteAtTheBottomRightAndNoGdiObjectOutlivesTheCall)
{
    struct Case {
        int slot;
        RECT video;
        float alpha;
    };
    const Case cases[] = {
        {0, {0, 0, 1024, 768}, 0.0f},
        {1, {0, 0, 1024, 768}, 0.0f},
        {1, {0, 0, 320, 240}, 0.38f},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("slot " + std::to_string(c.slot) + " over " + std::to_string(c.video.right) + " x " +
                     std::to_string(c.video.bottom));
        ResetPlayback(c.video);
        caption.currentAlpha = c.alpha;
        const char *text = captionTexts[c.slot];
        const SIZE size = Measure(text);
        ASSERT_GT(size.cx, 0);

        ASSERT_EQ(ShowCaption(window, text), S_OK);

        ASSERT_EQ(mixer.sets.size(), 1u);
        const SetCall &call = mixer.sets[0];
        const VMR9AlphaBitmap &sent = call.record;
        EXPECT_EQ(sent.dwFlags, 10u);
        EXPECT_NE(sent.hdc, nullptr);
        EXPECT_EQ(sent.pDDS, nullptr);
        EXPECT_EQ(sent.rSrc.left, 0);
        EXPECT_EQ(sent.rSrc.top, 0);
        EXPECT_EQ(sent.rSrc.right, size.cx);
        EXPECT_EQ(sent.rSrc.bottom, size.cy);
        EXPECT_EQ(sent.rDest.left, PlacedEdge(c.video.right, size.cx));
        EXPECT_EQ(sent.rDest.top, PlacedEdge(c.video.bottom, size.cy));
        EXPECT_EQ(sent.rDest.right, 1.0f - 0.05f);
        EXPECT_EQ(sent.rDest.bottom, 1.0f - 0.05f);
        EXPECT_EQ(sent.fAlpha, c.alpha);
        EXPECT_EQ(sent.clrSrcKey, kWhite);
        EXPECT_EQ(sent.dwFilterMode, 0u);
        EXPECT_EQ(memcmp(&caption.alphaBitmap, &sent, sizeof sent), 0) << "the record stays for the fade";

        // The DC held a bitmap of the text's size in the screen's format.
        HDC screen = GetDC(window);
        const int screenBits = GetDeviceCaps(screen, BITSPIXEL);
        ReleaseDC(window, screen);
        EXPECT_EQ(call.bitmapInfo.bmWidth, size.cx);
        EXPECT_EQ(call.bitmapInfo.bmHeight, size.cy);
        EXPECT_EQ(call.bitmapInfo.bmBitsPixel, screenBits);

        size_t glyphPixels = 0, whitePixels = 0;
        for (COLORREF pixel : call.pixels) {
            glyphPixels += pixel == kLightBlue;
            whitePixels += pixel == kWhite;
        }
        EXPECT_GT(glyphPixels, 0u);
        EXPECT_GT(whitePixels, 0u);
        EXPECT_EQ(glyphPixels + whitePixels, call.pixels.size()) << "no colour but the text's and white";
        EXPECT_TRUE(call.pixels == DrawReference(text)) << "the pixels are this text's";

        EXPECT_EQ(GetObjectType(sent.hdc), 0u) << "the memory DC is deleted";
        EXPECT_EQ(GetObjectType(call.bitmapInDc), 0u) << "the caption bitmap is deleted";
        EXPECT_EQ(GetObjectType(playback.captionFont), static_cast<DWORD>(OBJ_FONT)) << "the font stays";
    }
}

// A text 160 x 13 pixels over a 1024 x 768 video ends at 0.95 of both and keeps its
// pixel size relative to the video.
TEST_F(CaptionOverlay, A160By13TextOverA1024By768VideoSitsAtTheCorner)
{
    standInExtent = {160, 13};
    standInFails = false;
    ReplacedImport<decltype(__imp_GetTextExtentPoint32A)> extent(&__imp_GetTextExtentPoint32A, StandInTextExtent);

    ASSERT_EQ(ShowCaption(window, captionTexts[1]), S_OK);

    ASSERT_EQ(mixer.sets.size(), 1u);
    const VMR9AlphaBitmap &sent = mixer.sets[0].record;
    EXPECT_EQ(sent.rSrc.right, 160);
    EXPECT_EQ(sent.rSrc.bottom, 13);
    EXPECT_EQ(mixer.sets[0].bitmapInfo.bmWidth, 160);
    EXPECT_EQ(mixer.sets[0].bitmapInfo.bmHeight, 13);
    EXPECT_NEAR(sent.rDest.left, 0.794f, 0.0005f);
    EXPECT_NEAR(sent.rDest.top, 0.933f, 0.0005f);
    EXPECT_EQ(sent.rDest.right, 0.95f);
    EXPECT_EQ(sent.rDest.bottom, 0.95f);
    EXPECT_NEAR(sent.rDest.right - sent.rDest.left, 160.0f / 1024, 1e-6f);
    EXPECT_NEAR(sent.rDest.bottom - sent.rDest.top, 13.0f / 768, 1e-6f);
}

// The first start of a caption and a second one while it runs (a loop shorter than the
// caption): the same slot at the current opacity, one timer, nothing reset.
TEST_F(CaptionOverlay, StartShowsTheCurrentSlotAndRunsOneTimerResettingNothing)
{
    for (int slot = 0; slot < 2; ++slot) {
        SCOPED_TRACE("slot " + std::to_string(slot));
        ResetPlayback({0, 0, 1024, 768});
        caption = CaptionState{};
        caption.captionIndex = slot;
        const std::vector<COLORREF> expected = DrawReference(captionTexts[slot]);
        const SIZE size = Measure(captionTexts[slot]);

        StartCaption(window);

        ASSERT_EQ(mixer.sets.size(), 1u);
        EXPECT_EQ(mixer.sets[0].record.rSrc.right, size.cx);
        EXPECT_TRUE(mixer.sets[0].pixels == expected);
        EXPECT_EQ(mixer.sets[0].record.fAlpha, 0.0f);
        EXPECT_EQ(caption.timerId, kCaptionTimer);
        EXPECT_EQ(caption.elapsedMs, 0);
        EXPECT_EQ(caption.currentAlpha, 0.0f);
        EXPECT_EQ(caption.captionIndex, slot);
        EXPECT_TRUE(CaptionTimerRuns());

        caption.elapsedMs = 3000;
        caption.currentAlpha = 0.38f;
        StartCaption(window);

        ASSERT_EQ(mixer.sets.size(), 2u);
        EXPECT_TRUE(mixer.sets[1].pixels == expected);
        EXPECT_EQ(mixer.sets[1].record.fAlpha, 0.38f);
        EXPECT_EQ(caption.timerId, kCaptionTimer);
        EXPECT_EQ(caption.elapsedMs, 3000);
        EXPECT_EQ(caption.currentAlpha, 0.38f);
        EXPECT_EQ(caption.captionIndex, slot);
        EXPECT_TRUE(CaptionTimerRuns());
        EXPECT_TRUE(KillTimer(window, kCaptionTimer));
        EXPECT_FALSE(CaptionTimerRuns()) << "the second start replaced the timer rather than adding one";
        EXPECT_EQ(mixer.releases, 0);
        EXPECT_TRUE(shownBoxes.empty());
    }
}

// Every way the caption cannot be shown: the HRESULT comes back unchanged, no GDI
// object is left, and a start ends the playback with the DirectX box and the quit
// message, with no timer and the caption state as it was.
TEST_F(CaptionOverlay, ACaptionThatCannotBeShownEndsThePlaybackWithTheDirectXBox)
{
    struct Case {
        const char *name;
        HRESULT setResult;
        enum { NoGdiFailure, MeasuringFails, BitmapFails } gdi;
        RECT video;
        bool withMixer;
        HRESULT expected;
    };
    const Case cases[] = {
        {"mixer refuses the bitmap", E_OUTOFMEMORY, Case::NoGdiFailure, {0, 0, 1024, 768}, true, E_OUTOFMEMORY},
        {"mixer cannot blend", E_NOTIMPL, Case::NoGdiFailure, {0, 0, 1024, 768}, true, E_NOTIMPL},
        {"text cannot be measured", S_OK, Case::MeasuringFails, {0, 0, 1024, 768}, true, E_FAIL},
        {"no bitmap for the text", S_OK, Case::BitmapFails, {0, 0, 1024, 768}, true, E_OUTOFMEMORY},
        {"no video width", S_OK, Case::NoGdiFailure, {0, 0, 0, 768}, true, E_UNEXPECTED},
        {"no video height", S_OK, Case::NoGdiFailure, {0, 0, 1024, 0}, true, E_UNEXPECTED},
        {"no mixer", S_OK, Case::NoGdiFailure, {0, 0, 1024, 768}, false, E_UNEXPECTED},
    };
    ReplacedImport<decltype(__imp_MessageBoxA)> box(&__imp_MessageBoxA, RecordingMessageBoxA);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ResetPlayback(c.video);
        mixer.setResult = c.setResult;
        if (!c.withMixer)
            playback.mixerBitmap = nullptr;
        caption = CaptionState{};
        caption.captionIndex = 0;
        caption.elapsedMs = 3000;
        caption.currentAlpha = 0.38f;
        shownBoxes.clear();
        standInExtent = {0, 0};
        standInFails = true;
        measuringDcs.clear();

        {
            ReplacedImport<decltype(__imp_GetTextExtentPoint32A)> extent(
                &__imp_GetTextExtentPoint32A,
                c.gdi == Case::MeasuringFails ? StandInTextExtent : realGetTextExtentPoint32A);
            ReplacedImport<decltype(__imp_CreateCompatibleBitmap)> bitmap(
                &__imp_CreateCompatibleBitmap,
                c.gdi == Case::BitmapFails ? FailingCreateCompatibleBitmap : realCreateCompatibleBitmap);
            EXPECT_EQ(ShowCaption(window, captionTexts[0]), c.expected);
            EXPECT_EQ(mixer.sets.size(), c.setResult != S_OK ? 1u : 0u);

            StartCaption(window);
        }

        std::vector<HGDIOBJ> madeHere(measuringDcs.begin(), measuringDcs.end());   // the caption's DCs and bitmaps
        for (const SetCall &call : mixer.sets) {
            madeHere.push_back(call.record.hdc);
            madeHere.push_back(call.bitmapInDc);
        }
        // Two calls: a DC each, and a bitmap each when the mixer was reached.
        EXPECT_EQ(madeHere.size(), c.gdi == Case::MeasuringFails ? 2u : c.setResult != S_OK ? 4u : 0u);
        for (HGDIOBJ object : madeHere)
            EXPECT_EQ(GetObjectType(object), 0u) << "a DC or bitmap of the caption is left";
        EXPECT_EQ(playback.mixerBitmap, nullptr);
        EXPECT_EQ(mixer.releases, c.withMixer ? 1 : 0);
        ASSERT_EQ(shownBoxes.size(), 1u);
        EXPECT_EQ(shownBoxes[0].owner, nullptr);
        EXPECT_EQ(shownBoxes[0].text, kDirectXFailure);
        EXPECT_FALSE(shownBoxes[0].hasTitle);
        EXPECT_EQ(shownBoxes[0].flags, static_cast<UINT>(MB_ICONERROR));
        MSG quit;
        ASSERT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
        EXPECT_EQ(quit.wParam, 0u);
        EXPECT_FALSE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "one quit message";
        EXPECT_EQ(caption.timerId, 0u);
        EXPECT_FALSE(CaptionTimerRuns());
        EXPECT_EQ(caption.captionIndex, 0);
        EXPECT_EQ(caption.elapsedMs, 3000);
        EXPECT_EQ(caption.currentAlpha, 0.38f);
    }
}

// Without a timer no tick comes: the caption stays clear, nothing ends it, and the next
// start shows the same slot again.
TEST_F(CaptionOverlay, WithoutATimerTheNextStartShowsTheSameSlotAgain)
{
    {
        ReplacedImport<decltype(__imp_SetTimer)> timer(&__imp_SetTimer, FailingSetTimer);
        StartCaption(window);
    }
    EXPECT_EQ(caption.timerId, 0u);
    EXPECT_EQ(caption.currentAlpha, 0.0f);
    EXPECT_FALSE(CaptionTimerRuns());

    StopCaption(window);
    EXPECT_EQ(caption.captionIndex, 1);

    StartCaption(window);
    ASSERT_EQ(mixer.sets.size(), 2u);
    EXPECT_TRUE(mixer.sets[1].pixels == mixer.sets[0].pixels);
    EXPECT_TRUE(mixer.sets[0].pixels == DrawReference(captionTexts[1]));
    EXPECT_EQ(caption.timerId, kCaptionTimer);
    EXPECT_TRUE(shownBoxes.empty());
}
