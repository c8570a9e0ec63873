// The last stage of the saver window's message handling, where the closing rules
// will decide when the saver ends. For now every message goes to the system's
// default handling, which destroys the window on WM_CLOSE.
#include "host/host.h"

LRESULT SaverDefaultProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}
