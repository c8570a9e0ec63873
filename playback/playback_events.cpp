// The running playback's events and painting, the preview's still picture, and the
// teardown of everything the start built. Each of these may run after a teardown
// (a message already posted, a modal box's loop), so each tests the fields it uses.
#include "playback/playback_events.h"

#include "caption/caption_overlay.h"
#include "host/host_state.h"
#include "playback/clip_file.h"
#include "playback/playback_state.h"
#include "resources/resource_ids.h"

static const long kEventWaitMs = 0;   // never wait: the queue is drained, not watched

void HandleGraphEvents(HWND window)
{
    if (playback.mediaEvent == nullptr)
        return;

    long code;
    LONG_PTR param1;
    LONG_PTR param2;
    while (SUCCEEDED(playback.mediaEvent->GetEvent(&code, &param1, &param2, kEventWaitMs))) {
        playback.mediaEvent->FreeEventParams(code, param1, param2);
        if (code == EC_COMPLETE) {
            // Back to the first frame while the graph keeps running; only if the seek
            // is refused is the graph restarted the long way.
            LONGLONG start = 0;
            HRESULT hr = playback.mediaSeeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr,
                                                             AM_SEEKING_NoPositioning);
            if (FAILED(hr)) {
                playback.mediaControl->StopWhenReady();
                playback.mediaControl->Run();
            }
            StartCaption(window);
        }
        if (playback.mediaEvent == nullptr)
            return;   // the caption failed and the playback is gone
    }
}

void PaintVideo(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (playback.windowlessControl != nullptr)
        playback.windowlessControl->RepaintVideo(window, dc);
    EndPaint(window, &paint);
}

void PaintPreviewPicture(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client = {};
    GetClientRect(window, &client);
    const int width = client.right;
    const int height = client.bottom;

    // The system scales the picture to the window as it loads it, whatever the
    // window's proportions. No picture: the window stays as it is.
    HBITMAP picture = static_cast<HBITMAP>(
        LoadImageA(host.instance, MAKEINTRESOURCEA(IDB_PREVIEW_PICTURE), IMAGE_BITMAP, width, height, LR_DEFAULTCOLOR));
    if (picture != nullptr) {
        HDC memory = CreateCompatibleDC(nullptr);
        if (memory != nullptr) {
            HGDIOBJ previous = SelectObject(memory, picture);
            BitBlt(dc, 0, 0, width, height, memory, 0, 0, SRCCOPY);
            SelectObject(memory, previous);
            DeleteDC(memory);
        }
        DeleteObject(picture);
    }
    EndPaint(window, &paint);
}

// Gives up one held reference and clears its field.
template <typename Interface>
static void ReleaseField(Interface *&field)
{
    if (field == nullptr)
        return;
    field->Release();
    field = nullptr;
}

void ReleasePlayback()
{
    if (playback.mediaEvent != nullptr) {
        playback.mediaEvent->SetNotifyWindow(0, 0, 0);   // no more WM_GRAPHEVENT from here on
        ReleaseField(playback.mediaEvent);
    }
    // Released while the graph runs: the last reference stops it.
    ReleaseField(playback.mediaSeeking);
    ReleaseField(playback.mediaControl);
    ReleaseField(playback.windowlessControl);
    ReleaseField(playback.mixerBitmap);
    ReleaseField(playback.renderer);
    ReleaseField(playback.graphBuilder);
    CoUninitialize();

    if (playback.captionFont != nullptr) {
        DeleteObject(playback.captionFont);
        playback.captionFont = nullptr;
    }
    if (playback.clipFile != nullptr) {
        playback.clipFile->RemoveFile();
        delete playback.clipFile;
        playback.clipFile = nullptr;
        playback.clipPathWide[0] = L'\0';
    }
}
