// Stands in for the playback's window procedure behind the saver's outer procedure.
#include "recording_clip_stage.h"

#include "host/host.h"
#include "playback/clip_window.h"

ClipStageRecord clipStage;

static HIMC ContextOf(HWND window)
{
    HIMC context = ImmGetContext(window);
    if (context != nullptr)
        ImmReleaseContext(window, context);
    return context;
}

LRESULT ClipWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    clipStage.reached.push_back({message, wParam, lParam});
    if (message == WM_CREATE) {
        clipStage.createdWindow = window;
        clipStage.cursorAtCreate = GetCursor();
        clipStage.contextAtCreate = ContextOf(window);
    }
    if (message == WM_DESTROY) {
        clipStage.contextAtTeardown = ContextOf(window);
        MSG quit;
        clipStage.quitPostedBeforeTeardown = PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != FALSE;
    }
    return SaverDefaultProc(window, message, wParam, lParam);
}

bool ReachedClipStage(UINT message, WPARAM wParam)
{
    for (const ReachedMessage &reached : clipStage.reached)
        if (reached.message == message && reached.wParam == wParam)
            return true;
    return false;
}

static const std::function<void(HWND)> *pendingScenario;

static void CALLBACK RunPendingScenario(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    HWND window = clipStage.createdWindow;
    (*pendingScenario)(window);
    if (IsWindow(window))
        DestroyWindow(window);
}

int RunSaverWith(HWND parent, const std::function<void(HWND)> &scenario)
{
    host = SaverHostState{};
    host.instance = GetModuleHandleA(nullptr);
    UnregisterClassA("WindowsScreenSaverClass", host.instance);   // each run registers it anew
    clipStage = ClipStageRecord{};
    pendingScenario = &scenario;
    SetTimer(nullptr, 0, 1, RunPendingScenario);
    return RunSaver(parent);
}
