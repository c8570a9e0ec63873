// Stands in for the playback's window procedure behind the saver's outer procedure:
// it records what reaches it and passes every message on to the closing rules, so a
// test can tell which messages the outer procedure finished by itself.
#pragma once

#include <windows.h>
#include <imm.h>

#include <functional>
#include <vector>

struct ReachedMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

struct ClipStageRecord {
    std::vector<ReachedMessage> reached;   // every message that got past the outer procedure
    HWND createdWindow = nullptr;          // the window whose WM_CREATE reached the stage
    HCURSOR cursorAtCreate = nullptr;      // the cursor when WM_CREATE reached the stage
    HIMC contextAtCreate = nullptr;        // the window's input context then
    HIMC contextAtTeardown = nullptr;      // and when WM_DESTROY reached the stage
    bool quitPostedBeforeTeardown = false; // the quit message was already queued then
};

extern ClipStageRecord clipStage;

bool ReachedClipStage(UINT message, WPARAM wParam);

// Runs the saver window on this thread (full screen without a parent, preview inside
// one) with a fresh host record, calls `scenario` once the message loop runs, then
// destroys the window and returns RunSaver's result.
int RunSaverWith(HWND parent, const std::function<void(HWND)> &scenario);
