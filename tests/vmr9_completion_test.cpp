// The VMR-9 completion layer (tools/vmr9_completion), in this process under Wine: the
// renderer that CoCreateInstance gives is Wine's own aggregated by the layer, with the
// border colour and the mixer bitmap answered by the layer, one identity for every
// interface, and a log of what the layer was handed. Switching the registration off
// gives Wine's own renderer back; a whole graph plays the shipped clip through the layer.
#include <windows.h>
#include <dshow.h>
#include <d3d9.h>
#include <vmr9.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include "support/test_paths.h"
#include "support/saver_process.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

class Vmr9Completion : public testing::Test {
protected:
    void SetUp() override
    {
        CreateDirectoryA(TEST_WORK_DIR, nullptr);
        logPath = std::string(TEST_WORK_DIR) + "\\mixer-" +
                  testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
        DeleteFileA(logPath.c_str());
        SetEnvironmentVariableA("VESPERINE_MIXER_LOG", logPath.c_str());
        ASSERT_TRUE(UseCompletionLayer(true));
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        window = CreateWindowExA(0, "STATIC", "video", WS_POPUP | WS_VISIBLE, 0, 0, 320, 240, nullptr, nullptr,
                                 nullptr, nullptr);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override
    {
        DestroyWindow(window);
        CoUninitialize();
        UseCompletionLayer(true);
    }

    // The registered VMR-9, put in windowless mode on the test's window.
    void CreateWindowlessRenderer(ComPtr<IBaseFilter> &filter, ComPtr<IVMRWindowlessControl9> &windowless)
    {
        ASSERT_EQ(CoCreateInstance(CLSID_VideoMixingRenderer9, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&filter)),
                  S_OK);
        ComPtr<IVMRFilterConfig9> config;
        ASSERT_EQ(filter.As(&config), S_OK);
        ASSERT_EQ(config->SetRenderingMode(VMR9Mode_Windowless), S_OK);
        ASSERT_EQ(filter.As(&windowless), S_OK);
        ASSERT_EQ(windowless->SetVideoClippingWindow(window), S_OK);
    }

    // The log's lines for one call, each without its time and call name.
    std::vector<std::string> Logged(const std::string &call) const
    {
        std::vector<std::string> found;
        std::ifstream log(logPath);
        std::string line;
        while (std::getline(log, line)) {
            std::istringstream fields(line);
            std::string time, name, rest;
            fields >> time >> name;
            std::getline(fields >> std::ws, rest);
            if (name == call)
                found.push_back(rest);
        }
        return found;
    }

    std::string logPath;
    HWND window = nullptr;
};

TEST_F(Vmr9Completion, WindowlessSetupGoesToWineAndTheBorderColourStaysInTheLayer)
{
    {
        ComPtr<IBaseFilter> filter;
        ComPtr<IVMRWindowlessControl9> windowless;
        CreateWindowlessRenderer(filter, windowless);
        if (HasFatalFailure())
            return;

        // Wine's own state answers through the layer's interface.
        RECT dest = {10, 20, 110, 95};
        ASSERT_EQ(windowless->SetVideoPosition(nullptr, &dest), S_OK);
        RECT source = {}, keptDest = {};
        ASSERT_EQ(windowless->GetVideoPosition(&source, &keptDest), S_OK);
        EXPECT_TRUE(EqualRect(&keptDest, &dest));

        COLORREF colour = 0xDEAD;
        ASSERT_EQ(windowless->GetBorderColor(&colour), S_OK);
        EXPECT_EQ(colour, 0u);
        ASSERT_EQ(windowless->SetBorderColor(RGB(1, 2, 3)), S_OK);
        ASSERT_EQ(windowless->GetBorderColor(&colour), S_OK);
        EXPECT_EQ(colour, RGB(1, 2, 3));
        EXPECT_EQ(windowless->GetBorderColor(nullptr), E_POINTER);
    }
    EXPECT_EQ(Logged("Create"), std::vector<std::string>{"hr=0x00000000"});
    EXPECT_EQ(Logged("SetBorderColor"), std::vector<std::string>{"0x030201 hr=0x00000000"});
    EXPECT_EQ(Logged("GetBorderColor"),
              (std::vector<std::string>{"0x000000 hr=0x00000000", "0x030201 hr=0x00000000", "null hr=0x80004003"}));
    EXPECT_EQ(Logged("Destroy").size(), 1u);
}

TEST_F(Vmr9Completion, EveryInterfaceHasTheOneIdentityAndOnlyTheLastReleaseDestroys)
{
    ComPtr<IBaseFilter> filter;
    ComPtr<IVMRWindowlessControl9> windowless;
    CreateWindowlessRenderer(filter, windowless);
    if (HasFatalFailure())
        return;
    ComPtr<IUnknown> identity;
    ASSERT_EQ(filter.As(&identity), S_OK);

    // Interfaces of Wine's object and of the layer's, each asked for from the filter.
    const IID kInterfaces[] = {IID_IBaseFilter,     IID_IMediaFilter,          IID_IPersist,
                               IID_IVMRFilterConfig9, IID_IVMRWindowlessControl9, IID_IVMRMixerBitmap9};
    std::vector<ComPtr<IUnknown>> held;
    for (size_t i = 0; i < sizeof kInterfaces / sizeof kInterfaces[0]; ++i) {
        SCOPED_TRACE("interface #" + std::to_string(i));
        ComPtr<IUnknown> asked;
        ASSERT_EQ(filter->QueryInterface(kInterfaces[i], reinterpret_cast<void **>(asked.GetAddressOf())), S_OK);
        ComPtr<IUnknown> itsIdentity;
        ASSERT_EQ(asked.As(&itsIdentity), S_OK);
        EXPECT_EQ(itsIdentity.Get(), identity.Get());
        // From Wine's interfaces too, the windowless control is the layer's.
        ComPtr<IVMRWindowlessControl9> control;
        ASSERT_EQ(asked.As(&control), S_OK);
        EXPECT_EQ(control.Get(), windowless.Get());
        held.push_back(asked);
    }
    ASSERT_EQ(windowless->SetBorderColor(RGB(9, 9, 9)), S_OK);

    filter.Reset();
    windowless.Reset();
    identity.Reset();
    ComPtr<IUnknown> last = held.back();
    held.clear();
    EXPECT_TRUE(Logged("Destroy").empty()) << "destroyed while a reference was held";
    last.Reset();
    EXPECT_EQ(Logged("Destroy").size(), 1u);
}

// The caption's kind of bitmap: '#' in the text colour, 'k' black, '.' white. Upside
// down it would read differently.
static const char *const kPicture[] = {
    "..#......",
    ".###....k",
    "..#..#...",
    ".....##..",
};
static const int kPictureWidth = 9;
static const int kPictureHeight = 4;
static const COLORREF kTextColour = RGB(0xAD, 0xD7, 0xFF);

static COLORREF PictureColour(char cell)
{
    return cell == '#' ? kTextColour : cell == 'k' ? RGB(0, 0, 0) : RGB(255, 255, 255);
}

// FNV-1a over the picture as 32-bit top-down DIB pixels (bytes blue, green, red, 0).
static std::string PictureChecksum()
{
    DWORD hash = 2166136261u;
    for (const char *row : kPicture)
        for (int x = 0; x < kPictureWidth; ++x) {
            COLORREF colour = PictureColour(row[x]);
            const BYTE bytes[] = {GetBValue(colour), GetGValue(colour), GetRValue(colour), 0};
            for (BYTE byte : bytes)
                hash = (hash ^ byte) * 16777619u;
        }
    char text[16];
    snprintf(text, sizeof text, "%08lX", hash);
    return text;
}

// A memory DC holding the picture in a bottom-up 24-bit bitmap, drawn pixel by pixel.
static HDC CreatePictureDc(HBITMAP &bitmap)
{
    BITMAPINFO format = {};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = kPictureWidth;
    format.bmiHeader.biHeight = kPictureHeight;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 24;
    void *bits = nullptr;
    bitmap = CreateDIBSection(nullptr, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC dc = CreateCompatibleDC(nullptr);
    SelectObject(dc, bitmap);
    for (int y = 0; y < kPictureHeight; ++y)
        for (int x = 0; x < kPictureWidth; ++x)
            SetPixel(dc, x, y, PictureColour(kPicture[y][x]));
    return dc;
}

TEST_F(Vmr9Completion, MixerKeepsACopyOfTheBitmapAfterTheCallersDcIsGone)
{
    ComPtr<IBaseFilter> filter;
    ComPtr<IVMRWindowlessControl9> windowless;
    CreateWindowlessRenderer(filter, windowless);
    if (HasFatalFailure())
        return;
    ComPtr<IVMRMixerBitmap9> mixer;
    ASSERT_EQ(filter.As(&mixer), S_OK);

    HBITMAP bitmap = nullptr;
    HDC dc = CreatePictureDc(bitmap);
    VMR9AlphaBitmap given = {};
    given.dwFlags = VMR9AlphaBitmap_hDC | VMR9AlphaBitmap_SrcColorKey | VMR9AlphaBitmap_FilterMode;
    given.hdc = dc;
    given.rSrc = {0, 0, kPictureWidth, kPictureHeight};
    given.rDest = {0.125f, 0.75f, 0.875f, 0.9375f};
    given.fAlpha = 0.5f;
    given.clrSrcKey = RGB(255, 255, 255);
    given.dwFilterMode = MixerPref9_PointFiltering;
    ASSERT_EQ(mixer->SetAlphaBitmap(&given), S_OK);
    DeleteDC(dc);
    DeleteObject(bitmap);

    VMR9AlphaBitmap kept = {};
    ASSERT_EQ(mixer->GetAlphaBitmapParameters(&kept), S_OK);
    EXPECT_EQ(kept.dwFlags, given.dwFlags);
    EXPECT_TRUE(EqualRect(&kept.rSrc, &given.rSrc));
    EXPECT_EQ(memcmp(&kept.rDest, &given.rDest, sizeof kept.rDest), 0);
    EXPECT_EQ(kept.fAlpha, 0.5f);
    EXPECT_EQ(kept.clrSrcKey, given.clrSrcKey);
    EXPECT_EQ(kept.dwFilterMode, given.dwFilterMode);

    std::vector<std::string> set = Logged("SetAlphaBitmap");
    ASSERT_EQ(set.size(), 1u);
    EXPECT_EQ(set[0], "flags=42 hdc=1 src=0,0,9,4 dest=0.125000,0.750000,0.875000,0.937500 alpha=0.5 key=0xFFFFFF "
                      "filter=32 bitmap=9x4 checksum=" + PictureChecksum() + " textPixels=8 otherPixels=1 hr=0x00000000");

    // The fade changes the opacity; the picture and the settings not flagged stay.
    VMR9AlphaBitmap fade = given;
    fade.dwFlags = VMR9AlphaBitmap_hDC;
    fade.fAlpha = 0.25f;
    fade.clrSrcKey = RGB(1, 1, 1);
    ASSERT_EQ(mixer->UpdateAlphaBitmapParameters(&fade), S_OK);
    ASSERT_EQ(mixer->GetAlphaBitmapParameters(&kept), S_OK);
    EXPECT_EQ(kept.fAlpha, 0.25f);
    EXPECT_EQ(kept.clrSrcKey, given.clrSrcKey);
    EXPECT_EQ(kept.dwFlags, DWORD(VMR9AlphaBitmap_hDC));
    EXPECT_EQ(Logged("UpdateAlphaBitmapParameters"), std::vector<std::string>{"alpha=0.25 flags=2 hr=0x00000000"});
    EXPECT_EQ(Logged("GetAlphaBitmapParameters").size(), 2u);
}

TEST_F(Vmr9Completion, MixerRefusesRecordsWithoutAnImageAndChangesNothingBeforeOne)
{
    ComPtr<IBaseFilter> filter;
    ComPtr<IVMRWindowlessControl9> windowless;
    CreateWindowlessRenderer(filter, windowless);
    if (HasFatalFailure())
        return;
    ComPtr<IVMRMixerBitmap9> mixer;
    ASSERT_EQ(filter.As(&mixer), S_OK);

    VMR9AlphaBitmap record = {};
    record.fAlpha = 1.0f;
    EXPECT_EQ(mixer->UpdateAlphaBitmapParameters(&record), E_UNEXPECTED);
    EXPECT_EQ(mixer->SetAlphaBitmap(nullptr), E_POINTER);
    EXPECT_EQ(mixer->UpdateAlphaBitmapParameters(nullptr), E_POINTER);
    EXPECT_EQ(mixer->GetAlphaBitmapParameters(nullptr), E_POINTER);

    struct NoImageCase { const char *name; DWORD flags; };
    const NoImageCase kNoImage[] = {
        {"no flags, no surface", 0},
        {"DC flag, null DC", VMR9AlphaBitmap_hDC},
        {"disabled, no surface", VMR9AlphaBitmap_Disable},
        {"whole surface, no surface", VMR9AlphaBitmap_EntireDDS},
    };
    for (const NoImageCase &row : kNoImage) {
        SCOPED_TRACE(row.name);
        record.dwFlags = row.flags;
        EXPECT_EQ(mixer->SetAlphaBitmap(&record), E_INVALIDARG);
    }
    VMR9AlphaBitmap kept = {};
    EXPECT_EQ(mixer->GetAlphaBitmapParameters(&kept), E_UNEXPECTED);
    EXPECT_EQ(Logged("SetAlphaBitmap").size(), 1 + sizeof kNoImage / sizeof kNoImage[0]);
}

TEST_F(Vmr9Completion, WithTheLayerOffTheRendererIsWinesOwnAndOnBringsTheLayerBack)
{
    for (bool on : {false, true}) {
        SCOPED_TRACE(on ? "layer on" : "layer off");
        ASSERT_TRUE(UseCompletionLayer(on));
        ComPtr<IBaseFilter> filter;
        ComPtr<IVMRWindowlessControl9> windowless;
        CreateWindowlessRenderer(filter, windowless);
        if (HasFatalFailure())
            return;
        EXPECT_EQ(windowless->SetBorderColor(0), on ? S_OK : E_NOTIMPL);
        ComPtr<IVMRMixerBitmap9> mixer;
        if (filter.As(&mixer) == S_OK) {
            VMR9AlphaBitmap record = {};
            EXPECT_EQ(mixer->GetAlphaBitmapParameters(&record), on ? E_UNEXPECTED : E_NOTIMPL);
        } else {
            EXPECT_FALSE(on) << "the layer always has a mixer bitmap";
        }
        EXPECT_EQ(Logged("Create").size(), on ? 1u : 0u);
    }
}

// The first output pin of a filter.
static ComPtr<IPin> OutputPin(IBaseFilter *filter)
{
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(&pins)))
        return nullptr;
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION direction;
        if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_OUTPUT)
            return pin;
    }
    return nullptr;
}

TEST_F(Vmr9Completion, WinesGraphRunsTheClipThroughTheLayer)
{
    {
        ComPtr<IGraphBuilder> graph;
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph)), S_OK);
        ComPtr<IBaseFilter> renderer;
        ComPtr<IVMRWindowlessControl9> windowless;
        CreateWindowlessRenderer(renderer, windowless);
        if (HasFatalFailure())
            return;
        ASSERT_EQ(graph->AddFilter(renderer.Get(), L"Video Mixing Renderer 9"), S_OK);
        ASSERT_EQ(windowless->SetBorderColor(0), S_OK);

        std::string clip = CLIP_PATH;
        ComPtr<IBaseFilter> source;
        ASSERT_EQ(graph->AddSourceFilter(std::wstring(clip.begin(), clip.end()).c_str(), L"clip", &source), S_OK);
        ComPtr<IPin> output = OutputPin(source.Get());
        ASSERT_NE(output, nullptr);
        ComPtr<IFilterGraph2> graph2;
        ASSERT_EQ(graph.As(&graph2), S_OK);
        ASSERT_GE(graph2->RenderEx(output.Get(), AM_RENDEREX_RENDERTOEXISTINGRENDERERS, nullptr), 0);

        LONG width = 0, height = 0;
        ASSERT_EQ(windowless->GetNativeVideoSize(&width, &height, nullptr, nullptr), S_OK);
        EXPECT_EQ(width, 1024);
        EXPECT_EQ(height, 768);
        RECT client = {};
        GetClientRect(window, &client);
        ASSERT_EQ(windowless->SetVideoPosition(nullptr, &client), S_OK);

        ComPtr<IMediaControl> control;
        ASSERT_EQ(graph.As(&control), S_OK);
        ASSERT_GE(control->Run(), 0);
        PumpMessagesFor(500);
        OAFilterState state = State_Stopped;
        EXPECT_EQ(control->GetState(5000, &state), S_OK);
        EXPECT_EQ(state, State_Running);

        // A caption handed over while the clip plays.
        HBITMAP bitmap = nullptr;
        HDC dc = CreatePictureDc(bitmap);
        VMR9AlphaBitmap caption = {};
        caption.dwFlags = VMR9AlphaBitmap_hDC;
        caption.hdc = dc;
        caption.rSrc = {0, 0, kPictureWidth, kPictureHeight};
        caption.rDest = {0.0f, 0.0f, 1.0f, 1.0f};
        caption.fAlpha = 1.0f;
        ComPtr<IVMRMixerBitmap9> mixer;
        ASSERT_EQ(renderer.As(&mixer), S_OK);
        EXPECT_EQ(mixer->SetAlphaBitmap(&caption), S_OK);
        DeleteDC(dc);
        DeleteObject(bitmap);
        EXPECT_GE(control->Stop(), 0);
    }
    EXPECT_EQ(Logged("Create").size(), 1u);
    EXPECT_EQ(Logged("Destroy").size(), 1u) << "the graph still holds the renderer";
}
