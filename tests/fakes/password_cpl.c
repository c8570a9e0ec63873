/* Stands in for the legacy platform's PASSWORD.CPL, whose password dialog Wine does
   not have. Built twice: with VerifyScreenSavePwd, and without it
   (VESPERINE_WITHOUT_VERIFIER) for a library that lacks the export.

   It appends one line per event to the file named by VESPERINE_PASSWORD_LOG:
     loaded                    when the library is loaded
     freed running=R           when FreeLibrary unloads it (not at process exit)
     asked                     when the verifier is entered
     verify hwnd=H answer=A nested=N dispatched=D closeQueued=Q alive=L running=R end=T
   The answers come from VESPERINE_PASSWORD_ANSWERS, one digit per call ("01": refuse,
   then accept; the last one repeats). Like a real dialog, each call shows the arrow
   cursor and runs a modal loop for a while; before the loop it posts a key press and
   a WM_CLOSE to the saver window, and it records how many of the two the loop
   dispatched (D), whether a WM_CLOSE is queued afterwards (Q), whether the window
   is still alive (L), whether it was entered again from inside the loop (N), the
   screen-saver-running state (R) and the tick count when it returns (T). Shortly
   after each call, a timer on the saver's thread adds "cursor hidden" or
   "cursor shown", the cursor as the saver left it after the check. */
#include <windows.h>
#include <stdio.h>

static void AppendToLog(const char *line)
{
    char path[MAX_PATH];
    if (GetEnvironmentVariableA("VESPERINE_PASSWORD_LOG", path, sizeof path) == 0)
        return;
    FILE *log = fopen(path, "a");
    if (log == NULL)
        return;
    fprintf(log, "%s\n", line);
    fclose(log);
}

static int IsSaverRunning(void)
{
    BOOL running = FALSE;
    SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &running, 0);
    return running ? 1 : 0;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    char line[64];
    (void)instance;
    if (reason == DLL_PROCESS_ATTACH)
        AppendToLog("loaded");
    if (reason == DLL_PROCESS_DETACH && reserved == NULL) {
        sprintf(line, "freed running=%d", IsSaverRunning());
        AppendToLog(line);
    }
    return TRUE;
}

#ifndef VESPERINE_WITHOUT_VERIFIER
static int calls;
static int depth;
static int enteredAgain;

static int NextAnswer(void)
{
    char answers[64];
    DWORD length = GetEnvironmentVariableA("VESPERINE_PASSWORD_ANSWERS", answers, sizeof answers);
    if (length == 0 || length >= sizeof answers)
        return 0;
    return answers[(DWORD)calls < length ? (DWORD)calls : length - 1] - '0';
}

static int RunModalLoop(HWND window, DWORD milliseconds)
{
    int dispatched = 0;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds) {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            if (message.hwnd == window && (message.message == WM_KEYDOWN || message.message == WM_CLOSE))
                ++dispatched;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
    }
    return dispatched;
}

static void CALLBACK RecordCursorAfterCheck(HWND window, UINT message, UINT_PTR timer, DWORD tick)
{
    (void)window;
    (void)message;
    (void)tick;
    KillTimer(NULL, timer);
    AppendToLog(GetCursor() == NULL ? "cursor hidden" : "cursor shown");
}

__declspec(dllexport) BOOL WINAPI VerifyScreenSavePwd(HWND window)
{
    char line[256];
    MSG queued;
    int answer = NextAnswer();
    int dispatched, closeQueued, running;

    AppendToLog("asked");
    if (depth > 0) {
        enteredAgain = 1;
        return FALSE;
    }
    ++depth;
    SetCursor(LoadCursorA(NULL, (LPCSTR)IDC_ARROW));
    PostMessageA(window, WM_KEYDOWN, 'K', 0);
    PostMessageA(window, WM_CLOSE, 0, 0);
    dispatched = RunModalLoop(window, 120);
    closeQueued = PeekMessageA(&queued, window, WM_CLOSE, WM_CLOSE, PM_NOREMOVE) ? 1 : 0;
    running = IsSaverRunning();
    --depth;

    sprintf(line, "verify hwnd=%llu answer=%d nested=%d dispatched=%d closeQueued=%d alive=%d running=%d end=%lu",
            (unsigned long long)(UINT_PTR)window, answer, enteredAgain, dispatched, closeQueued,
            IsWindow(window) ? 1 : 0, running, GetTickCount());
    ++calls;
    AppendToLog(line);
    SetTimer(NULL, 0, 30, RecordCursorAfterCheck);
    return answer;
}
#endif
