// The caption's fade schedule: 50 ms ticks that fade the caption in, hold it, fade it
// out and end it after 10 s, switching to the other caption for the next one.
#pragma once

#include <windows.h>

// One step of the schedule; every WM_TIMER of the saver window counts as one tick.
void CaptionTick(HWND window);

// Raises the caption's opacity by one step, or lowers it with `lower`, and tells the
// mixer. Does nothing when there is no mixer.
void StepCaptionAlpha(bool lower);

// Ends the running caption, if a caption timer runs: the timer stops, the schedule and
// the opacity start over and the other caption comes next. The mixer is not told.
void StopCaption(HWND window);
