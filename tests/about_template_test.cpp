// The About box's dialog template as the saver carries it, read field by field from
// the shipped 32-bit file and the 64-bit build, and its texts measured against their
// controls at the dialog's font.
#include <windows.h>

#include <gtest/gtest.h>

#include "support/test_paths.h"

#include <string>
#include <vector>

#include "resources/resource_ids.h"

// Reads the extended dialog template's fields in order.
struct TemplateReader {
    const BYTE *at;
    WORD Word() { WORD value; memcpy(&value, at, 2); at += 2; return value; }
    DWORD Dword() { DWORD value; memcpy(&value, at, 4); at += 4; return value; }
    short Short() { return static_cast<short>(Word()); }
    BYTE Byte() { return *at++; }
    std::string Text()   // a zero-ended wide string, as ASCII
    {
        std::string text;
        for (WORD c = Word(); c != 0; c = Word())
            text += c < 128 ? static_cast<char>(c) : '?';
        return text;
    }
    std::string TextOrOrdinal()   // "#n" for an ordinal
    {
        WORD first;
        memcpy(&first, at, 2);
        if (first == 0xFFFF) {
            at += 2;
            return "#" + std::to_string(Word());
        }
        return Text();
    }
    void AlignToDword(const BYTE *start) { at += (4 - (at - start) % 4) % 4; }
};

struct ControlRow {
    DWORD id;
    const char *className;   // "#128" is the predefined button class, "#130" the static
    const char *text;        // nullptr: any text of ours
    DWORD style;
    short x, y, width, height;
};

static const ControlRow kControls[] = {
    {2, "#128", "OK", 0x50010001, 220, 154, 50, 14},
    {1000, "#128", nullptr, 0x50010000, 6, 144, 124, 14},
    {1001, "#130", nullptr, 0x50000281, 7, 128, 121, 8},
    {1002, "#130", "Vesperine", 0x50000282, 150, 7, 60, 10},
    {1003, "#130", "v. 1.02", 0x50000200, 216, 7, 54, 10},
    {0xFFFFFFFF, "#130", nullptr, 0x50000000, 150, 30, 120, 26},
    {0xFFFFFFFF, "#130", "#101", 0x5080080E, 7, 7, 121, 112},
    {0xFFFFFFFF, "#130", nullptr, 0x50000000, 150, 60, 120, 26},
    {0xFFFFFFFF, "#130", nullptr, 0x50000000, 150, 90, 120, 52},
};

static const BYTE *TemplateOf(HMODULE image)
{
    HRSRC found = FindResourceExA(image, RT_DIALOG, MAKEINTRESOURCEA(IDD_ABOUT), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    return found ? static_cast<const BYTE *>(LockResource(LoadResource(image, found))) : nullptr;
}

class AboutTemplate : public ::testing::TestWithParam<const char *> {};

TEST_P(AboutTemplate, MatchesTheTableFieldByField)
{
    HMODULE image = LoadLibraryExA(GetParam(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr);
    const BYTE *start = TemplateOf(image);
    ASSERT_NE(start, nullptr) << "no language-neutral dialog 2003";

    TemplateReader read{start};
    EXPECT_EQ(read.Word(), 1);        // version
    EXPECT_EQ(read.Word(), 0xFFFF);   // signature of the extended template
    EXPECT_EQ(read.Dword(), 0u);      // help identifier
    EXPECT_EQ(read.Dword(), 0u);      // extended style
    EXPECT_EQ(read.Dword(), 0x90C808C4u);
    WORD count = read.Word();
    EXPECT_EQ(count, 9);
    EXPECT_EQ(read.Short(), 0);
    EXPECT_EQ(read.Short(), 0);
    EXPECT_EQ(read.Short(), 277);
    EXPECT_EQ(read.Short(), 175);
    EXPECT_EQ(read.TextOrOrdinal(), "");   // no menu
    EXPECT_EQ(read.TextOrOrdinal(), "");   // the system's dialog class
    EXPECT_EQ(read.Text(), "Vesperine Screen Saver 1.02");
    EXPECT_EQ(read.Word(), 8);             // points
    EXPECT_EQ(read.Word(), 0);             // weight
    EXPECT_EQ(read.Byte(), 0);             // italic
    EXPECT_EQ(read.Byte(), 0);             // character set
    EXPECT_EQ(read.Text(), "MS Sans Serif");

    for (size_t i = 0; i < count && i < sizeof kControls / sizeof kControls[0]; ++i) {
        const ControlRow &row = kControls[i];
        SCOPED_TRACE("control " + std::to_string(i + 1));
        read.AlignToDword(start);
        EXPECT_EQ(read.Dword(), 0u);   // help identifier
        EXPECT_EQ(read.Dword(), 0u);   // extended style
        EXPECT_EQ(read.Dword(), row.style);
        EXPECT_EQ(read.Short(), row.x);
        EXPECT_EQ(read.Short(), row.y);
        EXPECT_EQ(read.Short(), row.width);
        EXPECT_EQ(read.Short(), row.height);
        EXPECT_EQ(read.Dword(), row.id);
        EXPECT_EQ(read.TextOrOrdinal(), row.className);
        std::string text = read.TextOrOrdinal();
        if (row.text != nullptr)
            EXPECT_EQ(text, row.text);
        else
            EXPECT_GT(text.size(), 5u);
        EXPECT_EQ(read.Word(), 0);     // no creation data
    }
    FreeLibrary(image);
}

INSTANTIATE_TEST_SUITE_P(BothBuilds, AboutTemplate, ::testing::Values(SHIPPED_SCR_PATH, VESPERINE_SCR_PATH));

static INT_PTR CALLBACK KeepDialog(HWND, UINT message, WPARAM, LPARAM)
{
    return message == WM_INITDIALOG;
}

// How tall the text comes out at the control's width in the given font.
static SIZE Measure(HWND control, HFONT font, bool singleLine)
{
    char text[512] = "";
    GetWindowTextA(control, text, sizeof text);
    RECT client;
    GetClientRect(control, &client);
    HDC dc = GetDC(control);
    HGDIOBJ previous = SelectObject(dc, font);
    RECT box = {0, 0, client.right, 0};
    UINT flags = DT_CALCRECT | DT_NOPREFIX | (singleLine ? DT_SINGLELINE : DT_WORDBREAK);
    DrawTextA(dc, text, -1, &box, flags);
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    return SIZE{box.right, box.bottom};
}

TEST(AboutTexts, EveryTextFitsItsControlAtTheDialogsFont)
{
    HMODULE image = LoadLibraryExA(VESPERINE_SCR_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(image, nullptr);
    auto *dialogTemplate = reinterpret_cast<LPCDLGTEMPLATEA>(TemplateOf(image));
    ASSERT_NE(dialogTemplate, nullptr);
    HWND dialog = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), dialogTemplate, nullptr, KeepDialog, 0);
    ASSERT_NE(dialog, nullptr);

    HFONT dialogFont = reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0));
    LOGFONTA bold = {};
    GetObjectA(dialogFont, sizeof bold, &bold);
    bold.lfWeight = FW_BOLD;
    HFONT boldFont = CreateFontIndirectA(&bold);

    int checked = 0;
    for (HWND control = GetWindow(dialog, GW_CHILD); control != nullptr; control = GetWindow(control, GW_HWNDNEXT)) {
        LONG style = GetWindowLongA(control, GWL_STYLE);
        char className[32] = "";
        GetClassNameA(control, className, sizeof className);
        bool isButton = lstrcmpiA(className, "Button") == 0;
        if (!isButton && (style & SS_TYPEMASK) == SS_BITMAP)
            continue;
        int id = GetDlgCtrlID(control);
        bool singleLine = isButton || (style & SS_CENTERIMAGE);
        HFONT font = (id == 1001 || id == 1002) ? boldFont : dialogFont;   // these two are shown bold
        SIZE needed = Measure(control, font, singleLine);
        RECT client;
        GetClientRect(control, &client);
        int room = isButton ? client.right - 8 : client.right;   // a button keeps a margin for its edge
        char text[64] = "";
        GetWindowTextA(control, text, sizeof text);
        EXPECT_LE(needed.cx, room) << "too wide: [" << text << "]";
        EXPECT_LE(needed.cy, client.bottom) << "too tall: [" << text << "]";
        ++checked;
    }
    EXPECT_EQ(checked, 8);
    DeleteObject(boldFont);
    DestroyWindow(dialog);
    FreeLibrary(image);
}
