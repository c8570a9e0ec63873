// The caption overlay's one process-wide record and its two fixed captions.
#pragma once

#include <windows.h>

#include <d3d9.h>
#include <strmif.h>   // the media types that vmr9.h builds on
#include <vmr9.h>

struct CaptionState {
    VMR9AlphaBitmap alphaBitmap = {};   // the parameters last handed to the mixer
    float currentAlpha = 0.0f;          // current opacity of the caption: 0 transparent, 1 opaque
    UINT_PTR timerId = 0;               // what SetTimer returned for the running caption; 0: no caption timer runs
    int elapsedMs = 0;                  // nominal milliseconds since the caption started: 50 per tick
    int captionIndex = 1;               // the slot of captionTexts that the next caption shows: 0 or 1
};

extern CaptionState caption;

// The two captions, one line each, NUL-terminated and zero-filled: slot 0 the maker's
// web address, slot 1 the copyright line, as the About box words them.
extern const char captionTexts[2][64];
