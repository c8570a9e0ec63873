// The caption's fade schedule. The mixer blends the caption; the ticks here only move
// its opacity and count nominal time, 50 ms per tick however late the tick comes.
#include "caption/caption_fade.h"

#include "caption/caption_state.h"
#include "playback/playback_state.h"

static const int kTickMs = 50;               // added to elapsedMs by every tick
static const int kFadeInAfterMs = 1000;      // fade in while kFadeInAfterMs < elapsed < kHoldFromMs
static const int kHoldFromMs = 2000;
static const int kFadeOutAfterMs = 9000;     // fade out while kFadeOutAfterMs < elapsed < kCaptionEndMs
static const int kCaptionEndMs = 10000;      // the caption ends once elapsedMs reaches this
static const float kFadeRate = 0.4f;         // opacity per second
static const float kTickSeconds = 0.05f;     // one tick's length in seconds

void CaptionTick(HWND window)
{
    const int elapsed = caption.elapsedMs;
    if (elapsed > kFadeInAfterMs && elapsed < kHoldFromMs)
        StepCaptionAlpha(false);
    else if (elapsed > kFadeOutAfterMs && elapsed < kCaptionEndMs)
        StepCaptionAlpha(true);

    caption.elapsedMs = elapsed + kTickMs;
    if (caption.elapsedMs >= kCaptionEndMs)
        StopCaption(window);
}

void StepCaptionAlpha(bool lower)
{
    if (playback.mixerBitmap == nullptr)
        return;

    const float step = kFadeRate * kTickSeconds;
    const float alpha = lower ? caption.currentAlpha - step : caption.currentAlpha + step;
    caption.currentAlpha = alpha;
    caption.alphaBitmap.fAlpha = alpha;
    playback.mixerBitmap->UpdateAlphaBitmapParameters(&caption.alphaBitmap);   // a failure: the next tick tries again
}

void StopCaption(HWND window)
{
    if (caption.timerId == 0)
        return;

    KillTimer(window, caption.timerId);
    caption.timerId = 0;
    caption.elapsedMs = 0;
    caption.currentAlpha = 0.0f;
    caption.captionIndex = caption.captionIndex == 0 ? 1 : 0;
}
