// The legacy platform's screen-saver password support: the system's verifier, the
// screen-saver-running state and the change-password dialog, all reached through
// the system's own libraries, loaded by name at run time.
#include "host/host.h"

// Loads the system's password verifier when the user has a screen-saver password in
// use, and switches the screen-saver-running state on while it is loaded. Every
// failure on the way means no password: the saver then closes without a check.
void LoadPasswordVerifier()
{
    if (!host.legacyPlatform)
        return;
    if (host.passwordLibrary != nullptr)
        UnloadPasswordVerifier();

    HKEY desktop;
    if (RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &desktop) != ERROR_SUCCESS)
        return;
    // Raw data of at most 4 bytes, whatever its registry type; a shorter value
    // leaves the upper bytes at 0.
    DWORD usePassword = 0;
    DWORD size = sizeof usePassword;
    if (RegQueryValueExA(desktop, "ScreenSaveUsePassword", nullptr, nullptr, reinterpret_cast<BYTE *>(&usePassword),
                         &size) == ERROR_SUCCESS &&
        usePassword != 0) {
        host.passwordLibrary = LoadLibraryA("PASSWORD.CPL");
        if (host.passwordLibrary != nullptr) {
            host.passwordVerifier = FindExport<PasswordVerifierProc>(host.passwordLibrary, "VerifyScreenSavePwd");
            if (host.passwordVerifier != nullptr)
                SetSaverRunning(TRUE);
            else
                UnloadPasswordVerifier();   // frees the library; the running state was never touched
        }
    }
    RegCloseKey(desktop);
}

// Frees the verifier's library and, when the verifier had been loaded, switches the
// screen-saver-running state off again.
void UnloadPasswordVerifier()
{
    if (!host.legacyPlatform || host.passwordLibrary == nullptr)
        return;
    FreeLibrary(host.passwordLibrary);
    host.passwordLibrary = nullptr;
    if (host.passwordVerifier != nullptr) {
        host.passwordVerifier = nullptr;
        SetSaverRunning(FALSE);
    }
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
