// The playback's one process-wide record. So far it holds what the clip extraction
// writes, the temporary clip file and its path for the playback graph, and the video
// mixer's bitmap interface that the caption overlay draws through.
#pragma once

#include <windows.h>

#include <d3d9.h>
#include <strmif.h>   // the media types that vmr9.h builds on
#include <vmr9.h>

struct TempClipFile;

struct PlaybackState {
    TempClipFile *clipFile = nullptr;          // the one temporary-clip object, owned; null when none exists
    WCHAR clipPathWide[MAX_PATH] = {};         // the clip file's path in wide characters; empty until the file exists
    IVMRMixerBitmap9 *mixerBitmap = nullptr;   // the renderer's mixer bitmap, one reference held; null when there is no graph
};

extern PlaybackState playback;
