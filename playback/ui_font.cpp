// Fonts for the saver's own texts: the About box's and the caption's.
#include "playback/ui_font.h"

HFONT CreateUiFont(HWND window, const char *face, int points, bool bold, bool italic, bool underline,
                   bool strikeout)
{
    LOGFONTA font = {};                                     // every field 0: the defaults
    HDC dc = GetDC(window);
    int height = MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72);   // rounds to the nearest pixel
    ReleaseDC(window, dc);
    lstrcpynA(font.lfFaceName, face, LF_FACESIZE);         // 31 characters and the NUL at most
    font.lfHeight = -height;                               // negative: the character height
    font.lfQuality = NONANTIALIASED_QUALITY;
    if (bold)
        font.lfWeight = FW_BOLD;
    if (italic)
        font.lfItalic = 1;
    if (underline)
        font.lfUnderline = 1;
    if (strikeout)
        font.lfStrikeOut = 1;
    return CreateFontIndirectA(&font);
}
