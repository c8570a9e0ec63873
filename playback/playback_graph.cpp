// The playback graph: the extracted clip read by a source filter the platform picks,
// decoded as needed and drawn by the VMR-9 in windowless mode straight into the saver
// window. Every step stops at the first failing call and hands its result up
// unchanged; nothing is undone here, because the caller's teardown copes with any
// partial state.
#include "playback/playback_graph.h"

#include "playback/ui_font.h"

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

static const WCHAR kRendererName[] = L"Video Mixing Renderer 9";
static const WCHAR kSourceName[] = L"SOURCE";
static const COLORREF kBorderColour = RGB(0, 0, 0);   // the window outside the video
static const char kCaptionFace[] = "Arial";
static const int kCaptionPoints = 8;

HRESULT BuildPlaybackGraph(HWND window)
{
    HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr))
        return hr;
    hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                          reinterpret_cast<void **>(&playback.graphBuilder));
    if (FAILED(hr))
        return hr;
    hr = AddWindowlessRenderer(window, &playback.renderer);
    if (FAILED(hr))
        return hr;
    hr = RenderClipFile(playback.graphBuilder, playback.clipPathWide);
    if (FAILED(hr))
        return hr;

    hr = playback.graphBuilder->QueryInterface(IID_IMediaControl, reinterpret_cast<void **>(&playback.mediaControl));
    if (FAILED(hr))
        return hr;
    hr = playback.graphBuilder->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void **>(&playback.mediaEvent));
    if (FAILED(hr))
        return hr;
    hr = playback.graphBuilder->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void **>(&playback.mediaSeeking));
    if (FAILED(hr))
        return hr;
    hr = playback.mediaEvent->SetNotifyWindow(reinterpret_cast<OAHWND>(window), WM_GRAPHEVENT, 0);
    if (FAILED(hr))
        return hr;

    RECT client = {};
    GetClientRect(window, &client);
    const LONG width = client.right;
    const LONG height = client.bottom;
    LONG videoWidth = 0;
    LONG videoHeight = 0;
    hr = playback.windowlessControl->GetNativeVideoSize(&videoWidth, &videoHeight, nullptr, nullptr);
    if (FAILED(hr))
        return hr;
    SetRect(&playback.nativeVideoRect, 0, 0, videoWidth, videoHeight);

    // A window smaller than the clip in either direction gets the whole client area,
    // and the renderer scales the video to it; otherwise the clip is centred at its
    // native size, each edge halved on its own.
    RECT destination;
    if (width < videoWidth || height < videoHeight)
        SetRect(&destination, 0, 0, width, height);
    else
        SetRect(&destination, width / 2 - videoWidth / 2, height / 2 - videoHeight / 2, width / 2 + videoWidth / 2,
                height / 2 + videoHeight / 2);
    hr = playback.windowlessControl->SetVideoPosition(&playback.nativeVideoRect, &destination);
    if (FAILED(hr))
        return hr;

    playback.captionFont = CreateUiFont(window, kCaptionFace, kCaptionPoints, true, false, false, false);
    if (playback.captionFont == nullptr)
        return E_FAIL;
    return playback.mediaControl->Run();
}

HRESULT AddWindowlessRenderer(HWND window, IBaseFilter **renderer)
{
    if (renderer == nullptr)
        return E_POINTER;
    *renderer = nullptr;

    ComPtr<IBaseFilter> filter;
    HRESULT hr = CoCreateInstance(CLSID_VideoMixingRenderer9, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                  IID_PPV_ARGS(&filter));
    if (FAILED(hr))
        return hr;
    hr = playback.graphBuilder->AddFilter(filter.Get(), kRendererName);
    if (FAILED(hr))
        return hr;

    {
        ComPtr<IVMRFilterConfig9> config;
        hr = filter.As(&config);
        if (FAILED(hr))
            return hr;
        hr = config->SetRenderingMode(VMR9Mode_Windowless);
        if (FAILED(hr))
            return hr;
    }

    hr = filter->QueryInterface(IID_PPV_ARGS(&playback.windowlessControl));
    if (FAILED(hr))
        return hr;
    hr = playback.windowlessControl->SetVideoClippingWindow(window);
    if (FAILED(hr))
        return hr;
    hr = playback.windowlessControl->SetBorderColor(kBorderColour);
    if (FAILED(hr))
        return hr;

    // Point filtering instead of bilinear; the renderer works either way, so nothing
    // here can fail the start.
    ComPtr<IVMRMixerControl9> mixerControl;
    if (SUCCEEDED(filter.As(&mixerControl))) {
        DWORD preferences = 0;
        if (SUCCEEDED(mixerControl->GetMixingPrefs(&preferences))) {
            preferences = (preferences & ~DWORD(MixerPref9_BiLinearFiltering)) | MixerPref9_PointFiltering;
            mixerControl->SetMixingPrefs(preferences);
        }
    }

    hr = filter->QueryInterface(IID_PPV_ARGS(&playback.mixerBitmap));
    if (FAILED(hr))
        return hr;
    *renderer = filter.Detach();
    return S_OK;
}

HRESULT RenderClipFile(IGraphBuilder *graph, const WCHAR *path)
{
    if (path == nullptr)
        return E_FAIL;

    ComPtr<IBaseFilter> source;
    HRESULT hr = graph->AddSourceFilter(path, kSourceName, &source);
    if (FAILED(hr))
        return hr;
    ComPtr<IPin> output;
    hr = FindUnconnectedPin(source.Get(), PINDIR_OUTPUT, &output);
    if (FAILED(hr))
        return hr;
    ComPtr<IFilterGraph2> graph2;
    hr = graph->QueryInterface(IID_PPV_ARGS(&graph2));
    if (FAILED(hr))
        return hr;
    // Only the renderers already in the graph, that is the VMR-9: no sound renderer
    // and no second video window is added.
    return graph2->RenderEx(output.Get(), AM_RENDEREX_RENDERTOEXISTINGRENDERERS, nullptr);
}

HRESULT FindUnconnectedPin(IBaseFilter *filter, PIN_DIRECTION direction, IPin **pin)
{
    if (pin == nullptr)
        return E_POINTER;
    *pin = nullptr;

    ComPtr<IEnumPins> pins;
    HRESULT hr = filter->EnumPins(&pins);
    if (FAILED(hr))
        return hr;
    ComPtr<IPin> candidate;
    while ((hr = pins->Next(1, candidate.ReleaseAndGetAddressOf(), nullptr)) == S_OK) {
        PIN_DIRECTION candidateDirection;
        if (FAILED(candidate->QueryDirection(&candidateDirection)) || candidateDirection != direction)
            continue;
        ComPtr<IPin> peer;
        if (FAILED(candidate->ConnectedTo(&peer))) {   // a free pin has no peer
            *pin = candidate.Detach();
            return S_OK;
        }
    }
    if (FAILED(hr))
        return hr;   // the enumeration broke off (the pins changed): not the same as no free pin
    return E_FAIL;
}
