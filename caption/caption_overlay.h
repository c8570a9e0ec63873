// The caption drawn over the video: one of the two captions, drawn once into a bitmap
// that the renderer's mixer blends at the caption's current opacity.
#pragma once

#include <windows.h>

// Shows the caption of slot caption.captionIndex and starts the 50 ms caption timer on
// `window`. On failure the playback is released, the DirectX box shown and the quit
// message posted.
void StartCaption(HWND window);

// Draws `text` into a new bitmap and hands it to the mixer at the current opacity.
HRESULT ShowCaption(HWND window, const char *text);
