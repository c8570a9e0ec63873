// The way into the process: the GUI entry function hands over to ProcessEntry, which
// takes the program name off the command line, runs SaverMain and ends the process
// with its result.
#include "host/host.h"

[[noreturn]] static void ProcessEntry()
{
    const char *arguments = SkipProgramName(GetCommandLineA());

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = 0;
    GetStartupInfoA(&startup);
    int showCommand = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;

    int exitCode = SaverMain(GetModuleHandleA(nullptr), nullptr, const_cast<LPSTR>(arguments), showCommand);
    ExitProcess(static_cast<UINT>(exitCode));
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    ProcessEntry();   // never returns: the process ends there
}
