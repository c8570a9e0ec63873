// The playback graph on Wine's real DirectShow, in this process: the committed clip,
// or the clip the saver extracts, played by the VMR-9 (completed by the test-only
// completion layer where Wine's lacks a feature) into a window of this test.
#include <windows.h>
#include <dshow.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include "support/replaced_import.h"
#include "support/test_paths.h"
#include "support/saver_process.h"

#include "caption/caption_state.h"
#include "host/host_state.h"
#include "playback/clip_file.h"
#include "playback/clip_window.h"
#include "playback/playback_events.h"
#include "playback/playback_graph.h"
#include "playback/playback_state.h"

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

extern "C" {
extern UINT_PTR(WINAPI *__imp_SetTimer)(HWND, UINT_PTR, UINT, TIMERPROC);
extern int(WINAPI *__imp_MessageBoxA)(HWND, LPCSTR, LPCSTR, UINT);
extern HMODULE(WINAPI *__imp_GetModuleHandleA)(LPCSTR);
}

// Caption starts, counted by the one SetTimer call of each; no real timer is made.
static int captionStarts;
static UINT_PTR WINAPI CountSetTimer(HWND, UINT_PTR id, UINT, TIMERPROC)
{
    ++captionStarts;
    return id == 0 ? 1 : id;
}

struct ShownBox {
    std::string text;
    bool playbackHeld;   // a graph or the clip file was still held when the box came up
};
static std::vector<ShownBox> boxes;
static int WINAPI RecordMessageBox(HWND, LPCSTR text, LPCSTR, UINT)
{
    boxes.push_back({text ? text : "(null)", playback.graphBuilder != nullptr || playback.clipFile != nullptr});
    return IDOK;
}

// The built saver, loaded as data, stands for this program's own module, which
// carries no clip.
static HMODULE saverModule;
static HMODULE(WINAPI *const realGetModuleHandleA)(LPCSTR) = __imp_GetModuleHandleA;
static HMODULE WINAPI SaverAsOwnModule(LPCSTR name)
{
    return name == nullptr ? saverModule : realGetModuleHandleA(name);
}

// The saver window's graph messages and paints go to the saver's procedure; nothing
// else does, so that no closing rule ends a test.
static LRESULT CALLBACK VideoWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PAINT || message == WM_GRAPHEVENT)
        return ClipWindowProc(window, message, wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

static HWND CreateVideoWindow(int width, int height)
{
    static const ATOM windowClass = [] {
        WNDCLASSA description = {};
        description.lpfnWndProc = VideoWindowProc;
        description.hInstance = GetModuleHandleW(nullptr);
        description.lpszClassName = "PlaybackGraphTest";
        return RegisterClassA(&description);
    }();
    (void)windowClass;
    return CreateWindowExA(0, "PlaybackGraphTest", "video", WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr,
                           nullptr, GetModuleHandleW(nullptr), nullptr);
}

static void PumpMessagesUntil(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < milliseconds) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(10);
    }
}

static std::string WindowsDirectoryFile(const char *name)
{
    char directory[MAX_PATH];
    GetWindowsDirectoryA(directory, MAX_PATH);
    return std::string(directory) + "\\" + name;
}

static bool FileExists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

static COLORREF PixelOf(HWND window, POINT point)
{
    HDC dc = GetDC(window);
    COLORREF colour = GetPixel(dc, point.x, point.y);
    ReleaseDC(window, dc);
    return colour;
}

static std::string RectText(const RECT &r)
{
    std::ostringstream text;
    text << "(" << r.left << "," << r.top << "," << r.right << "," << r.bottom << ")";
    return text.str();
}

static int FilterCount(IGraphBuilder *graph)
{
    ComPtr<IEnumFilters> filters;
    if (FAILED(graph->EnumFilters(&filters)))
        return -1;
    int count = 0;
    ComPtr<IBaseFilter> filter;
    while (filters->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK)
        ++count;
    return count;
}

class PlaybackGraph : public testing::Test {
protected:
    void SetUp() override
    {
        playback = PlaybackState{};
        caption = CaptionState{};
        host = SaverHostState{};
        captionStarts = 0;
        boxes.clear();
        std::string committed = CLIP_PATH;
        std::wstring wide(committed.begin(), committed.end());
        wcscpy(playback.clipPathWide, wide.c_str());
    }
    void TearDown() override
    {
        ReleasePlayback();
        if (window != nullptr)
            DestroyWindow(window);
        MSG quit;
        PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
        if (!layerOn)
            UseCompletionLayer(true);
    }
    // A fresh window of this client size (any earlier one destroyed) and the graph on it.
    HRESULT BuildOn(int width, int height)
    {
        if (window != nullptr)
            DestroyWindow(window);
        window = CreateVideoWindow(width, height);
        if (window == nullptr)
            return E_UNEXPECTED;
        return BuildPlaybackGraph(window);
    }
    void TurnLayerOff()
    {
        ASSERT_TRUE(UseCompletionLayer(false));
        layerOn = false;
    }

    HWND window = nullptr;
    bool layerOn = true;
};

TEST_F(PlaybackGraph, VideoIsCentredAtNativeSizeOrFillsASmallerWindow)
{
    struct Case { int width, height; RECT destination; };
    const Case cases[] = {
        {1280, 1024, {128, 128, 1152, 896}},
        {1024, 768, {0, 0, 1024, 768}},     // exactly the clip: still the centring branch
        {800, 600, {0, 0, 800, 600}},       // smaller: scaled down to the whole window
        {1280, 720, {0, 0, 1280, 720}},     // one short side is enough
        {1279, 1024, {127, 128, 1151, 896}},// odd width: 639 - 512, width kept
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        HRESULT built = BuildOn(c.width, c.height);
        RECT client;
        GetClientRect(window, &client);
        if (client.right != c.width || client.bottom != c.height) {
            ADD_FAILURE() << "the window got " << RectText(client) << "; row not checked";
            ReleasePlayback();
            continue;
        }
        ASSERT_GE(built, 0) << std::hex << built;
        EXPECT_EQ(RectText(playback.nativeVideoRect), RectText({0, 0, 1024, 768}));
        RECT source = {}, destination = {};
        ASSERT_EQ(playback.windowlessControl->GetVideoPosition(&source, &destination), S_OK);
        EXPECT_EQ(RectText(source), RectText({0, 0, 1024, 768}));
        EXPECT_EQ(RectText(destination), RectText(c.destination));
        ReleasePlayback();
    }
}

TEST_F(PlaybackGraph, BuiltGraphHoldsEveryInterfacePointFilteringAndTheCaptionFont)
{
    // What Wine's renderer starts with, from one made here; the mixer and its control
    // come with the renderer's streams.
    DWORD wineDefault = 0;
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    HRESULT readDefault = [&] {
        ComPtr<IBaseFilter> fresh;
        HRESULT hr = CoCreateInstance(CLSID_VideoMixingRenderer9, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&fresh));
        ComPtr<IVMRFilterConfig9> config;
        if (SUCCEEDED(hr))
            hr = fresh.As(&config);
        if (SUCCEEDED(hr))
            hr = config->SetRenderingMode(VMR9Mode_Windowless);
        if (SUCCEEDED(hr))
            hr = config->SetNumberOfStreams(1);
        ComPtr<IVMRMixerControl9> mixer;
        if (SUCCEEDED(hr))
            hr = fresh.As(&mixer);
        if (SUCCEEDED(hr))
            hr = mixer->GetMixingPrefs(&wineDefault);
        return hr;
    }();
    CoUninitialize();
    ASSERT_EQ(readDefault, S_OK);
    EXPECT_TRUE(wineDefault & MixerPref9_BiLinearFiltering) << std::hex << wineDefault;

    HRESULT built = BuildOn(1280, 1024);
    EXPECT_TRUE(built == S_OK || built == S_FALSE) << std::hex << built;

    EXPECT_NE(playback.graphBuilder, nullptr);
    EXPECT_NE(playback.renderer, nullptr);
    EXPECT_NE(playback.mediaControl, nullptr);
    EXPECT_NE(playback.mediaEvent, nullptr);
    EXPECT_NE(playback.mediaSeeking, nullptr);
    EXPECT_NE(playback.windowlessControl, nullptr);
    EXPECT_NE(playback.mixerBitmap, nullptr);
    ASSERT_NE(playback.renderer, nullptr);

    ComPtr<IVMRMixerControl9> mixerControl;
    ASSERT_EQ(playback.renderer->QueryInterface(IID_PPV_ARGS(&mixerControl)), S_OK);
    DWORD preferences = 0;
    ASSERT_EQ(mixerControl->GetMixingPrefs(&preferences), S_OK);
    EXPECT_EQ(preferences, (wineDefault & ~DWORD(MixerPref9_BiLinearFiltering)) | MixerPref9_PointFiltering)
        << std::hex << "Wine's default 0x" << wineDefault << ", read back 0x" << preferences;

    ASSERT_NE(playback.captionFont, nullptr);
    LOGFONTA font = {};
    ASSERT_EQ(GetObjectA(playback.captionFont, sizeof font, &font), int(sizeof font));
    EXPECT_STREQ(font.lfFaceName, "Arial");
    EXPECT_EQ(font.lfWeight, FW_BOLD);
    EXPECT_EQ(font.lfItalic, 0);
    EXPECT_EQ(font.lfUnderline, 0);
    EXPECT_EQ(font.lfStrikeOut, 0);
    HDC dc = GetDC(window);
    EXPECT_EQ(font.lfHeight, -MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72));
    ReleaseDC(window, dc);

    // The graph was set running.
    OAFilterState state = State_Stopped;
    playback.mediaControl->GetState(2000, &state);
    EXPECT_EQ(state, State_Running);
}

TEST_F(PlaybackGraph, ConnectedRendererHasNoFreePinAndNullArgumentsAreRefused)
{
    ASSERT_GE(BuildOn(800, 600), 0);
    ComPtr<IPin> pin;
    EXPECT_EQ(FindUnconnectedPin(playback.renderer, PINDIR_INPUT, &pin), E_FAIL);
    EXPECT_EQ(pin, nullptr);
    EXPECT_EQ(FindUnconnectedPin(playback.renderer, PINDIR_OUTPUT, &pin), E_FAIL);
    EXPECT_EQ(FindUnconnectedPin(playback.renderer, PINDIR_INPUT, nullptr), E_POINTER);

    const int filters = FilterCount(playback.graphBuilder);
    EXPECT_EQ(AddWindowlessRenderer(window, nullptr), E_POINTER);
    EXPECT_EQ(FilterCount(playback.graphBuilder), filters) << "a renderer was added all the same";
}

// WM_PAINT in full screen with the renderer in place: the paint goes through the
// renderer and the window is validated. (Wine's RepaintVideo draws nothing, so the
// redrawn frame itself cannot be seen here.)
TEST_F(PlaybackGraph, FullScreenPaintWithTheRendererValidates)
{
    ASSERT_GE(BuildOn(1280, 1024), 0);
    PumpMessagesUntil(300);
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);   // WM_PAINT, through the saver's procedure
    EXPECT_FALSE(GetUpdateRect(window, nullptr, FALSE)) << "the window was not validated";
    OAFilterState state = State_Stopped;
    playback.mediaControl->GetState(1000, &state);
    EXPECT_EQ(state, State_Running);
}

// Needs no renderer: a source filter on its own, and a render without a path.
TEST_F(PlaybackGraph, FreshSourceOffersItsOutputAndAMissingPathRendersNothing)
{
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    {
        ComPtr<IGraphBuilder> graph;
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph)), S_OK);
        ComPtr<IBaseFilter> source;
        ASSERT_EQ(graph->AddSourceFilter(playback.clipPathWide, L"SOURCE", &source), S_OK);
        ComPtr<IPin> pin;
        ASSERT_EQ(FindUnconnectedPin(source.Get(), PINDIR_OUTPUT, &pin), S_OK);
        ASSERT_NE(pin, nullptr);
        PIN_DIRECTION direction = PINDIR_INPUT;
        EXPECT_EQ(pin->QueryDirection(&direction), S_OK);
        EXPECT_EQ(direction, PINDIR_OUTPUT);
        ComPtr<IPin> peer;
        EXPECT_TRUE(FAILED(pin->ConnectedTo(&peer)));
        EXPECT_EQ(FindUnconnectedPin(source.Get(), PINDIR_INPUT, &pin), E_FAIL);

        ComPtr<IGraphBuilder> empty;
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&empty)), S_OK);
        EXPECT_EQ(RenderClipFile(empty.Get(), nullptr), E_FAIL);
        EXPECT_EQ(FilterCount(empty.Get()), 0) << "a filter was added for no file";
    }
    CoUninitialize();
}

TEST_F(PlaybackGraph, WithoutTheLayerTheBorderColourRefusalIsPassedUpAndReleased)
{
    TurnLayerOff();
    EXPECT_EQ(BuildOn(1024, 768), E_NOTIMPL);
    EXPECT_EQ(playback.renderer, nullptr) << "the renderer is stored only once configured";
    ASSERT_NE(playback.windowlessControl, nullptr);
    ASSERT_NE(playback.graphBuilder, nullptr);

    // Our own references, to see that the teardown gave up all of its.
    IGraphBuilder *graph = playback.graphBuilder;
    IVMRWindowlessControl9 *renderer = playback.windowlessControl;
    graph->AddRef();
    renderer->AddRef();
    ReleasePlayback();
    EXPECT_EQ(playback.graphBuilder, nullptr);
    EXPECT_EQ(playback.windowlessControl, nullptr);
    EXPECT_EQ(graph->Release(), 0u) << "the graph is still held";
    EXPECT_EQ(renderer->Release(), 0u) << "the renderer is still held";
}

TEST_F(PlaybackGraph, TeardownAfterACompleteRunLeavesNothingHeld)
{
    std::string log = std::string(TEST_WORK_DIR) + "\\playback-teardown-mixer.log";
    CreateDirectoryA(TEST_WORK_DIR, nullptr);
    DeleteFileA(log.c_str());
    SetEnvironmentVariableA("VESPERINE_MIXER_LOG", log.c_str());

    ASSERT_GE(BuildOn(1024, 768), 0);
    PumpMessagesUntil(500);   // a few frames, a few events
    IGraphBuilder *graph = playback.graphBuilder;
    IBaseFilter *renderer = playback.renderer;
    graph->AddRef();
    renderer->AddRef();
    ReleasePlayback();
    EXPECT_EQ(graph->Release(), 0u) << "the graph is still held";
    EXPECT_EQ(renderer->Release(), 0u) << "the renderer is still held";
    SetEnvironmentVariableA("VESPERINE_MIXER_LOG", nullptr);

    std::ifstream lines(log);
    std::string line;
    bool created = false, destroyed = false;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string tick, call;
        fields >> tick >> call;
        created = created || call == "Create";
        destroyed = destroyed || (created && call == "Destroy");
    }
    EXPECT_TRUE(created) << log;
    EXPECT_TRUE(destroyed) << "the layer's object outlived the teardown; " << log;
}

// The saver's window procedure on a real graph: the full-screen start and the end.
class SaverStart : public PlaybackGraph {
protected:
    void SetUp() override
    {
        PlaybackGraph::SetUp();
        playback.clipPathWide[0] = L'\0';   // the extraction fills it
        saverModule = LoadLibraryExA(VESPERINE_SCR_PATH, nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(saverModule, nullptr) << VESPERINE_SCR_PATH;
        clipPath = WindowsDirectoryFile("vidtmp.avi");
        DeleteFileA(clipPath.c_str());
    }
    void TearDown() override
    {
        PlaybackGraph::TearDown();
        FreeLibrary(saverModule);
    }
    // WM_CREATE of the full-screen saver window, on a window of this size.
    LRESULT Create(int width, int height)
    {
        window = CreateVideoWindow(width, height);
        return ClipWindowProc(window, WM_CREATE, 0, 0);
    }
    bool TakeQuitMessage()
    {
        MSG quit;
        return PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
    }

    std::string clipPath;
    ReplacedImport<decltype(__imp_GetModuleHandleA)> module{&__imp_GetModuleHandleA, SaverAsOwnModule};
    ReplacedImport<decltype(__imp_SetTimer)> setTimer{&__imp_SetTimer, CountSetTimer};
    ReplacedImport<decltype(__imp_MessageBoxA)> messageBox{&__imp_MessageBoxA, RecordMessageBox};
};

TEST_F(SaverStart, FailedGraphReleasesThenShowsOnlyTheDirectXBoxAndStartsNoCaption)
{
    TurnLayerOff();
    EXPECT_EQ(Create(1024, 768), 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, kDirectXFailure);
    EXPECT_FALSE(boxes[0].playbackHeld) << "the box came before the release";
    EXPECT_EQ(captionStarts, 0);
    EXPECT_TRUE(TakeQuitMessage());
    EXPECT_EQ(playback.graphBuilder, nullptr);
    EXPECT_EQ(playback.windowlessControl, nullptr);
    EXPECT_FALSE(FileExists(clipPath));
}

// One whole loop of the clip (about 13.2 s): its end rewinds the running graph and
// starts the second caption; the window's end leaves no clip file behind. (Wine's
// graph reports the end as its position from the first end on, so the restart is
// seen in the picture: two seconds in, the second loop shows what the first did.)
TEST_F(SaverStart, ClipLoopsWithoutStoppingAndTheEndLeavesNothing)
{
    EXPECT_EQ(Create(1024, 768), 0);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(captionStarts, 1);
    ASSERT_NE(playback.mediaControl, nullptr);
    EXPECT_TRUE(FileExists(clipPath));

    const POINT sample = {512, 300};
    PumpMessagesUntil(2000);
    const COLORREF early = PixelOf(window, sample);
    PumpMessagesUntil(10500);
    const COLORREF nearTheEnd = PixelOf(window, sample);
    EXPECT_NE(nearTheEnd, early) << "the sample does not tell the clip's start from its end";
    DWORD start = GetTickCount();
    while (captionStarts < 2 && GetTickCount() - start < 5000)
        PumpMessagesUntil(20);
    EXPECT_EQ(captionStarts, 2) << "one caption per end of the clip";
    PumpMessagesUntil(2000);
    EXPECT_EQ(PixelOf(window, sample), early) << "the clip did not start over";
    OAFilterState state = State_Stopped;
    playback.mediaControl->GetState(1000, &state);
    EXPECT_EQ(state, State_Running);
    EXPECT_TRUE(boxes.empty());

    EXPECT_EQ(ClipWindowProc(window, WM_DESTROY, 0, 0), 0);
    EXPECT_TRUE(TakeQuitMessage());
    EXPECT_EQ(playback.graphBuilder, nullptr);
    EXPECT_EQ(playback.clipFile, nullptr);
    EXPECT_FALSE(FileExists(clipPath));
}
