// The saver's one window, full screen or inside a preview window, its message loop,
// and the first of the three procedures that every message of the window passes
// through: the window-level work that every saver window needs.
#include "host/host.h"
#include "playback/clip_window.h"
#include "resources/resource_ids.h"

static const char kSaverClassName[] = "WindowsScreenSaverClass";
static const char kFullScreenTitle[] = "Screen Saver";
static const char kPreviewTitle[] = "Preview";

// The whole virtual desktop, all monitors included; the screen's clip box when the
// system reports no virtual screen.
static RECT FullScreenArea()
{
    int x = GetSystemMetrics(SM_XVIRTUALSCREEN);
    int y = GetSystemMetrics(SM_YVIRTUALSCREEN);
    int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
    int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    if (width != 0 && height != 0)
        return RECT{x, y, x + width, y + height};

    RECT box = {};
    HDC screen = GetDC(nullptr);
    GetClipBox(screen, &box);
    ReleaseDC(nullptr, screen);
    return box;
}

int RunSaver(HWND parent)
{
    WNDCLASSA windowClass = {};
    windowClass.style = CS_OWNDC | CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = SaverWindowProc;
    windowClass.hInstance = host.instance;
    windowClass.hIcon = LoadIconA(host.instance, MAKEINTRESOURCEA(IDI_SAVER));
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = kSaverClassName;

    RECT area;
    DWORD style, extendedStyle;
    const char *title;
    if (parent != nullptr) {
        RECT client = {};
        GetClientRect(parent, &client);
        area = RECT{0, 0, client.right, client.bottom};
        style = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;
        extendedStyle = 0;
        title = kPreviewTitle;
        host.inPreview = 1;
    } else {
        area = FullScreenArea();
        style = WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
        extendedStyle = WS_EX_TOPMOST;
        title = kFullScreenTitle;

        HWND running = FindWindowA(kSaverClassName, kFullScreenTitle);
        if (running != nullptr && IsWindow(running)) {
            SetForegroundWindow(running);   // one full-screen saver at a time
            return 0;
        }
        SYSTEM_POWER_STATUS power;
        host.lastAcLineStatus = GetSystemPowerStatus(&power) ? power.ACLineStatus : 255;
        LoadPasswordVerifier();
    }
    host.autoPlayCancelMessage = host.legacyPlatform ? RegisterWindowMessageA("QueryCancelAutoPlay") : 0;

    if (RegisterClassA(&windowClass))
        host.saverWindow = CreateWindowExA(extendedStyle, kSaverClassName, title, style, area.left, area.top,
                                           area.right - area.left, area.bottom - area.top, parent, nullptr,
                                           host.instance, nullptr);

    int exitCode = 0;
    if (host.saverWindow != nullptr) {
        if (!host.inPreview)
            SetForegroundWindow(host.saverWindow);
        MSG message = {};
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (message.message == WM_QUIT)
            exitCode = static_cast<int>(message.wParam);
    }
    UnloadPasswordVerifier();
    return exitCode;
}

// Takes the window's input context away, so no input-method window opens over the
// saver; only an input-method library that the process already has is used.
static void DetachInputContext(HWND window)
{
    host.imeModule = GetModuleHandleA("IMM32.DLL");
    if (host.imeModule != nullptr)
        host.associateContextProc = FindExport<AssociateContextProc>(host.imeModule, "ImmAssociateContext");
    if (host.associateContextProc != nullptr)
        host.savedInputContext = host.associateContextProc(window, nullptr);
}

static void RestoreInputContext(HWND window)
{
    if (host.imeModule != nullptr && host.associateContextProc != nullptr && host.savedInputContext != nullptr)
        host.associateContextProc(window, host.savedInputContext);
}

// Hands the preview's help and context-menu requests to the display settings'
// window that holds the preview.
static void ForwardToPreviewParent(HWND window, UINT message, LPARAM lParam)
{
    HWND parent = GetParent(window);
    if (parent != nullptr && IsWindow(parent))
        PostMessageA(parent, message, reinterpret_cast<WPARAM>(parent), lParam);
}

static bool IsSwitchingCommand(WPARAM command)
{
    return command == SC_NEXTWINDOW || command == SC_PREVWINDOW || command == SC_SCREENSAVE;
}

LRESULT CALLBACK SaverWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        DetachInputContext(window);
        GetCursorPos(&host.lastCursorPos);
        if (!host.inPreview)
            SetCursor(nullptr);
        break;
    case WM_DESTROY:
        RestoreInputContext(window);
        PostQuitMessage(0);
        break;
    case WM_SETTEXT:
        return 0;                                   // the title stays as created
    case WM_PAINT:
        if (host.closeAllowed)
            return DefWindowProcA(window, message, wParam, lParam);
        if (!host.inPreview)
            SetCursor(nullptr);
        break;
    case WM_HELP:
    case WM_CONTEXTMENU:
        if (!host.inPreview)
            break;
        ForwardToPreviewParent(window, message, lParam);
        return 1;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        if (host.closeAllowed)
            return DefWindowProcA(window, message, wParam, lParam);
        break;
    case WM_SYSCOMMAND:
        if (!host.inPreview && IsSwitchingCommand(wParam))
            return 0;                               // no window switching, no second saver
        break;
    case WM_TIMER:
        if (host.closeAllowed)
            return 0;
        Sleep(0);                                   // give up the rest of the time slice
        break;
    }
    return ClipWindowProc(window, message, wParam, lParam);   // pass on, unchanged
}
