// The closing rules and the password gate, run in this process on a real saver
// window with the recording stage in front of them. Real messages and the real
// cursor; only the power status and the tick count, which Wine cannot be made to
// change, are replaced, by pointing this program's own import slots at fakes.
#include <gtest/gtest.h>

#include "support/replaced_import.h"

#include "host/host.h"
#include "support/recording_clip_stage.h"

#include <functional>
#include <string>
#include <vector>

// The import slots through which the saver's code calls kernel32 in this program.
extern "C" {
extern DWORD(WINAPI *__imp_GetTickCount)();
extern BOOL(WINAPI *__imp_GetSystemPowerStatus)(LPSYSTEM_POWER_STATUS);
}


static DWORD fakeTick;
static DWORD WINAPI FakeGetTickCount()
{
    return fakeTick;
}

static int fakePowerStatus;   // the AC-line byte to report, or -1 for a failing query
static BOOL WINAPI FakeGetSystemPowerStatus(LPSYSTEM_POWER_STATUS status)
{
    if (fakePowerStatus < 0)
        return FALSE;
    *status = SYSTEM_POWER_STATUS{};
    status->ACLineStatus = static_cast<BYTE>(fakePowerStatus);
    return TRUE;
}

// The system's password verifier, as the test scripts it.
static int verifierCalls;
static std::function<BOOL(HWND)> onVerify;
static BOOL WINAPI FakeVerifier(HWND window)
{
    ++verifierCalls;
    return onVerify ? onVerify(window) : FALSE;
}

// Takes every WM_CLOSE queued for the window off the queue; true when there was one.
static bool TakePostedClose(HWND window)
{
    bool found = false;
    MSG message;
    while (PeekMessageA(&message, window, WM_CLOSE, WM_CLOSE, PM_REMOVE))
        found = true;
    return found;
}

static UINT AutoPlayMessage()
{
    return RegisterWindowMessageA("QueryCancelAutoPlay");
}

// Makes the running saver behave as on the legacy platform, with or without the
// system's verifier loaded.
static void BecomeLegacy(bool withVerifier)
{
    host.legacyPlatform = 1;
    host.autoPlayCancelMessage = AutoPlayMessage();
    host.passwordVerifier = withVerifier ? FakeVerifier : nullptr;
}

class ClosingRules : public ::testing::Test {
protected:
    void SetUp() override
    {
        verifierCalls = 0;
        onVerify = nullptr;
        arrow = LoadCursorA(nullptr, IDC_ARROW);
        screenCentre = {GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2};
        SetCursorPos(screenCentre.x, screenCentre.y);
    }
    void TearDown() override
    {
        if (parent != nullptr)
            DestroyWindow(parent);
        parent = nullptr;
        onVerify = nullptr;
    }
    HWND MakeParent()
    {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = DefWindowProcA;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "PreviewHolder";
        RegisterClassA(&windowClass);
        parent = CreateWindowExA(0, "PreviewHolder", "Display settings", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                                 200, 160, nullptr, nullptr, windowClass.hInstance, nullptr);
        return parent;
    }
    // Runs `scenario` on a full-screen saver window, or a preview one.
    void RunOn(bool preview, const std::function<void(HWND)> &scenario)
    {
        RunSaverWith(preview ? MakeParent() : nullptr, [&](HWND window) {
            TakePostedClose(window);   // whatever the window's start-up posted is not the test's
            scenario(window);
        });
        if (parent != nullptr)
            DestroyWindow(parent);
        parent = nullptr;
    }
    HWND parent = nullptr;
    HCURSOR arrow = nullptr;
    POINT screenCentre = {};
};

// What one message did: whether it posted WM_CLOSE, its result and the cursor after it.
struct Outcome {
    bool closes;
    LRESULT result;
    HCURSOR cursor;
};

static Outcome Deliver(HWND window, HCURSOR arrow, UINT message, WPARAM wParam, LPARAM lParam)
{
    TakePostedClose(window);
    SetCursor(arrow);
    LRESULT result = SendMessageA(window, message, wParam, lParam);
    HCURSOR cursor = GetCursor();
    return {TakePostedClose(window), result, cursor};
}

TEST_F(ClosingRules, EachMessageClosesOrNotAsItsRuleSays)
{
    // `hides`: the cursor is hidden after the message in full screen. `answersOne`:
    // full screen answers 1 instead of the default handling's result. In preview no
    // message closes, hides the cursor or gets more than the default handling.
    const LPARAM onClient = MAKELPARAM(HTCLIENT, WM_MOUSEMOVE);
    struct Case { const char *name; UINT message; WPARAM wParam; LPARAM lParam; bool closes; bool hides; bool answersOne; };
    std::vector<Case> cases = {
        {"key press", WM_KEYDOWN, 'A', 0, true, false, false},
        {"system key press", WM_SYSKEYDOWN, 'A', 0, true, false, false},
        {"key release", WM_KEYUP, 'A', 0, false, false, false},
        {"character", WM_CHAR, 'a', 0, false, false, false},
        {"system key release", WM_SYSKEYUP, 'A', 0, false, false, false},
        {"left button", WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5), true, false, false},
        {"right button", WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(5, 5), true, false, false},
        {"middle button", WM_MBUTTONDOWN, MK_MBUTTON, MAKELPARAM(5, 5), true, false, false},
        {"left button release", WM_LBUTTONUP, 0, MAKELPARAM(5, 5), false, false, false},
        {"left double click", WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5), false, false, false},
        {"x button", WM_XBUTTONDOWN, MAKEWPARAM(0, XBUTTON1), MAKELPARAM(5, 5), false, false, false},
        {"wheel", WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), MAKELPARAM(5, 5), false, false, false},
        {"mouse move without travel", WM_MOUSEMOVE, 0, MAKELPARAM(900, 900), false, false, false},
        {"application deactivated", WM_ACTIVATEAPP, 0, 0, true, false, false},
        {"application activated", WM_ACTIVATEAPP, 1, 0, false, false, false},
        {"window shown", WM_SHOWWINDOW, 1, 0, false, true, false},
        {"window hidden", WM_SHOWWINDOW, 0, 0, false, false, false},
        {"cursor request", WM_SETCURSOR, 0, onClient, false, true, true},
        {"suspend request", WM_POWER, PWR_SUSPENDREQUEST, 0, false, false, false},
        {"suspend resume", WM_POWER, PWR_SUSPENDRESUME, 0, false, false, false},
        {"critical resume", WM_POWER, PWR_CRITICALRESUME, 0, true, false, false},
    };
    // Every power broadcast from 0 to 20 with the resume-from-failure flag clear and
    // set. A status change (10) closes on neither here: the mains status is the same
    // as when the saver started.
    struct Broadcast { WPARAM event; bool closesWithFlagClear; bool closesWithFlagSet; };
    const Broadcast broadcasts[] = {
        {PBT_APMQUERYSUSPEND, true, true},        {PBT_APMQUERYSTANDBY, true, true},
        {PBT_APMQUERYSUSPENDFAILED, true, true},  {PBT_APMQUERYSTANDBYFAILED, true, true},
        {PBT_APMSUSPEND, true, true},             {PBT_APMSTANDBY, true, true},
        {PBT_APMRESUMECRITICAL, true, false},     {PBT_APMRESUMESUSPEND, true, false},
        {PBT_APMRESUMESTANDBY, true, false},      {PBT_APMBATTERYLOW, true, true},
        {PBT_APMPOWERSTATUSCHANGE, false, false}, {PBT_APMOEMEVENT, true, true},
        {12, true, true},                         {13, true, true},
        {14, true, true},                         {15, true, true},
        {16, true, true},                         {17, true, true},
        {PBT_APMRESUMEAUTOMATIC, true, false},    {19, true, true},
        {20, true, true},
    };
    std::vector<std::string> names;
    names.reserve(2 * (sizeof broadcasts / sizeof broadcasts[0]));
    for (const Broadcast &b : broadcasts) {
        for (LPARAM flags : {LPARAM{0}, LPARAM{PBTF_APMRESUMEFROMFAILURE}}) {
            names.push_back("power broadcast " + std::to_string(b.event) + " flags " + std::to_string(flags));
            cases.push_back({names.back().c_str(), WM_POWERBROADCAST, b.event, flags,
                             flags ? b.closesWithFlagSet : b.closesWithFlagClear, false, false});
        }
    }

    for (bool preview : {false, true}) {
        RunOn(preview, [&](HWND window) {
            for (const Case &c : cases) {
                Outcome outcome = Deliver(window, arrow, c.message, c.wParam, c.lParam);
                LRESULT expected =
                    c.answersOne && !preview ? 1 : DefWindowProcA(window, c.message, c.wParam, c.lParam);
                SCOPED_TRACE(std::string(preview ? "preview: " : "full screen: ") + c.name);
                EXPECT_EQ(outcome.closes, c.closes && !preview);
                EXPECT_EQ(outcome.result, expected);
                EXPECT_EQ(outcome.cursor, c.hides && !preview ? nullptr : arrow);
            }
        });
    }
}

TEST_F(ClosingRules, MouseTravelBeyondFourPixelsClosesAndMovesTheReference)
{
    // Offsets from the reference point where each case starts, one mouse move each.
    struct Step { POINT offset; bool closes; POINT referenceAfter; };
    struct Case { const char *name; std::vector<Step> steps; };
    const Case cases[] = {
        {"2 right and 2 down stays, one more right closes",
         {{{2, 2}, false, {0, 0}}, {{3, 2}, true, {3, 2}}, {{4, 2}, false, {3, 2}}}},
        {"2 right and 2 down stays, one more down closes", {{{2, 2}, false, {0, 0}}, {{2, 3}, true, {2, 3}}}},
        {"five moves of one pixel close on the fifth",
         {{{1, 0}, false, {0, 0}},
          {{2, 0}, false, {0, 0}},
          {{3, 0}, false, {0, 0}},
          {{4, 0}, false, {0, 0}},
          {{5, 0}, true, {5, 0}}}},
        {"travel up and left counts as distance", {{{-2, -2}, false, {0, 0}}, {{-3, -2}, true, {-3, -2}}}},
        {"a move back within the threshold stays", {{{4, 0}, false, {0, 0}}, {{0, 0}, false, {0, 0}}}},
    };
    for (bool preview : {false, true}) {
        for (const Case &c : cases) {
            RunOn(preview, [&](HWND window) {
                POINT start = screenCentre;
                SetCursorPos(start.x, start.y);
                host.lastCursorPos = start;
                for (size_t i = 0; i < c.steps.size(); ++i) {
                    const Step &step = c.steps[i];
                    SetCursorPos(start.x + step.offset.x, start.y + step.offset.y);
                    Outcome outcome = Deliver(window, arrow, WM_MOUSEMOVE, 0, 0);
                    SCOPED_TRACE(std::string(preview ? "preview: " : "full screen: ") + c.name + ", move " +
                                 std::to_string(i + 1));
                    EXPECT_EQ(outcome.closes, step.closes && !preview);
                    POINT reference = preview ? start : POINT{start.x + step.referenceAfter.x,
                                                              start.y + step.referenceAfter.y};
                    EXPECT_EQ(host.lastCursorPos.x, reference.x);
                    EXPECT_EQ(host.lastCursorPos.y, reference.y);
                }
            });
        }
    }
}

TEST_F(ClosingRules, PowerStatusChangeClosesOnlyWhenTheMainsStatusChanged)
{
    // Readings in a row after the saver has seen `stored`; -1 is a failing query.
    struct Reading { int status; bool closes; BYTE storedAfter; };
    struct Case { const char *name; BYTE stored; std::vector<Reading> readings; };
    const Case cases[] = {
        {"status stays", 1, {{1, false, 1}}},
        {"mains unplugged", 1, {{0, true, 0}}},
        {"query fails twice in a row", 1, {{-1, true, 255}, {-1, false, 255}}},
        {"query fails while the status is unknown", 255, {{-1, false, 255}}},
        {"status known again", 255, {{1, true, 1}}},
    };
    for (const Case &c : cases) {
        RunOn(false, [&](HWND window) {
            ReplacedImport<decltype(__imp_GetSystemPowerStatus)> power(&__imp_GetSystemPowerStatus,
                                                                      FakeGetSystemPowerStatus);
            host.lastAcLineStatus = c.stored;
            for (size_t i = 0; i < c.readings.size(); ++i) {
                fakePowerStatus = c.readings[i].status;
                Outcome outcome = Deliver(window, arrow, WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE, 0);
                SCOPED_TRACE(std::string(c.name) + ", reading " + std::to_string(i + 1));
                EXPECT_EQ(outcome.closes, c.readings[i].closes);
                EXPECT_EQ(host.lastAcLineStatus, c.readings[i].storedAfter);
            }
        });
    }
}

TEST_F(ClosingRules, OffTheLegacyPlatformCloseDestroysAtOnceAndNoCheckIsAnswered)
{
    bool aliveAfterClose = true;
    LRESULT answer = -1;
    RunOn(false, [&](HWND window) {
        host.passwordVerifier = FakeVerifier;   // even a loaded verifier is not asked here
        onVerify = [](HWND) { return TRUE; };
        answer = SendMessageA(window, WM_APP, 0, 0);
        SendMessageA(window, WM_CLOSE, 0, 0);
        aliveAfterClose = IsWindow(window) != FALSE;
    });
    EXPECT_EQ(answer, 0);
    EXPECT_FALSE(aliveAfterClose);
    EXPECT_EQ(verifierCalls, 0);
    EXPECT_EQ(host.closeAllowed, 0);
}

TEST_F(ClosingRules, PreviewClosesAtOnceEvenOnTheLegacyPlatform)
{
    bool aliveAfterClose = true;
    RunOn(true, [&](HWND window) {
        BecomeLegacy(true);
        SendMessageA(window, WM_CLOSE, 0, 0);
        aliveAfterClose = IsWindow(window) != FALSE;
    });
    EXPECT_FALSE(aliveAfterClose);
    EXPECT_EQ(verifierCalls, 0);
}

TEST_F(ClosingRules, WithoutAVerifierTheFirstCloseEndsTheLegacySaver)
{
    LRESULT answer = 0;
    bool aliveAfterClose = true;
    RunOn(false, [&](HWND window) {
        BecomeLegacy(false);
        answer = SendMessageA(window, WM_APP, 0, 0);
        SendMessageA(window, WM_CLOSE, 0, 0);
        aliveAfterClose = IsWindow(window) != FALSE;
    });
    EXPECT_EQ(answer, 1);
    EXPECT_FALSE(aliveAfterClose);
    EXPECT_EQ(host.closeAllowed, 1);
}

TEST_F(ClosingRules, RefusedPasswordKeepsTheSaverWithTheCursorHidden)
{
    RunOn(false, [&](HWND window) {
        ReplacedImport<decltype(__imp_GetTickCount)> tick(&__imp_GetTickCount, FakeGetTickCount);
        BecomeLegacy(true);
        fakeTick = 1000;
        HWND askedFor = nullptr;
        onVerify = [&](HWND asked) {
            askedFor = asked;
            SetCursor(arrow);          // the dialog shows the cursor
            fakeTick = 4000;           // and takes three seconds
            return FALSE;
        };
        for (UINT_PTR id = 1; id <= 3; ++id)
            PostMessageA(window, WM_TIMER, id, 0);
        POINT moved = {screenCentre.x + 40, screenCentre.y + 30};
        SetCursorPos(moved.x, moved.y);
        SetCursor(arrow);

        LRESULT result = SendMessageA(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(IsWindow(window));
        EXPECT_EQ(verifierCalls, 1);
        EXPECT_EQ(askedFor, window);
        EXPECT_EQ(GetCursor(), nullptr);
        EXPECT_EQ(host.closeAllowed, 0);
        EXPECT_EQ(host.checkingPassword, 0u);
        EXPECT_EQ(host.lastVerifyTick, 4000u);   // the end of the check, not its start
        EXPECT_EQ(host.lastCursorPos.x, moved.x);
        EXPECT_EQ(host.lastCursorPos.y, moved.y);
        int timersLeft = 0;
        MSG timer;
        while (PeekMessageA(&timer, window, WM_TIMER, WM_TIMER, PM_REMOVE))
            ++timersLeft;
        EXPECT_EQ(timersLeft, 1);                 // two of the three were dropped

        // The closing rules apply again.
        EXPECT_TRUE(Deliver(window, arrow, WM_KEYDOWN, 'A', 0).closes);
    });
}

TEST_F(ClosingRules, CloseSoonAfterACheckIsRefusedWithoutAskingAgain)
{
    // The first check ends at `checkEnds`; the next WM_CLOSE comes at `closeAt`.
    struct Case { const char *name; DWORD checkEnds; DWORD closeAt; bool asksAgain; };
    const Case cases[] = {
        {"150 ms after", 5000, 5150, false},
        {"199 ms after", 5000, 5199, false},
        {"200 ms after", 5000, 5200, true},
        {"250 ms after", 5000, 5250, true},
        {"272 ms after, across the wrap-around", 0xFFFFFF00, 16, true},
        {"100 ms after, across the wrap-around", 0xFFFFFFC0, 36, false},
        {"check ended at the last tick before the wrap-around", 0xFFFFFFFF, 0, true},
    };
    for (const Case &c : cases) {
        RunOn(false, [&](HWND window) {
            ReplacedImport<decltype(__imp_GetTickCount)> tick(&__imp_GetTickCount, FakeGetTickCount);
            BecomeLegacy(true);
            verifierCalls = 0;
            onVerify = [&](HWND) {
                fakeTick = c.checkEnds;
                return FALSE;
            };
            fakeTick = c.checkEnds - 1000;
            SendMessageA(window, WM_CLOSE, 0, 0);
            fakeTick = c.closeAt;
            POINT moved = {screenCentre.x + 7, screenCentre.y};
            SetCursorPos(moved.x, moved.y);
            LRESULT result = SendMessageA(window, WM_CLOSE, 0, 0);
            SCOPED_TRACE(c.name);
            EXPECT_EQ(verifierCalls, c.asksAgain ? 2 : 1);
            EXPECT_EQ(result, 0);
            EXPECT_TRUE(IsWindow(window));
            EXPECT_EQ(host.lastCursorPos.x, moved.x);   // every refused close resets the reference
        });
    }
}

TEST_F(ClosingRules, AcceptedPasswordClosesAndEndsEveryRule)
{
    // The verdict is kept as the verifier gives it: any nonzero value allows closing.
    for (BOOL verdict : {1, 7}) {
        bool aliveAfterClose = true;
        RunOn(false, [&](HWND window) {
            BecomeLegacy(true);
            onVerify = [&](HWND) { return verdict; };
            SendMessageA(window, WM_CLOSE, 0, 0);
            aliveAfterClose = IsWindow(window) != FALSE;
        });
        EXPECT_FALSE(aliveAfterClose) << "verdict " << verdict;
        EXPECT_EQ(host.closeAllowed, verdict);
    }

    // Once released, nothing posts WM_CLOSE any more, and the cursor is left alone.
    RunOn(false, [&](HWND window) {
        BecomeLegacy(true);
        verifierCalls = 0;
        onVerify = [](HWND) { return TRUE; };
        ASSERT_EQ(VerifyUnlock(window), 1);
        SetCursorPos(screenCentre.x + 50, screenCentre.y + 50);
        struct Case { const char *name; UINT message; WPARAM wParam; };
        const Case cases[] = {
            {"key press", WM_KEYDOWN, 'A'},           {"system key press", WM_SYSKEYDOWN, 'A'},
            {"left button", WM_LBUTTONDOWN, 0},       {"right button", WM_RBUTTONDOWN, 0},
            {"middle button", WM_MBUTTONDOWN, 0},     {"mouse travel", WM_MOUSEMOVE, 0},
            {"deactivation", WM_ACTIVATEAPP, 0},      {"suspend", WM_POWERBROADCAST, PBT_APMSUSPEND},
            {"critical resume", WM_POWER, PWR_CRITICALRESUME},
        };
        for (const Case &c : cases)
            EXPECT_FALSE(Deliver(window, arrow, c.message, c.wParam, 0).closes) << c.name;
        EXPECT_EQ(Deliver(window, arrow, WM_SETCURSOR, 0, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)).cursor, arrow);
        SendMessageA(window, WM_CLOSE, 0, 0);
        EXPECT_FALSE(IsWindow(window));
        EXPECT_EQ(verifierCalls, 1);
    });
}

TEST_F(ClosingRules, DuringACheckOnlyCloseAndTheVerificationRequestAreHandled)
{
    // The verifier's dialog runs its own loop, which keeps delivering the saver
    // window's messages while the check waits for its answer.
    RunOn(false, [&](HWND window) {
        BecomeLegacy(true);
        struct Seen { const char *name; bool closes; LRESULT result; HCURSOR cursor; };
        std::vector<Seen> seen;
        bool aliveInside = false;
        onVerify = [&](HWND) {
            if (verifierCalls > 1)
                return FALSE;                     // entered again: recorded by the call count
            SetCursorPos(screenCentre.x + 60, screenCentre.y);
            const struct { const char *name; UINT message; WPARAM wParam; LPARAM lParam; } inside[] = {
                {"close", WM_CLOSE, 0, 0},
                {"key press", WM_KEYDOWN, 'A', 0},
                {"mouse travel", WM_MOUSEMOVE, 0, 0},
                {"suspend", WM_POWERBROADCAST, PBT_APMSUSPEND, 0},
                {"cursor request", WM_SETCURSOR, 0, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)},
            };
            for (const auto &m : inside) {
                Outcome outcome = Deliver(window, arrow, m.message, m.wParam, m.lParam);
                seen.push_back({m.name, outcome.closes, outcome.result, outcome.cursor});
            }
            aliveInside = IsWindow(window) != FALSE;
            return FALSE;
        };
        SendMessageA(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(verifierCalls, 1);
        EXPECT_TRUE(aliveInside);
        EXPECT_EQ(host.lastCursorPos.x, screenCentre.x + 60);   // refreshed by the refused close inside
        for (const Seen &s : seen) {
            EXPECT_FALSE(s.closes) << s.name;
            EXPECT_EQ(s.cursor, arrow) << s.name;
        }
        ASSERT_EQ(seen.size(), 5u);
        EXPECT_EQ(seen[4].result, 0) << "the cursor request gets the default handling";
    });
}

TEST_F(ClosingRules, AutoPlayQueryClosesInEveryStateAndCancelsOnlyWithAVerifier)
{
    enum State { Guarding, Checking, Released, Preview };
    struct Case { const char *name; State state; bool withVerifier; LRESULT answer; };
    const Case cases[] = {
        {"running without a verifier", Guarding, false, 0},
        {"running with a verifier", Guarding, true, 1},
        {"during a check", Checking, true, 1},
        {"released with a verifier", Released, true, 1},
        {"released without a verifier", Released, false, 0},
        {"preview", Preview, false, 0},
    };
    for (const Case &c : cases) {
        Outcome outcome = {false, -1, nullptr};
        RunOn(c.state == Preview, [&](HWND window) {
            BecomeLegacy(c.withVerifier);
            if (c.state == Released)
                host.closeAllowed = 1;
            if (c.state == Checking) {
                onVerify = [&](HWND) {
                    outcome = Deliver(window, arrow, AutoPlayMessage(), 0, 0);
                    return FALSE;
                };
                SendMessageA(window, WM_CLOSE, 0, 0);
            } else {
                outcome = Deliver(window, arrow, AutoPlayMessage(), 0, 0);
            }
        });
        EXPECT_TRUE(outcome.closes) << c.name;
        EXPECT_EQ(outcome.result, c.answer) << c.name;
    }
}
