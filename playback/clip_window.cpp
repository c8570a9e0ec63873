// The saver's own window procedure: it starts the clip when the full-screen window is
// created, paints, turns timer ticks into caption steps, takes the graph's events and
// tears the playback down with the window. Everything else goes on to the closing
// rules.
#include "playback/clip_window.h"

#include "caption/caption_fade.h"
#include "caption/caption_overlay.h"
#include "host/host.h"
#include "playback/clip_file.h"
#include "playback/playback_events.h"
#include "playback/playback_graph.h"

const char kProgramInterfaceFailure[] = "Failed to initialize program interface.\n\nShutting down now.";
const char kDirectXFailure[] =
    "Failed to initialize DirectX interface.\n\n"
    "This program requires a DirectX 9 (or higher) system with hardware video acceleration enabled.\n"
    "Shutting down now.";

void EndPlaybackWithError(const char *text)
{
    ReleasePlayback();   // first: while the box is up, messages find nothing to work on
    MessageBoxA(nullptr, text, nullptr, MB_ICONERROR);
    PostQuitMessage(0);
}

// Extracts the clip, builds and runs the graph and shows the first caption. A failure
// ends the saver with its box; the window itself is still created.
static void StartPlayback(HWND window)
{
    if (FAILED(ExtractClip())) {
        EndPlaybackWithError(kProgramInterfaceFailure);
        return;
    }
    if (FAILED(BuildPlaybackGraph(window))) {
        EndPlaybackWithError(kDirectXFailure);
        return;
    }
    StartCaption(window);   // shows its own failure
}

LRESULT ClipWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        if (!host.inPreview)
            StartPlayback(window);
        return 0;
    case WM_DESTROY:
        StopCaption(window);
        ReleasePlayback();
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        if (host.inPreview)
            PaintPreviewPicture(window);
        else
            PaintVideo(window);
        return 0;
    case WM_TIMER:
        CaptionTick(window);   // whatever the timer's identifier
        return 0;
    case WM_GRAPHEVENT:
        HandleGraphEvents(window);
        return 0;
    }
    return SaverDefaultProc(window, message, wParam, lParam);
}
