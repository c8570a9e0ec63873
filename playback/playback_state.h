// The playback's one process-wide record: the graph's and the renderer's interfaces,
// the clip's native size, the caption font and the temporary clip file. Every
// interface field holds exactly one reference; null means nothing is held. The
// teardown gives each up and clears the field.
#pragma once

#include <windows.h>

#include <d3d9.h>
#include <strmif.h>    // the filter graph's interfaces
#include <control.h>   // IMediaControl, IMediaEventEx
#include <evcode.h>    // EC_COMPLETE
#include <uuids.h>     // CLSID_FilterGraph, CLSID_VideoMixingRenderer9
#include <vmr9.h>

struct TempClipFile;

struct PlaybackState {
    IGraphBuilder *graphBuilder = nullptr;                // the filter graph manager
    IBaseFilter *renderer = nullptr;                      // the VMR-9 filter, set once it is fully configured
    IMediaControl *mediaControl = nullptr;                // runs the graph
    IMediaEventEx *mediaEvent = nullptr;                  // the graph's event queue and its notification window
    IMediaSeeking *mediaSeeking = nullptr;                // rewinds the clip
    IVMRWindowlessControl9 *windowlessControl = nullptr;  // clipping window, border, video position, repaint
    IVMRMixerBitmap9 *mixerBitmap = nullptr;              // the renderer's alpha-bitmap input for the caption
    RECT nativeVideoRect = {};                            // (0, 0, clip width, clip height) in pixels
    HFONT captionFont = nullptr;                          // the caption's font, owned
    TempClipFile *clipFile = nullptr;                     // the one temporary-clip object, owned; null when none exists
    WCHAR clipPathWide[MAX_PATH] = {};                    // the clip file's path in wide characters; empty until the file exists
};

extern PlaybackState playback;
