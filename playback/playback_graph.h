// The DirectShow graph that plays the extracted clip into the saver window through
// the VMR-9 in windowless mode.
#pragma once

#include "playback/playback_state.h"

// The saver window's graph event message: the graph posts it whenever it queues an event.
const UINT WM_GRAPHEVENT = WM_USER + 13;

// Builds the graph for the clip at playback.clipPathWide, binds its renderer and its
// events to `window`, places the video, makes the caption font and runs the graph.
// Nothing is undone on failure: ReleasePlayback copes with any partial state.
HRESULT BuildPlaybackGraph(HWND window);

// Creates the VMR-9, adds it to playback.graphBuilder in windowless mode on `window`
// and fills windowlessControl and mixerBitmap; stores the filter at `renderer` last.
HRESULT AddWindowlessRenderer(HWND window, IBaseFilter **renderer);

// Adds a source filter for `path` to `graph` and renders its first free output pin to
// the renderers already in the graph, and to no other.
HRESULT RenderClipFile(IGraphBuilder *graph, const WCHAR *path);

// The first pin of `filter` in `direction` that is not connected, owned by the caller.
HRESULT FindUnconnectedPin(IBaseFilter *filter, PIN_DIRECTION direction, IPin **pin);
