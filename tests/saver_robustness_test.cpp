// The built saver against faults and strange input: the exception guard's two
// verdicts, the legacy platform's password-change mode, and argument strings of
// every shape, none of which may crash or hang it.
#include <gtest/gtest.h>

#include "support/test_paths.h"
#include "support/saver_process.h"

#include <fstream>
#include <random>

static const DWORD kRefused = 0xFFFFFFFF;

TEST(StrangeArguments, EndWithAListedExitCode)
{
    const std::string exe = VESPERINE_SCR_PATH;
    std::string binary;
    for (int byte = 1; byte < 256; ++byte)
        binary += static_cast<char>(byte);
    struct Case { std::string arguments; DWORD exitCode; };
    const Case cases[] = {
        {"/p " + std::string(5000, '9'), kRefused},
        {"/p" + std::string(3000, '0') + "1", kRefused},
        {"/c:" + std::string(5000, '7'), 1},
        {std::string(3000, '/'), 1},
        {std::string(1000, ' ') + std::string(1000, '-'), 1},
        {binary, kRefused},
        {"/x" + binary, kRefused},
        {"/a" + std::string(4000, '5'), kRefused},
        {"/s" + binary + std::string(20000, 'z'), 0},
    };
    for (const Case &c : cases) {
        DWORD code = RunClosingEverything("\"" + exe + "\" " + c.arguments);
        EXPECT_EQ(code, c.exitCode) << "arguments of " << c.arguments.size() << " bytes starting ["
                                    << c.arguments.substr(0, 24) << "]";
    }
}

TEST(StrangeArguments, RandomArgumentStringsNeverCrashOrHang)
{
    unsigned seed = 20261211;
    std::mt19937 random(seed);
    const std::string exe = VESPERINE_SCR_PATH;
    for (int run = 0; run < 40; ++run) {
        std::string arguments = RandomArgumentString(random);
        DWORD code = RunClosingEverything("\"" + exe + "\" " + arguments);
        EXPECT_TRUE(IsListedExitCode(code)) << "seed " << seed << ", run " << run << ", arguments [" << arguments
                                            << "] ended with 0x" << std::hex << code;
    }
}

// A copy of the saver under its own file name, for which this prefix reports
// Windows 98 and takes the MPR.DLL next to it, a stand-in for the system's.
class LegacySaver : public ::testing::Test {
protected:
    void SetUp() override
    {
        CreateDirectoryA(TEST_WORK_DIR, nullptr);
        directory = std::string(TEST_WORK_DIR) + "\\legacy";
        saver = directory + "\\legacy-saver.scr";
        log = directory + "\\password-change.txt";
        ASSERT_TRUE(PrepareLegacySaver(directory, "legacy-saver.scr"));
        DeleteFileA(log.c_str());
    }
    void TearDown() override { EndLeftoverSavers(); }
    std::vector<std::string> Environment(bool fault)
    {
        std::vector<std::string> environment = {"VESPERINE_MPR_LOG=" + log};
        if (fault)
            environment.push_back("VESPERINE_MPR_FAULT=1");
        return environment;
    }
    DWORD Run(const std::string &arguments, bool fault)
    {
        SaverProcess process = StartSaver("\"" + saver + "\" " + arguments, saver, Environment(fault));
        return WaitForExit(process, 30000);
    }
    std::string Logged()
    {
        std::ifstream in(log);
        std::string text;
        std::getline(in, text);
        return text;
    }
    std::string directory, saver, log;
};

TEST_F(LegacySaver, PasswordChangeOpensTheSystemDialogAndExitsZero)
{
    HWND parent = CreateHostWindow(100, 80);
    EXPECT_EQ(Run("/a " + Decimal(reinterpret_cast<UINT_PTR>(parent)), false), 0u);
    EXPECT_EQ(Logged(), "SCRSAVE " + Decimal(reinterpret_cast<UINT_PTR>(parent)) + " 0 0000000000000000");
    DestroyWindow(parent);
}

static const char kAeDebug[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug";

static std::string DebuggerCommand()
{
    char value[512] = "";
    DWORD size = sizeof value;
    RegGetValueA(HKEY_LOCAL_MACHINE, kAeDebug, "Debugger", RRF_RT_REG_SZ, nullptr, value, &size);
    return value;
}

static void SetDebuggerCommand(const std::string &command)
{
    RegSetKeyValueA(HKEY_LOCAL_MACHINE, kAeDebug, "Debugger", REG_SZ, command.c_str(),
                    static_cast<DWORD>(command.size() + 1));
}

TEST_F(LegacySaver, FaultHandledByTheGuardEndsWithMinusOne)
{
    // No debugger can be started: the system's treatment answers "execute the handler".
    std::string previous = DebuggerCommand();
    SetDebuggerCommand("Z:\\nonexistent\\no-debugger.exe");
    EXPECT_EQ(Run("/a", true), kRefused);
    SetDebuggerCommand(previous);
}

TEST_F(LegacySaver, FaultThatTheDebuggerTakesIsNotHandledByTheGuard)
{
    // Wine's debugger attaches: the verdict is "continue searching", the guard does
    // nothing more and the fault ends the process with its own code.
    std::string previous = DebuggerCommand();
    SetDebuggerCommand("winedbg --auto %ld %ld");
    EXPECT_EQ(Run("/a", true), static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    SetDebuggerCommand(previous);
}
