// The caption's fade schedule, in this process: the ticks are driven by hand on a
// window of this test, with a real caption timer on it, and a recording mixer in
// place of the renderer's.
#include <windows.h>

#include <gtest/gtest.h>

#include "caption/caption_fade.h"
#include "caption/caption_state.h"
#include "playback/playback_state.h"

#include <cmath>
#include <cstring>
#include <vector>

// The caption record as the process starts with it (constant-initialised, so already
// in place when this copy is made).
static const CaptionState captionAtStart = caption;

// Records what the fade hands to the mixer; every call answers `updateResult`.
struct RecordingMixerBitmap : IVMRMixerBitmap9 {
    std::vector<VMR9AlphaBitmap> updates;   // each UpdateAlphaBitmapParameters call's record
    HRESULT updateResult = S_OK;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SetAlphaBitmap(const VMR9AlphaBitmap *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE UpdateAlphaBitmapParameters(const VMR9AlphaBitmap *bitmap) override
    {
        updates.push_back(*bitmap);
        return updateResult;
    }
    HRESULT STDMETHODCALLTYPE GetAlphaBitmapParameters(VMR9AlphaBitmap *) override { return E_NOTIMPL; }
};

static const UINT_PTR kCaptionTimer = 50;
static const float kStep = 0.4f * 0.05f;   // one opacity step, in single precision

class CaptionFade : public testing::Test {
protected:
    void SetUp() override
    {
        window = CreateWindowExA(0, "STATIC", "caption", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window, nullptr);
        caption = CaptionState{};
        playback.mixerBitmap = &mixer;
    }
    void TearDown() override
    {
        playback.mixerBitmap = nullptr;
        DestroyWindow(window);
    }

    // Starts the caption timer on the test's window as the caption's own start does.
    void StartTimer()
    {
        caption.timerId = SetTimer(window, kCaptionTimer, 50, nullptr);
        ASSERT_NE(caption.timerId, 0u);
    }

    // True when the caption timer is gone: killing it again fails and it sends nothing.
    bool TimerIsGone()
    {
        Sleep(150);
        MSG message;
        bool fired = PeekMessageA(&message, window, WM_TIMER, WM_TIMER, PM_REMOVE) != FALSE;
        return !fired && !KillTimer(window, kCaptionTimer);
    }

    HWND window = nullptr;
    RecordingMixerBitmap mixer;
};

TEST(CaptionTexts, HoldTheAboutBoxWordingInCapitalsOneZeroFilledLineEach)
{
    const char *const expected[2] = {"WWW.DUSKMERE.EXAMPLE", "(C) DUSKMERE LIGHTWORKS"};
    for (int slot = 0; slot < 2; ++slot) {
        char padded[64] = {};
        strcpy(padded, expected[slot]);
        EXPECT_EQ(memcmp(captionTexts[slot], padded, sizeof padded), 0) << "slot " << slot;
    }
}

TEST(CaptionState, StartsIdleTransparentAndWithSlotOne)
{
    EXPECT_EQ(captionAtStart.timerId, 0u);
    EXPECT_EQ(captionAtStart.elapsedMs, 0);
    EXPECT_EQ(captionAtStart.currentAlpha, 0.0f);
    EXPECT_EQ(captionAtStart.captionIndex, 1);
    const VMR9AlphaBitmap zero = {};
    EXPECT_EQ(memcmp(&captionAtStart.alphaBitmap, &zero, sizeof zero), 0);
}

// The whole schedule of one caption, tick by tick, against opacities stepped the same
// way in single precision. The mixer fails every update, which must not matter.
TEST_F(CaptionFade, OneCaptionFadesInHoldsFadesOutAndEndsWithTheOtherSlotNext)
{
    enum Change { Hold, Up, Down };
    struct Phase {
        int firstTick, lastTick;   // tick n reads elapsedMs 50 (n - 1)
        Change change;
    };
    const Phase phases[] = {
        {1, 21, Hold},      // up to and including elapsed 1000
        {22, 40, Up},       // 1050 to 1950
        {41, 181, Hold},    // 2000 to 9000, both included
        {182, 200, Down},   // 9050 to 9950
    };

    // The record as the caption's drawing leaves it; the ticks change only fAlpha.
    caption.alphaBitmap.dwFlags = 10;
    caption.alphaBitmap.rSrc = {0, 0, 160, 13};
    caption.alphaBitmap.rDest = {0.794f, 0.933f, 0.95f, 0.95f};
    caption.alphaBitmap.clrSrcKey = 0xFFFFFF;
    const VMR9AlphaBitmap drawn = caption.alphaBitmap;
    mixer.updateResult = E_FAIL;
    StartTimer();

    float expected = 0.0f, peak = 0.0f;
    size_t expectedUpdates = 0;
    for (const Phase &phase : phases) {
        for (int tick = phase.firstTick; tick <= phase.lastTick; ++tick) {
            ASSERT_EQ(caption.elapsedMs, 50 * (tick - 1)) << "before tick " << tick;
            if (phase.change == Up)
                expected = expected + kStep;
            else if (phase.change == Down)
                expected = expected - kStep;
            if (phase.change != Hold)
                ++expectedUpdates;
            if (expected > peak)
                peak = expected;

            CaptionTick(window);

            ASSERT_EQ(mixer.updates.size(), expectedUpdates) << "after tick " << tick;
            if (phase.change != Hold) {
                EXPECT_EQ(mixer.updates.back().fAlpha, expected) << "after tick " << tick;
                VMR9AlphaBitmap sent = mixer.updates.back();
                sent.fAlpha = drawn.fAlpha;
                EXPECT_EQ(memcmp(&sent, &drawn, sizeof drawn), 0) << "other fields after tick " << tick;
            }
            if (tick < 200) {
                ASSERT_EQ(caption.currentAlpha, expected) << "after tick " << tick;
                ASSERT_EQ(caption.alphaBitmap.fAlpha, expected) << "after tick " << tick;
                ASSERT_NE(caption.timerId, 0u) << "after tick " << tick;
            }
        }
    }

    float nineteenSteps = 0.0f;
    for (int step = 0; step < 19; ++step)
        nineteenSteps = nineteenSteps + kStep;
    EXPECT_EQ(peak, nineteenSteps);
    EXPECT_NEAR(peak, 0.38f, 1e-6f);
    EXPECT_EQ(mixer.updates.size(), 38u);

    // The 200th tick ended the caption; the mixer keeps its last, nearly clear opacity.
    EXPECT_EQ(caption.timerId, 0u);
    EXPECT_EQ(caption.elapsedMs, 0);
    EXPECT_EQ(caption.currentAlpha, 0.0f);
    EXPECT_FALSE(std::signbit(caption.currentAlpha));
    EXPECT_EQ(caption.captionIndex, 0);
    EXPECT_EQ(mixer.updates.back().fAlpha, expected);
    EXPECT_NE(mixer.updates.back().fAlpha, 0.0f);
    EXPECT_NEAR(mixer.updates.back().fAlpha, 0.0f, 1e-6f);
    EXPECT_TRUE(TimerIsGone());
}

TEST_F(CaptionFade, CaptionsAlternateStartingWithSlotOne)
{
    const int slotShown[] = {1, 0, 1};
    for (int run = 0; run < 3; ++run) {
        EXPECT_EQ(caption.captionIndex, slotShown[run]) << "caption " << run + 1;
        StartTimer();
        for (int tick = 0; tick < 200; ++tick)
            CaptionTick(window);
        EXPECT_EQ(caption.timerId, 0u) << "caption " << run + 1;
    }
}

// Without a mixer (the playback released) a tick still counts its 50 ms but touches
// nothing else, in either fade window.
TEST_F(CaptionFade, WithoutAMixerTicksCountTimeAndCallNothing)
{
    playback.mixerBitmap = nullptr;
    const int fadeTicks[] = {1050, 9050};
    for (int elapsed : fadeTicks) {
        caption.elapsedMs = elapsed;
        caption.currentAlpha = 0.2f;
        caption.alphaBitmap.fAlpha = 0.2f;
        CaptionTick(window);
        EXPECT_EQ(caption.elapsedMs, elapsed + 50) << "from " << elapsed;
        EXPECT_EQ(caption.currentAlpha, 0.2f) << "from " << elapsed;
        EXPECT_EQ(caption.alphaBitmap.fAlpha, 0.2f) << "from " << elapsed;
    }
    EXPECT_TRUE(mixer.updates.empty());
}

TEST_F(CaptionFade, StopEndsARunningCaptionAndLeavesAnIdleOneAlone)
{
    struct Case {
        const char *name;
        bool timerRuns;
        int captionIndex;
    };
    const Case cases[] = {
        {"idle, slot 1 next", false, 1},
        {"idle, slot 0 next", false, 0},
        {"mid-caption on slot 1", true, 1},
        {"mid-caption on slot 0", true, 0},
    };
    for (const Case &c : cases) {
        caption = CaptionState{};
        caption.captionIndex = c.captionIndex;
        caption.elapsedMs = 4000;
        caption.currentAlpha = 0.38f;
        if (c.timerRuns)
            StartTimer();

        StopCaption(window);

        if (c.timerRuns) {
            EXPECT_EQ(caption.timerId, 0u) << c.name;
            EXPECT_EQ(caption.elapsedMs, 0) << c.name;
            EXPECT_EQ(caption.currentAlpha, 0.0f) << c.name;
            EXPECT_EQ(caption.captionIndex, 1 - c.captionIndex) << c.name;
            EXPECT_TRUE(TimerIsGone()) << c.name;
        } else {
            EXPECT_EQ(caption.elapsedMs, 4000) << c.name;
            EXPECT_EQ(caption.currentAlpha, 0.38f) << c.name;
            EXPECT_EQ(caption.captionIndex, c.captionIndex) << c.name;
        }
    }
    EXPECT_TRUE(mixer.updates.empty());   // the mixer is not told
}
