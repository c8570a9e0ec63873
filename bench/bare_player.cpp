// The bare player the benchmark measures the saver against: the committed clip read in
// place and played, looped, full screen through the VMR-9 in windowless mode, with the
// same graph calls as the saver and nothing else: no extraction, no caption, no
// closing rules, no password. A key press or WM_CLOSE ends it.
//
//   bare_player.exe CLIP_PATH
#include <windows.h>

#include <d3d9.h>
#include <control.h>
#include <evcode.h>
#include <strmif.h>
#include <uuids.h>
#include <vmr9.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

static const UINT WM_GRAPHEVENT = WM_USER + 13;

struct BarePlayer {
    ComPtr<IGraphBuilder> graph;                    // the filter graph manager
    ComPtr<IVMRWindowlessControl9> windowless;      // the renderer's windowless control
    ComPtr<IMediaControl> control;                  // runs the graph
    ComPtr<IMediaEventEx> events;                   // the graph's event queue
    ComPtr<IMediaSeeking> seeking;                  // rewinds the clip
    WCHAR clipPath[MAX_PATH] = {};                  // the clip, read in place
};

static BarePlayer player;

static HRESULT AddRenderer(HWND window)
{
    ComPtr<IBaseFilter> renderer;
    HRESULT hr = CoCreateInstance(CLSID_VideoMixingRenderer9, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                  IID_PPV_ARGS(&renderer));
    if (FAILED(hr))
        return hr;
    hr = player.graph->AddFilter(renderer.Get(), L"Video Mixing Renderer 9");
    if (FAILED(hr))
        return hr;
    ComPtr<IVMRFilterConfig9> config;
    hr = renderer.As(&config);
    if (FAILED(hr))
        return hr;
    hr = config->SetRenderingMode(VMR9Mode_Windowless);
    if (FAILED(hr))
        return hr;
    hr = renderer.As(&player.windowless);
    if (FAILED(hr))
        return hr;
    hr = player.windowless->SetVideoClippingWindow(window);
    if (FAILED(hr))
        return hr;
    hr = player.windowless->SetBorderColor(RGB(0, 0, 0));
    if (FAILED(hr))
        return hr;
    ComPtr<IVMRMixerControl9> mixer;   // point filtering, as the saver asks for
    DWORD preferences = 0;
    if (SUCCEEDED(renderer.As(&mixer)) && SUCCEEDED(mixer->GetMixingPrefs(&preferences)))
        mixer->SetMixingPrefs((preferences & ~DWORD(MixerPref9_BiLinearFiltering)) | MixerPref9_PointFiltering);
    return S_OK;
}

static HRESULT FindFreeOutput(IBaseFilter *filter, IPin **pin)
{
    ComPtr<IEnumPins> pins;
    HRESULT hr = filter->EnumPins(&pins);
    if (FAILED(hr))
        return hr;
    ComPtr<IPin> candidate;
    while (pins->Next(1, candidate.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION direction;
        ComPtr<IPin> peer;
        if (SUCCEEDED(candidate->QueryDirection(&direction)) && direction == PINDIR_OUTPUT &&
            FAILED(candidate->ConnectedTo(&peer))) {
            *pin = candidate.Detach();
            return S_OK;
        }
    }
    return E_FAIL;
}

static HRESULT StartPlayer(HWND window)
{
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&player.graph));
    if (FAILED(hr))
        return hr;
    hr = AddRenderer(window);
    if (FAILED(hr))
        return hr;
    ComPtr<IBaseFilter> source;
    hr = player.graph->AddSourceFilter(player.clipPath, L"SOURCE", &source);
    if (FAILED(hr))
        return hr;
    ComPtr<IPin> output;
    hr = FindFreeOutput(source.Get(), &output);
    if (FAILED(hr))
        return hr;
    ComPtr<IFilterGraph2> graph2;
    hr = player.graph.As(&graph2);
    if (FAILED(hr))
        return hr;
    hr = graph2->RenderEx(output.Get(), AM_RENDEREX_RENDERTOEXISTINGRENDERERS, nullptr);
    if (FAILED(hr))
        return hr;
    hr = player.graph.As(&player.control);
    if (FAILED(hr))
        return hr;
    hr = player.graph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void **>(player.events.GetAddressOf()));
    if (FAILED(hr))
        return hr;
    hr = player.graph.As(&player.seeking);
    if (FAILED(hr))
        return hr;
    hr = player.events->SetNotifyWindow(reinterpret_cast<OAHWND>(window), WM_GRAPHEVENT, 0);
    if (FAILED(hr))
        return hr;

    // The saver's placement: centred at native size, or the whole window when smaller.
    RECT client = {};
    GetClientRect(window, &client);
    LONG videoWidth = 0, videoHeight = 0;
    hr = player.windowless->GetNativeVideoSize(&videoWidth, &videoHeight, nullptr, nullptr);
    if (FAILED(hr))
        return hr;
    RECT sourceRect = {0, 0, videoWidth, videoHeight}, destination;
    const LONG width = client.right, height = client.bottom;
    if (width < videoWidth || height < videoHeight)
        SetRect(&destination, 0, 0, width, height);
    else
        SetRect(&destination, width / 2 - videoWidth / 2, height / 2 - videoHeight / 2, width / 2 + videoWidth / 2,
                height / 2 + videoHeight / 2);
    hr = player.windowless->SetVideoPosition(&sourceRect, &destination);
    if (FAILED(hr))
        return hr;
    return player.control->Run();
}

static void RewindAtEnd()
{
    long code;
    LONG_PTR first, second;
    while (player.events != nullptr && SUCCEEDED(player.events->GetEvent(&code, &first, &second, 0))) {
        player.events->FreeEventParams(code, first, second);
        if (code != EC_COMPLETE)
            continue;
        LONGLONG start = 0;
        if (FAILED(player.seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr,
                                                AM_SEEKING_NoPositioning))) {
            player.control->StopWhenReady();
            player.control->Run();
        }
    }
}

static LRESULT CALLBACK BareWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        if (FAILED(StartPlayer(window)))
            PostQuitMessage(1);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        if (player.windowless != nullptr)
            player.windowless->RepaintVideo(window, dc);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_GRAPHEVENT:
        RewindAtEnd();
        return 0;
    case WM_KEYDOWN:
        PostMessageA(window, WM_CLOSE, 0, 0);
        return 0;
    case WM_DESTROY:
        if (player.events != nullptr)
            player.events->SetNotifyWindow(0, 0, 0);
        player = BarePlayer();   // released while running: the last reference stops the graph
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int)
{
    if (MultiByteToWideChar(CP_ACP, 0, arguments, -1, player.clipPath, MAX_PATH) == 0 || arguments[0] == '\0')
        return 2;
    if (FAILED(CoInitialize(nullptr)))
        return 1;

    WNDCLASSA windowClass = {};
    windowClass.style = CS_OWNDC | CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = BareWindowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = "VesperineBarePlayer";
    if (!RegisterClassA(&windowClass))
        return 1;
    const int x = GetSystemMetrics(SM_XVIRTUALSCREEN), y = GetSystemMetrics(SM_YVIRTUALSCREEN);
    HWND window = CreateWindowExA(WS_EX_TOPMOST, windowClass.lpszClassName, "Bare player",
                                  WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, x, y,
                                  GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN), nullptr,
                                  nullptr, instance, nullptr);
    if (window == nullptr)
        return 1;
    SetForegroundWindow(window);   // as the saver does, so that key presses come here

    MSG message = {};
    int exitCode = 0;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (message.message == WM_QUIT)
        exitCode = static_cast<int>(message.wParam);
    player = BarePlayer();
    CoUninitialize();
    return exitCode;
}
