// The host's one process-wide record: every field that the entry, the saver window,
// the closing rules and the password support share. Fields start as the saver
// expects them at load.
#pragma once

#include <windows.h>
#include <imm.h>

typedef HIMC(WINAPI *AssociateContextProc)(HWND, HIMC);
typedef BOOL(WINAPI *PasswordVerifierProc)(HWND);

struct SaverHostState {
    HINSTANCE instance = nullptr;          // the executable's own module
    DWORD legacyPlatform = 0;              // 1 when the system reports the Windows 9x line

    HWND saverWindow = nullptr;            // the saver window, once CreateWindowExA returned it
    DWORD inPreview = 0;                   // 1 when running inside a preview window; never cleared
    POINT lastCursorPos = {0, 0};          // reference position of the mouse rule
    BYTE lastAcLineStatus = 255;           // AC-line status last seen (255: unknown)
    UINT autoPlayCancelMessage = 0;        // "QueryCancelAutoPlay" on the legacy platform, else 0
    HMODULE imeModule = nullptr;           // IMM32.DLL when already loaded in the process
    AssociateContextProc associateContextProc = nullptr;  // its ImmAssociateContext
    HIMC savedInputContext = nullptr;      // the window's input context before the detach

    LONG closeAllowed = 0;                 // nonzero once the saver may close
    DWORD checkingPassword = 0;            // 1 while a password check waits for its answer
    DWORD mouseThreshold = 4;              // largest mouse travel that does not close
    DWORD lastVerifyTick = 0xFFFFFFFF;     // tick count when the last check ended (none yet)

    HMODULE passwordLibrary = nullptr;     // PASSWORD.CPL while loaded
    PasswordVerifierProc passwordVerifier = nullptr;  // its VerifyScreenSavePwd while loaded
};

extern SaverHostState host;
