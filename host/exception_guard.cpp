// Runs one mode of the saver under a guard against faults on the main thread.
//
// A fault that nothing inside the mode handles climbs to the thread's outermost frame,
// whose handler asks the unhandled-exception filter. While the mode runs, the guard's
// filter stands there: it hands the fault to the system's own treatment first
// (UnhandledExceptionFilter, with the fault's information: the error report or an
// attached debugger) and passes its verdict on unchanged. When the verdict is to run
// the handler, the saver clears the screen-saver-running state and the process ends
// with -1, as if the mode had returned it. Faults on other threads are left to
// whatever filter stood before.
#include "host/host.h"

static DWORD guardedThread;                        // the thread that runs the mode
static LPTOP_LEVEL_EXCEPTION_FILTER outerFilter;   // the filter the guard stands in for

static LONG WINAPI FilterGuardedFault(EXCEPTION_POINTERS *exception)
{
    if (GetCurrentThreadId() != guardedThread)
        return outerFilter ? outerFilter(exception) : EXCEPTION_CONTINUE_SEARCH;

    SetUnhandledExceptionFilter(outerFilter);      // the system's treatment runs without the guard
    LONG verdict = UnhandledExceptionFilter(exception);
    if (verdict == EXCEPTION_EXECUTE_HANDLER) {
        SetSaverRunning(FALSE);
        ExitProcess(static_cast<UINT>(-1));
    }
    SetUnhandledExceptionFilter(FilterGuardedFault);
    return verdict;
}

int RunGuarded(int (*mode)(const char *), const char *arguments)
{
    guardedThread = GetCurrentThreadId();
    outerFilter = SetUnhandledExceptionFilter(FilterGuardedFault);
    int result = mode(arguments);
    SetUnhandledExceptionFilter(outerFilter);
    return result;
}
