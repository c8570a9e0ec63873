// What the saver does with a running playback: its events, its painting, and its
// teardown; and the still picture that stands in for it in preview.
#pragma once

#include <windows.h>

// Handles every event waiting in the graph's queue; at the end of the clip it rewinds
// the running graph and starts the next caption.
void HandleGraphEvents(HWND window);

// WM_PAINT in full screen: the renderer redraws its current frame and border.
void PaintVideo(HWND window);

// WM_PAINT in preview: bitmap 102 scaled to the whole client area.
void PaintPreviewPicture(HWND window);

// Releases whatever of the playback exists, in a fixed order, and deletes the
// temporary clip file. Safe at any stage and any number of times.
void ReleasePlayback();
