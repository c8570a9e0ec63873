// The temporary clip file: the saver's own clip resource, copied into a hidden file in
// the Windows directory, where the playback graph opens it by name.
#include "playback/clip_file.h"
#include "playback/playback_state.h"
#include "resources/resource_ids.h"

#include <new>

static const char kClipFileName[] = "vidtmp.avi";

TempClipFile::TempClipFile(const char *fileName)
    : resourceType("AVI"), path(), bytesWritten(0), resourceSize(0)
{
    char windowsDirectory[MAX_PATH];
    UINT length = GetWindowsDirectoryA(windowsDirectory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;                                   // none, or longer than the buffer: no path
    if (length + 1 + lstrlenA(fileName) >= MAX_PATH)
        return;                                   // the composed path would not fit: no path
    wsprintfA(path, "%s\\%s", windowsDirectory, fileName);
}

void TempClipFile::WriteFromResource(WORD id, HMODULE module, WCHAR widePath[MAX_PATH])
{
    if (path[0] == '\0')
        return;
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), resourceType);
    if (found == nullptr)
        return;
    HGLOBAL loaded = LoadResource(module, found);
    if (loaded == nullptr)
        return;
    const void *data = LockResource(loaded);
    if (data == nullptr)
        return;

    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (file == nullptr || file == INVALID_HANDLE_VALUE)
        return;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    resourceSize = SizeofResource(module, found);
    if (!WriteFile(file, data, resourceSize, &bytesWritten, nullptr))
        bytesWritten = 0;                         // a failed write put nothing we can trust there
    CloseHandle(file);

    // Each byte of the path becomes the wide character of the same value.
    int i = 0;
    for (; path[i] != '\0'; ++i)
        widePath[i] = static_cast<unsigned char>(path[i]);
    widePath[i] = L'\0';
}

void TempClipFile::RemoveFile()
{
    DeleteFileA(path);
}

HRESULT ExtractClip()
{
    playback.clipFile = new (std::nothrow) TempClipFile(kClipFileName);
    if (playback.clipFile == nullptr)
        return E_FAIL;
    playback.clipFile->WriteFromResource(IDR_CLIP, GetModuleHandleA(nullptr), playback.clipPathWide);
    const TempClipFile &clip = *playback.clipFile;
    if (clip.bytesWritten == 0 || clip.bytesWritten != clip.resourceSize)
        return E_FAIL;                            // no clip, or only part of it
    return S_OK;
}
