// Reading the command line and running the one mode it asks for: full screen,
// preview, configure (the About box) or the legacy platform's password change.
#include "host/host.h"

#include <commctrl.h>

#include "about/about_dialog.h"
#include "resources/resource_ids.h"

// Steps over the program name, quoted or not, and the blanks after it. Only the
// double quote is interpreted; a missing closing quote swallows the whole line.
const char *SkipProgramName(const char *p)
{
    if (*p == '"') {
        do
            p = CharNextA(p);
        while (*p != '\0' && *p != '"');
        if (*p == '"')
            ++p;
    } else if (static_cast<unsigned char>(*p) > ' ') {
        while (static_cast<unsigned char>(*p) > ' ')
            p = CharNextA(p);
    }
    while (*p != '\0' && static_cast<unsigned char>(*p) <= ' ')
        p = CharNextA(p);
    return p;
}

// Reads decimal digits as a window handle. The value is 32 bits wide on every
// platform and wraps without an overflow test; no digit gives 0 (no window).
HWND ParseWindowHandle(const char *text)
{
    UINT32 value = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        value = value * 10 + static_cast<UINT32>(*text - '0');
    return reinterpret_cast<HWND>(static_cast<UINT_PTR>(value));
}

static const char *SkipSpaces(const char *p)
{
    while (*p == ' ')
        ++p;
    return p;
}

// A window handle given on the command line, or the foreground window when the
// handle is missing or names no window.
static HWND WindowOrForeground(HWND window)
{
    if (window == nullptr || !IsWindow(window))
        return GetForegroundWindow();
    return window;
}

// Decides the mode on the first byte after the separators and runs it.
static int DispatchMode(const char *p)
{
    while (*p == ' ' || *p == '-' || *p == '/')
        ++p;

    switch (*p) {
    case '\0':
        return ShowAboutBox(nullptr);
    case 's':
    case 'S':
        return RunSaver(nullptr);
    case 'p':
    case 'P':
    case 'l':
    case 'L': {
        HWND parent = ParseWindowHandle(SkipSpaces(p + 1));
        if (parent == nullptr || !IsWindow(parent))
            return -1;
        return RunSaver(parent);
    }
    case 'c':
    case 'C': {
        HWND owner = nullptr;
        if (p[1] == ':')
            owner = ParseWindowHandle(p + 2);
        return ShowAboutBox(WindowOrForeground(owner));
    }
    case 'a':
    case 'A':
        if (!host.legacyPlatform)
            return -1;
        ChangeSaverPassword(WindowOrForeground(ParseWindowHandle(SkipSpaces(p + 1))));
        return 0;
    }
    return -1;
}

int SaverMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int)
{
    INITCOMMONCONTROLSEX controls = {8, ICC_TAB_CLASSES};
    InitCommonControlsEx(&controls);

    host.instance = instance;

    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = 148;
    host.legacyPlatform = GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;

    return RunGuarded(DispatchMode, arguments);
}

// This saver needs no window class of its own for its dialog.
BOOL PrepareDialogClasses(HINSTANCE)
{
    return TRUE;
}

int ShowAboutBox(HWND owner)
{
    if (!PrepareDialogClasses(host.instance))
        return 0;
    return static_cast<int>(DialogBoxParamA(host.instance, MAKEINTRESOURCEA(IDD_ABOUT), owner, AboutDialogProc, 0));
}
