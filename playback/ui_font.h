// The saver's one font routine: a font of the given face and point size, sized for
// the screen a window sits on.
#pragma once

#include <windows.h>

// A font of `face` (at most 31 characters are used) at `points` points for the DC of
// `window`, drawn without anti-aliasing; weight FW_BOLD with `bold`, otherwise 0 (the
// default weight). Null when the system cannot make it; the caller decides.
HFONT CreateUiFont(HWND window, const char *face, int points, bool bold, bool italic, bool underline,
                   bool strikeout);
