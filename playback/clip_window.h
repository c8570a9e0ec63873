// The saver's own window procedure: the middle stage of the saver window's chain.
#pragma once

#include <windows.h>

LRESULT ClipWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The two texts a failed start shows.
extern const char kProgramInterfaceFailure[];
extern const char kDirectXFailure[];

// Ends a playback that cannot go on: releases it, shows `text` in the error box (no
// owner, no title, MB_ICONERROR) and then posts the quit message.
void EndPlaybackWithError(const char *text);
