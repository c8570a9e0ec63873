// The last stage of the saver window's message handling: the closing rules that turn
// input, deactivation and power events into a posted WM_CLOSE, the hidden cursor, the
// answer to "QueryCancelAutoPlay", and on the legacy platform the password gate that
// every WM_CLOSE passes before the system's default handling destroys the window.
#include "host/host.h"

// Time after the end of a password check during which a new WM_CLOSE is refused
// without asking again, so the input that ended the dialog does not reopen it.
static const DWORD kVerifyHoldOffMs = 200;
static const DWORD kNoCheckYet = 0xFFFFFFFF;

static void PostClose(HWND window)
{
    PostMessageA(window, WM_CLOSE, 0, 0);
}

// Mouse rule: the travel from the reference point, as x distance plus y distance,
// measured with the cursor position itself rather than the message's coordinates.
// The reference moves only when the rule fires, so small moves add up.
static void ApplyMouseRule(HWND window)
{
    POINT position = host.lastCursorPos;   // a failed read counts as no travel
    GetCursorPos(&position);
    LONGLONG dx = static_cast<LONGLONG>(position.x) - host.lastCursorPos.x;
    LONGLONG dy = static_cast<LONGLONG>(position.y) - host.lastCursorPos.y;
    ULONGLONG travel = static_cast<ULONGLONG>(dx < 0 ? -dx : dx) + static_cast<ULONGLONG>(dy < 0 ? -dy : dy);
    if (travel > host.mouseThreshold) {
        PostClose(window);
        host.lastCursorPos = position;
    }
}

// AC-line rule: closes when the mains status differs from the one last seen. A
// failed query reads as 255 and is compared and kept like any other status.
static void ApplyAcLineRule(HWND window)
{
    SYSTEM_POWER_STATUS power;
    BYTE status = GetSystemPowerStatus(&power) ? power.ACLineStatus : 255;
    BYTE previous = host.lastAcLineStatus;
    host.lastAcLineStatus = status;
    if (status != previous)
        PostClose(window);
}

// Power broadcasts: a resume closes unless it reports a resume after a failure; a
// status change closes only when the mains status changed; every other event closes.
static void ApplyPowerBroadcastRule(HWND window, WPARAM event, LPARAM flags)
{
    switch (event) {
    case PBT_APMRESUMECRITICAL:
    case PBT_APMRESUMESUSPEND:
    case PBT_APMRESUMESTANDBY:
    case PBT_APMRESUMEAUTOMATIC:
        if (!(flags & PBTF_APMRESUMEFROMFAILURE))
            PostClose(window);
        break;
    case PBT_APMPOWERSTATUSCHANGE:
        ApplyAcLineRule(window);
        break;
    default:
        PostClose(window);
        break;
    }
}

// The rules that end a running, unlocked saver. Returns true when the message is
// finished here with `result`; otherwise it goes on to the default handling.
static bool ApplyClosingRules(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT *result)
{
    switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        PostClose(window);
        break;
    case WM_MOUSEMOVE:
        ApplyMouseRule(window);
        break;
    case WM_ACTIVATEAPP:
        if (wParam == 0)
            PostClose(window);                      // the application lost activation
        break;
    case WM_SHOWWINDOW:
        if (wParam != 0)
            SetCursor(nullptr);
        break;
    case WM_SETCURSOR:
        SetCursor(nullptr);
        *result = 1;
        return true;
    case WM_POWER:
        if (wParam == PWR_CRITICALRESUME)
            PostClose(window);
        break;
    case WM_POWERBROADCAST:
        ApplyPowerBroadcastRule(window, wParam, lParam);
        break;
    }
    return false;
}

LONG VerifyUnlock(HWND window)
{
    if (host.checkingPassword)
        return 0;                                   // no second check inside the first
    if (host.passwordVerifier == nullptr) {
        host.closeAllowed = 1;
        return 1;
    }
    DWORD now = GetTickCount();
    if (host.lastVerifyTick != kNoCheckYet && now - host.lastVerifyTick < kVerifyHoldOffMs)
        return 0;

    host.checkingPassword = 1;
    MSG dropped;
    PeekMessageA(&dropped, window, WM_TIMER, WM_TIMER, PM_REMOVE | PM_NOYIELD);
    PeekMessageA(&dropped, window, WM_TIMER, WM_TIMER, PM_REMOVE | PM_NOYIELD);
    LRESULT verdict = SendMessageA(window, WM_APP, 0, 0);
    host.closeAllowed = static_cast<LONG>(verdict);
    host.checkingPassword = 0;
    if (verdict == 0)
        SetCursor(nullptr);                         // the dialog showed it; the saver hides it again
    host.lastVerifyTick = GetTickCount();           // the hold-off counts from the end of the check
    return host.closeAllowed;
}

// The system's default handling, after the "QueryCancelAutoPlay" answer: that
// message ends the saver in every state, and cancels the AutoPlay only while a
// password guards the screen.
static LRESULT PassToDefault(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (host.autoPlayCancelMessage != 0 && message == host.autoPlayCancelMessage) {
        PostClose(window);
        return host.passwordVerifier != nullptr ? 1 : 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT SaverDefaultProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (host.inPreview || host.closeAllowed)
        return PassToDefault(window, message, wParam, lParam);

    switch (message) {
    case WM_CLOSE:
        if (host.legacyPlatform && !VerifyUnlock(window)) {
            GetCursorPos(&host.lastCursorPos);      // the mouse rule measures from here again
            return 0;                               // the window stays
        }
        return PassToDefault(window, message, wParam, lParam);
    case WM_APP:
        if (!host.legacyPlatform)
            return PassToDefault(window, message, wParam, lParam);
        if (host.passwordVerifier == nullptr)
            return 1;
        return host.passwordVerifier(window);       // the verification request
    }

    if (!host.checkingPassword) {
        LRESULT result = 0;
        if (ApplyClosingRules(window, message, wParam, lParam, &result))
            return result;
    }
    return PassToDefault(window, message, wParam, lParam);
}
