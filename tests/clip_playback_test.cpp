// The clip that the saver carries plays in the platform's real DirectShow graph:
// taken byte for byte from the shipped file's resource, it renders, runs and
// completes after about 13.2 seconds.
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include "support/test_paths.h"

#include <string>

#include "resources/resource_ids.h"

using Microsoft::WRL::ComPtr;

static std::string WriteClipFromResource(const char *saver, const std::string &path)
{
    HMODULE image = LoadLibraryExA(saver, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (image == nullptr)
        return "cannot read the saver";
    HRSRC found = FindResourceA(image, MAKEINTRESOURCEA(IDR_CLIP), "AVI");
    if (found == nullptr)
        return "no clip resource";
    DWORD size = SizeofResource(image, found);
    const void *bytes = LockResource(LoadResource(image, found));
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    BOOL ok = file != INVALID_HANDLE_VALUE && WriteFile(file, bytes, size, &written, nullptr) && written == size;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    FreeLibrary(image);
    return ok ? "" : "cannot write the clip";
}

TEST(ClipPlayback, EmbeddedClipPlaysToTheEndInAboutThirteenSeconds)
{
    CreateDirectoryA(TEST_WORK_DIR, nullptr);
    std::string path = std::string(TEST_WORK_DIR) + "\\clip-from-resource.avi";
    ASSERT_EQ(WriteClipFromResource(SHIPPED_SCR_PATH, path), "");

    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    {
        ComPtr<IGraphBuilder> graph;
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph)), S_OK);
        std::wstring widePath(path.begin(), path.end());
        ASSERT_GE(graph->RenderFile(widePath.c_str(), nullptr), 0);

        ComPtr<IMediaSeeking> seeking;
        ASSERT_EQ(graph.As(&seeking), S_OK);
        LONGLONG duration = 0;
        ASSERT_EQ(seeking->GetDuration(&duration), S_OK);   // 100 ns units
        EXPECT_NEAR(duration / 10000.0, 317 * 1000.0 / 24, 50);

        ComPtr<IMediaControl> control;
        ComPtr<IMediaEventEx> events;
        ASSERT_EQ(graph.As(&control), S_OK);
        // The headers give this interface no uuidof, so it is asked for by its identifier.
        ASSERT_EQ(graph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void **>(events.GetAddressOf())), S_OK);
        DWORD start = GetTickCount();
        ASSERT_GE(control->Run(), 0);
        long code = 0;
        HRESULT waited = events->WaitForCompletion(40000, &code);
        DWORD played = GetTickCount() - start;
        EXPECT_EQ(waited, S_OK);
        EXPECT_EQ(code, EC_COMPLETE);
        EXPECT_GT(played, 12000u);
        EXPECT_LT(played, 30000u);
        control->Stop();
    }
    CoUninitialize();
    DeleteFileA(path.c_str());
}
