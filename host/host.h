// The host's operations: the entry and its modes, the saver window and its
// procedures, and the legacy-platform password support.
#pragma once

#include "host/host_state.h"

// Entry and modes
const char *SkipProgramName(const char *commandLine);
HWND ParseWindowHandle(const char *text);
int SaverMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR arguments, int showCommand);
int ShowAboutBox(HWND owner);
BOOL PrepareDialogClasses(HINSTANCE instance);
int RunGuarded(int (*mode)(const char *), const char *arguments);

// Saver window and its procedures
int RunSaver(HWND parent);
LRESULT CALLBACK SaverWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SaverDefaultProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LONG VerifyUnlock(HWND window);

// Legacy-platform password support
void LoadPasswordVerifier();
void UnloadPasswordVerifier();
void SetSaverRunning(BOOL running);
void ChangeSaverPassword(HWND parent);

// Looks up an export of a loaded library as a function of the type the caller
// expects, through the generic function type that every export converts to.
template <typename Function>
Function FindExport(HMODULE library, const char *name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}
