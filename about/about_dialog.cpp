// The About box shown in configure mode and without a switch: the product's name in
// bold, the maker's web address as an underlined button that opens the page, and an
// OK button; OK, Escape, Enter and the close box all end it with 1.
#include "about/about_dialog.h"
#include "playback/ui_font.h"

#include <shellapi.h>

static const char kMakerPage[] = "http://www.duskmere.example/";
static const char kFontFace[] = "MS Sans Serif";
static const int kFontPoints = 8;

// The fonts of the About box, made when it opens and deleted when it is destroyed.
// The box is modal, so one record serves the only box there can be.
struct AboutBoxState {
    HFONT boldFont;   // the copyright line (1001) and the product name (1002); null if not made
    HFONT linkFont;   // underlined, on the web address button (1000); null if not made
};
static AboutBoxState about = {nullptr, nullptr};

static void SetControlFont(HWND dialog, int control, HFONT font)
{
    SendDlgItemMessageA(dialog, control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

static void DeleteFontOf(HFONT &font)
{
    if (font != nullptr)
        DeleteObject(font);
    font = nullptr;
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        about.boldFont = CreateUiFont(dialog, kFontFace, kFontPoints, true, false, false, false);
        if (about.boldFont != nullptr) {             // without it the controls keep the dialog's font
            SetControlFont(dialog, 1001, about.boldFont);
            SetControlFont(dialog, 1002, about.boldFont);
        }
        about.linkFont = CreateUiFont(dialog, kFontFace, kFontPoints, false, false, true, false);
        if (about.linkFont != nullptr)
            SetControlFont(dialog, 1000, about.linkFont);
        return TRUE;                                 // focus to the first tab stop, OK
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDCANCEL:                               // OK, Escape, Enter and the close box
            EndDialog(dialog, 1);
            return TRUE;
        case 1000:                                   // the web address: the box stays open
            ShellExecuteA(nullptr, "open", kMakerPage, nullptr, nullptr, SW_SHOWNORMAL);
            return FALSE;
        }
        return FALSE;
    case WM_DESTROY:
        DeleteFontOf(about.boldFont);
        DeleteFontOf(about.linkFont);
        return FALSE;
    }
    return FALSE;
}
