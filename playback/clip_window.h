// The saver's own window procedure: the middle stage of the saver window's chain.
#pragma once

#include <windows.h>

LRESULT ClipWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
