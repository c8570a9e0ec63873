// Runs the built saver as a process of its own and watches the windows it opens.
#pragma once

#include <windows.h>

#include <random>
#include <string>
#include <vector>

struct SaverProcess {
    HANDLE process = nullptr;
    DWORD id = 0;
};

// The whole command line is given, program name included, exactly as the saver will
// read it. `environment` adds NAME=VALUE entries to the test's own environment.
SaverProcess StartSaver(const std::string &commandLine, const std::string &application = VESPERINE_SCR_PATH,
                        const std::vector<std::string> &environment = {});

// Ends every saver this process started that is still running, so a failed test
// leaves no window behind for the next one.
void EndLeftoverSavers();

// Copies the built saver into `directory` as `fileName`, with the MPR.DLL stand-in
// beside it, and has this prefix report Windows 98 to that file name and load the
// MPR.DLL beside it. Returns false when a step fails.
bool PrepareLegacySaver(const std::string &directory, const std::string &fileName);

// "path" args: the usual way the system starts the saver.
std::string SaverCommand(const std::string &arguments, const std::string &application = VESPERINE_SCR_PATH);

// Waits for the process to end while this thread keeps pumping its own messages
// (a preview's parent lives here). Returns the exit code, or STILL_ACTIVE after
// `timeoutMs`, in which case the process is killed.
DWORD WaitForExit(SaverProcess &saver, DWORD timeoutMs = 10000);

// Every window, top-level or child, that belongs to the process.
std::vector<HWND> WindowsOfProcess(DWORD processId);

// The first window of the process with this class that shows up within the time.
HWND WaitForWindowOfClass(const SaverProcess &saver, const char *className, DWORD timeoutMs = 10000);

// Handles this thread's messages for the given time.
void PumpMessagesFor(DWORD milliseconds);

// Closes whatever the saver shows: the About box by its cancel command, saver
// windows by WM_CLOSE.
void CloseSaverWindows(DWORD processId);

// Runs the command line, closing whatever the saver shows (as CloseSaverWindows does)
// until it ends, and returns its exit code; STILL_ACTIVE when it could not be started
// or did not end within `timeoutMs` (it is then killed).
DWORD RunClosingEverything(const std::string &commandLine, DWORD timeoutMs = 8000);

// Presses and releases `key` as a keyboard would, for the foreground window.
void SendKeyPress(WORD key);

// The exit codes the command line can end with: 0 (a saver window ran, or a password
// change), 1 (the About box was closed) and -1, 0xFFFFFFFF, for a refused argument string.
bool IsListedExitCode(DWORD code);

// An argument string of up to 12 parts: pieces that reach every branch of the mode
// dispatch, mixed with random bytes 1 to 255.
std::string RandomArgumentString(std::mt19937 &random);

std::string WindowClassOf(HWND window);
std::string WindowTextOf(HWND window);

// A plain visible top-level window of this thread, to stand for the display settings'
// dialog that holds a preview. Messages posted to it are kept in `postedToHost`.
struct HostWindowMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
HWND CreateHostWindow(int clientWidth, int clientHeight);
extern std::vector<HostWindowMessage> postedToHost;

// A handle value that names no window: one that existed and is gone.
HWND DeadWindowHandle();

std::string Decimal(UINT_PTR value);

// Registers, in this prefix, the VMR-9 completion layer (on) or Wine's own VMR-9 (off)
// as the server of CLSID_VideoMixingRenderer9; the bench registered the layer at its
// start. Creations after the call get the chosen one. Returns false when a step fails.
bool UseCompletionLayer(bool on);
