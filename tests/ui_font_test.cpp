// The saver's font routine, in this process: the LOGFONT that the system keeps for each
// font it returns, at the pixels per inch of the window it is made for. Wine gives no
// way to change a window's LOGPIXELSY at run time, so the cases run at the display's
// own value (96 on the bench, where 8 points must come out as 11 pixels) and the
// formula is checked against whatever that value is.
#include <windows.h>

#include <gtest/gtest.h>

#include "playback/ui_font.h"

#include <string>

static int PixelsPerInchOf(HWND window)
{
    HDC dc = GetDC(window);
    int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(window, dc);
    return dpi;
}

TEST(UiFont, KeepsTheRequestedLookAtTheWindowsPixelsPerInch)
{
    HWND window = CreateWindowExA(0, "STATIC", "fonts", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    const int dpi = PixelsPerInchOf(window);

    const std::string longFace = "Vesperine Face Name That Goes On Past Thirty-One";
    struct Case {
        std::string face;
        int points;
        bool bold, italic, underline, strikeout;
        const char *expectedFace;
    };
    const Case cases[] = {
        {"MS Sans Serif", 8, true, false, false, false, "MS Sans Serif"},
        {"MS Sans Serif", 8, false, false, true, false, "MS Sans Serif"},
        {"Arial", 12, false, true, false, false, "Arial"},
        {"Arial", 9, false, false, false, true, "Arial"},
        {"Tahoma", 7, true, true, true, true, "Tahoma"},
        {"Tahoma", 10, false, false, false, false, "Tahoma"},
        {longFace, 8, false, false, false, false, "Vesperine Face Name That Goes O"},   // cut to 31
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.face + " " + std::to_string(c.points) + " pt, bold " + std::to_string(c.bold) + " italic " +
                     std::to_string(c.italic) + " underline " + std::to_string(c.underline) + " strikeout " +
                     std::to_string(c.strikeout));
        HFONT font = CreateUiFont(window, c.face.c_str(), c.points, c.bold, c.italic, c.underline, c.strikeout);
        ASSERT_NE(font, nullptr);
        LOGFONTA made = {};
        ASSERT_EQ(GetObjectA(font, sizeof made, &made), static_cast<int>(sizeof made));
        EXPECT_EQ(made.lfHeight, -MulDiv(c.points, dpi, 72));
        EXPECT_EQ(made.lfWidth, 0);
        EXPECT_EQ(made.lfEscapement, 0);
        EXPECT_EQ(made.lfOrientation, 0);
        EXPECT_EQ(made.lfWeight, c.bold ? FW_BOLD : 0);   // not FW_NORMAL without bold
        EXPECT_EQ(made.lfItalic, c.italic ? 1 : 0);
        EXPECT_EQ(made.lfUnderline, c.underline ? 1 : 0);
        EXPECT_EQ(made.lfStrikeOut, c.strikeout ? 1 : 0);
        EXPECT_EQ(made.lfCharSet, ANSI_CHARSET);
        EXPECT_EQ(made.lfOutPrecision, OUT_DEFAULT_PRECIS);
        EXPECT_EQ(made.lfClipPrecision, CLIP_DEFAULT_PRECIS);
        EXPECT_EQ(made.lfQuality, NONANTIALIASED_QUALITY);
        EXPECT_EQ(made.lfPitchAndFamily, 0);
        EXPECT_STREQ(made.lfFaceName, c.expectedFace);
        DeleteObject(font);
    }
    DestroyWindow(window);
}

// The bench's display runs at 96 pixels per inch: there the About box's 8 points are
// 11 pixels. A display at another value cannot show this case.
TEST(UiFont, EightPointsAreElevenPixelsAtNinetySix)
{
    if (PixelsPerInchOf(nullptr) != 96)
        GTEST_SKIP() << "the display is not at 96 pixels per inch";
    HFONT font = CreateUiFont(nullptr, "MS Sans Serif", 8, false, false, false, false);
    ASSERT_NE(font, nullptr);
    LOGFONTA made = {};
    GetObjectA(font, sizeof made, &made);
    EXPECT_EQ(made.lfHeight, -11);
    DeleteObject(font);
}
