// The saver's font routine: the LOGFONT that the system keeps for each font it returns,
// at the pixels per inch of the window it is made for. A process reads the screen's
// pixels per inch when it starts, so the cases at other resolutions run this program
// again as a child after setting the prefix's resolution.
#include <windows.h>

#include <gtest/gtest.h>

#include "playback/ui_font.h"

#include "support/test_paths.h"

#include <fstream>
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

// In a child started by the test below: the pixels per inch this process sees and the
// height of 8 points, written to the file VESPERINE_FONT_REPORT names.
TEST(UiFont, ReportEightPointHeight)
{
    char report[MAX_PATH];
    if (GetEnvironmentVariableA("VESPERINE_FONT_REPORT", report, sizeof report) == 0)
        GTEST_SKIP() << "run only as the child of EightPointsFollowTheScreenResolution";
    HFONT font = CreateUiFont(nullptr, "MS Sans Serif", 8, false, false, false, false);
    ASSERT_NE(font, nullptr);
    LOGFONTA made = {};
    GetObjectA(font, sizeof made, &made);
    DeleteObject(font);
    std::ofstream(report) << PixelsPerInchOf(nullptr) << " " << made.lfHeight;
}

// The About box's and the caption's 8 points: 11 pixels at 96 pixels per inch, 13 at 120.
TEST(UiFont, EightPointsFollowTheScreenResolution)
{
    const char *desktop = "Control Panel\\Desktop";
    DWORD old = 0, size = sizeof old;
    const bool hadValue = RegGetValueA(HKEY_CURRENT_USER, desktop, "LogPixels", RRF_RT_REG_DWORD, nullptr, &old, &size) ==
                          ERROR_SUCCESS;
    CreateDirectoryA(TEST_WORK_DIR, nullptr);
    const std::string report = TEST_WORK_DIR "\\font-report.txt";
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);

    struct Case { DWORD dpi; int height; };
    for (const Case c : {Case{96, -11}, Case{120, -13}}) {
        SCOPED_TRACE(std::to_string(c.dpi) + " pixels per inch");
        ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, desktop, "LogPixels", REG_DWORD, &c.dpi, sizeof c.dpi), ERROR_SUCCESS);
        DeleteFileA(report.c_str());
        SetEnvironmentVariableA("VESPERINE_FONT_REPORT", report.c_str());
        std::string commandLine = "\"" + std::string(self) + "\" --gtest_filter=UiFont.ReportEightPointHeight";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child = {};
        ASSERT_TRUE(CreateProcessA(self, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));
        WaitForSingleObject(child.hProcess, 30000);
        CloseHandle(child.hThread);
        CloseHandle(child.hProcess);
        SetEnvironmentVariableA("VESPERINE_FONT_REPORT", nullptr);

        int dpi = 0, height = 0;
        std::ifstream(report) >> dpi >> height;
        EXPECT_EQ(dpi, static_cast<int>(c.dpi)) << "the child did not see the resolution";
        EXPECT_EQ(height, c.height);
    }
    if (hadValue)
        RegSetKeyValueA(HKEY_CURRENT_USER, desktop, "LogPixels", REG_DWORD, &old, sizeof old);
    else
        RegDeleteKeyValueA(HKEY_CURRENT_USER, desktop, "LogPixels");
    DeleteFileA(report.c_str());
}
