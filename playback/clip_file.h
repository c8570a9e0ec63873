// The clip that the saver carries as a resource, copied into a hidden file in the
// Windows directory for the playback graph to open by name.
#pragma once

#include <windows.h>

// Owns the temporary clip file. Deleting the object leaves the file alone:
// RemoveFile deletes it, and the teardown calls that first.
struct TempClipFile {
    explicit TempClipFile(const char *fileName);

    // Copies resource `id` of type `resourceType` from `module` into the file at
    // `path`, and once the file exists, puts `path` widened into `widePath`.
    void WriteFromResource(WORD id, HMODULE module, WCHAR widePath[MAX_PATH]);
    void RemoveFile();

    const char *resourceType;   // the resource type to extract from; always "AVI"
    char path[MAX_PATH];        // Windows directory, a backslash and the file name; empty if it does not fit
    DWORD bytesWritten;         // bytes the last write put into the file, as the system reports them
    DWORD resourceSize;         // size of the resource the last write copied; 0 until one is found
};

// Creates the clip file object in playback.clipFile and copies the clip into the
// file; S_OK only when the whole clip is in the file.
HRESULT ExtractClip();
