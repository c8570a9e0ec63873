// The saver's own window procedure, where the clip's playback will start, paint and
// end. The playback is not built yet: every message goes on to the closing rules.
#include "host/host.h"
#include "playback/clip_window.h"

LRESULT ClipWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return SaverDefaultProc(window, message, wParam, lParam);
}
