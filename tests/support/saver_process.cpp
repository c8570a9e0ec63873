// Runs the built saver as a process of its own and watches the windows it opens.
#include "test_paths.h"

#include "saver_process.h"

#include <algorithm>

std::string SaverCommand(const std::string &arguments, const std::string &application)
{
    return "\"" + application + "\" " + arguments;
}

static std::string EnvironmentBlock(const std::vector<std::string> &extra)
{
    std::string block;
    char *own = GetEnvironmentStringsA();
    for (const char *entry = own; *entry != '\0'; entry += strlen(entry) + 1) {
        std::string text = entry;
        bool replaced = std::any_of(extra.begin(), extra.end(), [&](const std::string &added) {
            return text.compare(0, added.find('=') + 1, added, 0, added.find('=') + 1) == 0;
        });
        if (!replaced)
            block += text + '\0';
    }
    FreeEnvironmentStringsA(own);
    for (const std::string &added : extra)
        block += added + '\0';
    return block + '\0';
}

static std::vector<DWORD> startedSavers;

void EndLeftoverSavers()
{
    for (DWORD id : startedSavers) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
        if (process == nullptr)
            continue;
        if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process, 0xDEAD);
            WaitForSingleObject(process, 5000);
        }
        CloseHandle(process);
    }
    startedSavers.clear();
}

bool PrepareLegacySaver(const std::string &directory, const std::string &fileName)
{
    CreateDirectoryA(directory.c_str(), nullptr);
    const std::string appDefaults = "Software\\Wine\\AppDefaults\\" + fileName;
    return CopyFileA(VESPERINE_SCR_PATH, (directory + "\\" + fileName).c_str(), FALSE) &&
           CopyFileA(FAKE_MPR_PATH, (directory + "\\mpr.dll").c_str(), FALSE) &&
           RegSetKeyValueA(HKEY_CURRENT_USER, appDefaults.c_str(), "Version", REG_SZ, "win98", 6) == ERROR_SUCCESS &&
           RegSetKeyValueA(HKEY_CURRENT_USER, (appDefaults + "\\DllOverrides").c_str(), "mpr", REG_SZ, "native", 7) ==
               ERROR_SUCCESS;
}

SaverProcess StartSaver(const std::string &commandLine, const std::string &application,
                        const std::vector<std::string> &environment)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    std::string block = EnvironmentBlock(environment);
    SaverProcess saver;
    if (!CreateProcessA(application.c_str(), line.data(), nullptr, nullptr, FALSE, 0,
                        environment.empty() ? nullptr : block.data(), nullptr, &startup, &info))
        return saver;
    CloseHandle(info.hThread);
    startedSavers.push_back(info.dwProcessId);
    saver.process = info.hProcess;
    saver.id = info.dwProcessId;
    return saver;
}

void PumpMessagesFor(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } while (GetTickCount() - start < milliseconds);
}

DWORD WaitForExit(SaverProcess &saver, DWORD timeoutMs)
{
    if (saver.process == nullptr)
        return STILL_ACTIVE;
    DWORD start = GetTickCount();
    while (WaitForSingleObject(saver.process, 0) == WAIT_TIMEOUT) {
        if (GetTickCount() - start > timeoutMs) {
            TerminateProcess(saver.process, 0xDEAD);
            WaitForSingleObject(saver.process, 5000);
            CloseHandle(saver.process);
            saver.process = nullptr;
            return STILL_ACTIVE;
        }
        PumpMessagesFor(10);
    }
    DWORD code = 0;
    GetExitCodeProcess(saver.process, &code);
    CloseHandle(saver.process);
    saver.process = nullptr;
    return code;
}

struct WindowSearch {
    DWORD processId;
    std::vector<HWND> found;
};

static BOOL CALLBACK CollectIfOwned(HWND window, LPARAM lParam)
{
    auto *search = reinterpret_cast<WindowSearch *>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId)
        search->found.push_back(window);
    return TRUE;
}

static BOOL CALLBACK CollectWithChildren(HWND window, LPARAM lParam)
{
    CollectIfOwned(window, lParam);
    EnumChildWindows(window, CollectIfOwned, lParam);
    return TRUE;
}

std::vector<HWND> WindowsOfProcess(DWORD processId)
{
    WindowSearch search{processId, {}};
    EnumWindows(CollectWithChildren, reinterpret_cast<LPARAM>(&search));
    std::sort(search.found.begin(), search.found.end());
    search.found.erase(std::unique(search.found.begin(), search.found.end()), search.found.end());
    return search.found;
}

std::string WindowClassOf(HWND window)
{
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string WindowTextOf(HWND window)
{
    char text[256] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

HWND WaitForWindowOfClass(const SaverProcess &saver, const char *className, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    do {
        for (HWND window : WindowsOfProcess(saver.id))
            if (WindowClassOf(window) == className && IsWindowVisible(window))
                return window;
        if (WaitForSingleObject(saver.process, 0) == WAIT_OBJECT_0)
            return nullptr;
        PumpMessagesFor(20);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

void CloseSaverWindows(DWORD processId)
{
    for (HWND window : WindowsOfProcess(processId)) {
        std::string className = WindowClassOf(window);
        if (className == "#32770")
            PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
        else if (className == "WindowsScreenSaverClass")
            PostMessageA(window, WM_CLOSE, 0, 0);
    }
}

DWORD RunClosingEverything(const std::string &commandLine, DWORD timeoutMs)
{
    SaverProcess saver = StartSaver(commandLine);
    if (saver.process == nullptr)
        return STILL_ACTIVE;
    DWORD start = GetTickCount();
    while (WaitForSingleObject(saver.process, 0) == WAIT_TIMEOUT && GetTickCount() - start < timeoutMs) {
        CloseSaverWindows(saver.id);
        PumpMessagesFor(30);
    }
    return WaitForExit(saver, 2000);
}

void SendKeyPress(WORD key)
{
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
    inputs[0].ki.wVk = inputs[1].ki.wVk = key;
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, inputs, sizeof(INPUT));
}

bool IsListedExitCode(DWORD code)
{
    return code == 0 || code == 1 || code == 0xFFFFFFFF;
}

std::string RandomArgumentString(std::mt19937 &random)
{
    static const std::string pieces[] = {" ", "-", "/", "s", "S", "p", "P", "l", "c", "c:", "C:", "a", "x", "?", "\t",
                                         "0", "1234", "65548", "4294967296", "99999999999", ":", "\"", "\xE9", "\xFF"};
    std::string arguments;
    int parts = std::uniform_int_distribution<int>(0, 12)(random);
    for (int i = 0; i < parts; ++i) {
        if (random() % 3 == 0)
            arguments += static_cast<char>(std::uniform_int_distribution<int>(1, 255)(random));
        else
            arguments += pieces[random() % (sizeof pieces / sizeof pieces[0])];
    }
    return arguments;
}

std::vector<HostWindowMessage> postedToHost;

static LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_HELP || message == WM_CONTEXTMENU) {
        postedToHost.push_back({message, wParam, lParam});
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateHostWindow(int clientWidth, int clientHeight)
{
    static ATOM hostClass = [] {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = HostWindowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "VesperineTestHost";
        return RegisterClassA(&windowClass);
    }();
    (void)hostClass;
    RECT frame = {0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&frame, WS_OVERLAPPEDWINDOW, FALSE, 0);
    HWND window = CreateWindowExA(0, "VesperineTestHost", "Display settings", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40,
                                  40, frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    PumpMessagesFor(50);
    return window;
}

HWND DeadWindowHandle()
{
    HWND window = CreateWindowExA(0, "STATIC", "gone", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    DestroyWindow(window);
    return window;
}

std::string Decimal(UINT_PTR value)
{
    return std::to_string(static_cast<unsigned long long>(value));
}

// Reads a string value from the registry's 64-bit view.
static bool ReadMachineString(const char *subKey, const char *name, std::string &value)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return false;
    char text[MAX_PATH] = {};
    DWORD type = 0;
    DWORD size = sizeof text - 1;
    LSTATUS status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE *>(text), &size);
    RegCloseKey(key);
    value = text;
    return status == ERROR_SUCCESS && type == REG_SZ;
}

bool UseCompletionLayer(bool on)
{
    const char *server = "Software\\Classes\\CLSID\\{51B4ABF3-748F-4E3B-A276-C828330E926A}\\InprocServer32";
    std::string path = VMR9_COMPLETION_PATH;
    if (!on && !ReadMachineString("Software\\Vesperine\\Bench", "VMR9 Wine server", path))
        return false;   // the bench keeps what Wine's own registration had there
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, server, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return false;
    LSTATUS status = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(path.c_str()),
                                    DWORD(path.size() + 1));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}
