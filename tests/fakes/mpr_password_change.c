/* Stands in for the legacy platform's MPR.DLL, whose password-change dialog Wine
   does not have. It writes how it was called to the file named by
   VESPERINE_MPR_LOG, and with VESPERINE_MPR_FAULT set it faults instead, so that a
   fault inside the saver's password-change mode can be provoked. When FreeLibrary
   unloads it (not at process exit), it adds a line "freed" to the same file. */
#include <windows.h>
#include <stdio.h>

__declspec(dllexport) DWORD WINAPI PwdChangePasswordA(LPCSTR provider, HWND parent, DWORD reserved1, LPVOID reserved2)
{
    char path[MAX_PATH];
    if (GetEnvironmentVariableA("VESPERINE_MPR_FAULT", path, sizeof path) > 0)
        *(volatile int *)0 = 1;
    if (GetEnvironmentVariableA("VESPERINE_MPR_LOG", path, sizeof path) > 0) {
        FILE *log = fopen(path, "w");
        if (log != NULL) {
            fprintf(log, "%s %llu %lu %p", provider, (unsigned long long)(UINT_PTR)parent, reserved1, reserved2);
            fclose(log);
        }
    }
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    char path[MAX_PATH];
    (void)instance;
    if (reason == DLL_PROCESS_DETACH && reserved == NULL &&
        GetEnvironmentVariableA("VESPERINE_MPR_LOG", path, sizeof path) > 0) {
        FILE *log = fopen(path, "a");
        if (log != NULL) {
            fprintf(log, "\nfreed");
            fclose(log);
        }
    }
    return TRUE;
}
