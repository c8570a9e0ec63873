// The playback's one process-wide record. So far it holds what the clip extraction
// writes: the temporary clip file and its path for the playback graph.
#pragma once

#include <windows.h>

struct TempClipFile;

struct PlaybackState {
    TempClipFile *clipFile = nullptr;      // the one temporary-clip object, owned; null when none exists
    WCHAR clipPathWide[MAX_PATH] = {};     // the clip file's path in wide characters; empty until the file exists
};

extern PlaybackState playback;
