// The legacy platform's screen-saver password support: the system's verifier, the
// screen-saver-running state and the change-password dialog, all reached through
// the system's own libraries, loaded by name at run time.
#include "host/host.h"

// Loading the system's password verifier is not built yet: every run behaves as a
// saver without a password.
void LoadPasswordVerifier()
{
}

// Nothing is loaded yet, so nothing is released.
void UnloadPasswordVerifier()
{
}

void SetSaverRunning(BOOL running)
{
    if (!host.legacyPlatform)
        return;
    UINT scratch = 0;   // the call may write here; the value is not used
    SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, running, &scratch, 0);
}

typedef DWORD(WINAPI *PasswordChangeProc)(LPCSTR provider, HWND parent, DWORD reserved1, LPVOID reserved2);

void ChangeSaverPassword(HWND parent)
{
    HMODULE library = LoadLibraryA("MPR.DLL");
    if (library == nullptr)
        return;
    auto changePassword = FindExport<PasswordChangeProc>(library, "PwdChangePasswordA");
    if (changePassword != nullptr)
        changePassword("SCRSAVE", parent, 0, nullptr);
    FreeLibrary(library);
}
