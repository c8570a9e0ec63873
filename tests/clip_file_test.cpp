// The clip extraction, run in this process on real files in the prefix's Windows
// directory. The module that holds the clip and, where a case needs one, the Windows
// directory or a short write are put in place by pointing this program's own import
// slots at fakes.
#include <windows.h>

#include <gtest/gtest.h>

#include "support/replaced_import.h"

#include "playback/clip_file.h"
#include "playback/playback_state.h"
#include "resources/resource_ids.h"
#include "support/test_paths.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

// The import slots through which the extraction calls kernel32 in this program.
extern "C" {
extern HMODULE(WINAPI *__imp_GetModuleHandleA)(LPCSTR);
extern UINT(WINAPI *__imp_GetWindowsDirectoryA)(LPSTR, UINT);
extern BOOL(WINAPI *__imp_WriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
}


// The module that the extraction takes for its own.
static HMODULE clipModule;
static HMODULE(WINAPI *realGetModuleHandleA)(LPCSTR);
static HMODULE WINAPI FakeGetModuleHandleA(LPCSTR name)
{
    return name == nullptr ? clipModule : realGetModuleHandleA(name);
}

// The Windows directory as the system reports it, keeping to the buffer's size.
static const char *fakeWindowsDirectory;   // null: the query fails
static UINT WINAPI FakeGetWindowsDirectoryA(LPSTR buffer, UINT size)
{
    if (fakeWindowsDirectory == nullptr)
        return 0;
    UINT length = static_cast<UINT>(strlen(fakeWindowsDirectory));
    if (length >= size)
        return length + 1;
    memcpy(buffer, fakeWindowsDirectory, length + 1);
    return length;
}

// A write that puts only the first half of the data into the file.
static BOOL(WINAPI *realWriteFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
static BOOL WINAPI HalfWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped)
{
    return realWriteFile(file, data, size / 2, written, overlapped);
}

static std::vector<char> ReadWholeFile(const std::string &path)
{
    std::vector<char> bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    bytes.resize(GetFileSize(file, nullptr));
    DWORD read = 0;
    if (!bytes.empty())
        ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    bytes.resize(read);
    CloseHandle(file);
    return bytes;
}

static void WriteWholeFile(const std::string &path, const std::vector<char> &bytes, DWORD attributes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

static bool FileExists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

static std::wstring Widened(const std::string &narrow)
{
    std::wstring wide;
    for (char c : narrow)
        wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return wide;
}

class ClipExtraction : public ::testing::Test {
protected:
    void SetUp() override
    {
        saver = LoadLibraryExA(VESPERINE_SCR_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(saver, nullptr) << VESPERINE_SCR_PATH;
        emptyClip = LoadLibraryExA(FAKE_EMPTY_CLIP_PATH, nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(emptyClip, nullptr) << FAKE_EMPTY_CLIP_PATH;
        HRSRC found = FindResourceExA(saver, "AVI", MAKEINTRESOURCEA(IDR_CLIP), MAKELANGID(LANG_RUSSIAN, SUBLANG_RUSSIAN_RUSSIA));
        ASSERT_NE(found, nullptr);
        const char *data = static_cast<const char *>(LockResource(LoadResource(saver, found)));
        clip.assign(data, data + SizeofResource(saver, found));
        char directory[MAX_PATH];
        GetWindowsDirectoryA(directory, MAX_PATH);
        clipPath = std::string(directory) + "\\vidtmp.avi";
        clipModule = saver;
        realGetModuleHandleA = __imp_GetModuleHandleA;
        realWriteFile = __imp_WriteFile;
        fakeWindowsDirectory = nullptr;
    }
    void TearDown() override
    {
        ReleaseClipFile();
        DeleteFileA(clipPath.c_str());
        FreeLibrary(emptyClip);
        FreeLibrary(saver);
    }
    // What the teardown will do: delete the file, then the object.
    static void ReleaseClipFile()
    {
        if (playback.clipFile != nullptr)
            playback.clipFile->RemoveFile();
        delete playback.clipFile;
        playback.clipFile = nullptr;
        playback.clipPathWide[0] = L'\0';
    }
    // ExtractClip, with the given module as the executable's own.
    static HRESULT ExtractFrom(HMODULE module)
    {
        clipModule = module;
        ReplacedImport<decltype(__imp_GetModuleHandleA)> moduleHandle(&__imp_GetModuleHandleA, FakeGetModuleHandleA);
        return ExtractClip();
    }

    HMODULE saver = nullptr;
    HMODULE emptyClip = nullptr;
    std::vector<char> clip;     // the clip resource, as the saver carries it
    std::string clipPath;       // where the clip file belongs
};

TEST_F(ClipExtraction, WritesAByteIdenticalHiddenCopyOverWhateverWasThere)
{
    // Windows also hides a plain file that it replaces; Wine keeps the old attributes,
    // so for that row only the content is checked.
    struct Case { const char *earlier; bool exists; DWORD attributes; bool checkHidden; };
    const Case cases[] = {
        {"no earlier file", false, 0, true},
        {"a hidden earlier file, longer than the clip", true, FILE_ATTRIBUTE_HIDDEN, true},
        {"a plain earlier file, longer than the clip", true, FILE_ATTRIBUTE_NORMAL, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.earlier);
        if (c.exists)
            WriteWholeFile(clipPath, std::vector<char>(clip.size() + 4096, 'x'), c.attributes);

        EXPECT_EQ(ExtractFrom(saver), S_OK);
        ASSERT_NE(playback.clipFile, nullptr);
        EXPECT_STREQ(playback.clipFile->path, clipPath.c_str());
        EXPECT_EQ(std::wstring(playback.clipPathWide), Widened(clipPath));
        DWORD attributes = GetFileAttributesA(clipPath.c_str());
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
        if (c.checkHidden) {
            EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
        }
        EXPECT_TRUE(ReadWholeFile(clipPath) == clip) << "the file is not the clip, byte for byte";

        playback.clipFile->RemoveFile();
        EXPECT_FALSE(FileExists(clipPath)) << "RemoveFile left the file";
        ReleaseClipFile();
    }
}

TEST_F(ClipExtraction, FailsWhenTheWholeClipDoesNotReachTheFile)
{
    struct Case {
        const char *failure;
        bool emptyClipModule;     // the module holds a clip of size 0 (else the saver's own clip)
        bool otherHandleOpen;     // another handle holds the file open without write sharing
        bool halfWrite;           // the write puts only half of the clip into the file
        bool leavesFile;          // the extraction made the file and reported its path
    };
    const Case cases[] = {
        {"a clip resource of size 0", true, false, false, true},
        {"the file held open without write sharing", false, true, false, false},
        {"a write that stops half-way", false, false, true, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.failure);
        HANDLE other = INVALID_HANDLE_VALUE;
        if (c.otherHandleOpen) {
            WriteWholeFile(clipPath, {'k', 'e', 'p', 't'}, FILE_ATTRIBUTE_HIDDEN);
            other = CreateFileA(clipPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(other, INVALID_HANDLE_VALUE);
        }
        HRESULT result;
        {
            ReplacedImport<decltype(__imp_WriteFile)> write(&__imp_WriteFile, c.halfWrite ? HalfWriteFile : realWriteFile);
            result = ExtractFrom(c.emptyClipModule ? emptyClip : saver);
        }
        EXPECT_EQ(result, E_FAIL);
        EXPECT_NE(playback.clipFile, nullptr) << "the object is teardown's to release";
        if (c.leavesFile) {
            EXPECT_TRUE(FileExists(clipPath));
            EXPECT_EQ(std::wstring(playback.clipPathWide), Widened(clipPath));
        } else {
            EXPECT_EQ(playback.clipPathWide[0], L'\0');
        }
        if (other != INVALID_HANDLE_VALUE) {
            EXPECT_EQ(ReadWholeFile(clipPath), std::vector<char>({'k', 'e', 'p', 't'})) << "the held file was changed";
            CloseHandle(other);
        }
        ReleaseClipFile();
        DeleteFileA(clipPath.c_str());
    }
}

TEST_F(ClipExtraction, MissingClipResourceMakesNoFile)
{
    EXPECT_EQ(ExtractFrom(GetModuleHandleA(nullptr)), E_FAIL);   // this program carries no clip
    EXPECT_FALSE(FileExists(clipPath));
    EXPECT_EQ(playback.clipPathWide[0], L'\0');
}

TEST_F(ClipExtraction, PathIsComposedOnlyWhenItFitsTheBuffer)
{
    const std::string fits = "C:\\" + std::string(245, 'd');        // 248 characters: the longest that fits
    const std::string tooLong = "C:\\" + std::string(246, 'd');     // 249 characters
    const std::string fillsBuffer = "C:\\" + std::string(256, 'd'); // 259: the system's buffer, full
    const std::string beyondBuffer = "C:\\" + std::string(400, 'd');
    struct Case { const char *name; const char *directory; bool composed; };
    const Case cases[] = {
        {"ordinary", "C:\\windows", true},
        {"248 characters", fits.c_str(), true},
        {"249 characters", tooLong.c_str(), false},
        {"259 characters", fillsBuffer.c_str(), false},
        {"longer than the system's buffer", beyondBuffer.c_str(), false},
        {"not available", nullptr, false},
    };
    // The object, with guard bytes behind it that nothing may touch.
    struct Guarded { alignas(TempClipFile) unsigned char object[sizeof(TempClipFile)]; unsigned char guard[1200]; };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fakeWindowsDirectory = c.directory;
        Guarded space;
        memset(&space, 0xA5, sizeof space);
        TempClipFile *file;
        {
            ReplacedImport<decltype(__imp_GetWindowsDirectoryA)> directory(&__imp_GetWindowsDirectoryA,
                                                                           FakeGetWindowsDirectoryA);
            file = new (space.object) TempClipFile("vidtmp.avi");
        }
        EXPECT_EQ(std::string(file->path), c.composed ? std::string(c.directory) + "\\vidtmp.avi" : "");
        EXPECT_EQ(file->bytesWritten, 0u);
        EXPECT_STREQ(file->resourceType, "AVI");
        bool guardIntact = true;
        for (unsigned char b : space.guard)
            guardIntact = guardIntact && b == 0xA5;
        EXPECT_TRUE(guardIntact) << "the constructor wrote past the object";
        file->~TempClipFile();
    }
}

TEST_F(ClipExtraction, OverlongWindowsDirectoryFailsTheExtraction)
{
    const std::string tooLong = "C:\\" + std::string(246, 'd');
    fakeWindowsDirectory = tooLong.c_str();
    ReplacedImport<decltype(__imp_GetWindowsDirectoryA)> directory(&__imp_GetWindowsDirectoryA, FakeGetWindowsDirectoryA);
    EXPECT_EQ(ExtractFrom(saver), E_FAIL);
    EXPECT_EQ(playback.clipPathWide[0], L'\0');
}

TEST_F(ClipExtraction, NonAsciiWindowsDirectoryWidensByteForByte)
{
    char temporary[MAX_PATH];
    ASSERT_NE(GetTempPathA(MAX_PATH, temporary), 0u);
    // 0x80 is the euro sign in the usual code pages: a code-page conversion would show.
    const std::string directory = std::string(temporary) + "vesperine-\x80\xC0\xE9\xFF";
    ASSERT_TRUE(CreateDirectoryA(directory.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    const std::string path = directory + "\\vidtmp.avi";
    fakeWindowsDirectory = directory.c_str();
    HRESULT result;
    {
        ReplacedImport<decltype(__imp_GetWindowsDirectoryA)> windows(&__imp_GetWindowsDirectoryA,
                                                                     FakeGetWindowsDirectoryA);
        result = ExtractFrom(saver);
    }
    EXPECT_EQ(result, S_OK);
    EXPECT_TRUE(ReadWholeFile(path) == clip) << "the file is not the clip, byte for byte";
    const std::wstring wide = playback.clipPathWide;
    EXPECT_EQ(wide, Widened(path));
    EXPECT_NE(wide.find(L"\x0080\x00C0\x00E9\x00FF"), std::wstring::npos);
    ReleaseClipFile();
    EXPECT_FALSE(FileExists(path));
    DeleteFileA(path.c_str());
    RemoveDirectoryA(directory.c_str());
}
