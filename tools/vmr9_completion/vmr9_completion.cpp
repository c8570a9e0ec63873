// Completion layer for Wine's Video Mixing Renderer 9. It stands in for the platform in
// tests and local runs only; it is never linked into or shipped with the saver.
//
// Registered in a Wine prefix as the in-process server of CLSID_VideoMixingRenderer9,
// it makes one object that aggregates Wine's own VMR-9 (quartz.dll) and completes what
// Wine leaves out:
//   - IVMRWindowlessControl9::SetBorderColor / GetBorderColor (Wine: E_NOTIMPL)
//   - IVMRMixerBitmap9, every method (Wine: E_NOTIMPL)
// Everything else is Wine's own object, reached through the inner unknown.
//
// When the environment variable VESPERINE_MIXER_LOG names a file, every call the layer
// completes is appended to it as one line "<GetTickCount ms> <Call> <params> hr=0x...",
// so a test can see what the saver handed to the renderer.
#include <windows.h>

#include <d3d9.h>
#include <strmif.h>
#include <control.h>
#include <vmr9.h>
#include <uuids.h>

#include <cstdarg>
#include <cstdio>
#include <new>

static LONG liveObjects = 0;   // layer objects that exist, for DllCanUnloadNow
static LONG serverLocks = 0;   // IClassFactory::LockServer(TRUE) calls not yet undone

// ---------------------------------------------------------------------------------
// The log

// Appends one line to the file that VESPERINE_MIXER_LOG names, read at every call so a
// test can change it. The file is opened, appended to and closed for each line, so that
// readers see it at once and several processes can append in turn.
static void LogCall(const char *format, ...)
{
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("VESPERINE_MIXER_LOG", path, sizeof path);
    if (length == 0 || length >= sizeof path)
        return;
    char line[1024];
    int used = snprintf(line, sizeof line, "%lu ", GetTickCount());
    va_list args;
    va_start(args, format);
    int added = vsnprintf(line + used, sizeof line - used - 1, format, args);
    va_end(args);
    if (added < 0)
        return;
    used += added < int(sizeof line) - used - 1 ? added : int(sizeof line) - used - 2;
    line[used++] = '\n';
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line, DWORD(used), &written, nullptr);
    CloseHandle(file);
}

// ---------------------------------------------------------------------------------
// The object

struct CompletionRenderer;

// The layer's IVMRWindowlessControl9: Wine's, with the border colour kept here.
struct LayerWindowlessControl : IVMRWindowlessControl9 {
    CompletionRenderer *owner;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetNativeVideoSize(LONG *width, LONG *height, LONG *arWidth, LONG *arHeight) override;
    HRESULT STDMETHODCALLTYPE GetMinIdealVideoSize(LONG *width, LONG *height) override;
    HRESULT STDMETHODCALLTYPE GetMaxIdealVideoSize(LONG *width, LONG *height) override;
    HRESULT STDMETHODCALLTYPE SetVideoPosition(const RECT *source, const RECT *dest) override;
    HRESULT STDMETHODCALLTYPE GetVideoPosition(RECT *source, RECT *dest) override;
    HRESULT STDMETHODCALLTYPE GetAspectRatioMode(DWORD *mode) override;
    HRESULT STDMETHODCALLTYPE SetAspectRatioMode(DWORD mode) override;
    HRESULT STDMETHODCALLTYPE SetVideoClippingWindow(HWND window) override;
    HRESULT STDMETHODCALLTYPE RepaintVideo(HWND window, HDC dc) override;
    HRESULT STDMETHODCALLTYPE DisplayModeChanged() override;
    HRESULT STDMETHODCALLTYPE GetCurrentImage(BYTE **dib) override;
    HRESULT STDMETHODCALLTYPE SetBorderColor(COLORREF color) override;
    HRESULT STDMETHODCALLTYPE GetBorderColor(COLORREF *color) override;
};

// The layer's IVMRMixerBitmap9: keeps the bitmap and its parameters.
struct LayerMixerBitmap : IVMRMixerBitmap9 {
    CompletionRenderer *owner;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE SetAlphaBitmap(const VMR9AlphaBitmap *bitmap) override;
    HRESULT STDMETHODCALLTYPE UpdateAlphaBitmapParameters(const VMR9AlphaBitmap *bitmap) override;
    HRESULT STDMETHODCALLTYPE GetAlphaBitmapParameters(VMR9AlphaBitmap *bitmap) override;
};

// The outer object: its own IUnknown is the identity of the whole renderer.
struct CompletionRenderer final : IUnknown {
    LONG references = 1;                                  // outer references; 1 while being made
    IUnknown *inner = nullptr;                            // Wine's VMR-9, its non-delegating unknown
    IVMRWindowlessControl9 *innerWindowless = nullptr;    // Wine's windowless control, once asked for; holds no outer reference
    LayerWindowlessControl windowless;                    // handed out for IVMRWindowlessControl9
    LayerMixerBitmap mixerBitmap;                         // handed out for IVMRMixerBitmap9
    CRITICAL_SECTION lock;                                // guards the fields below and innerWindowless
    COLORREF borderColor = 0;                             // what SetBorderColor stored
    bool haveBitmap = false;                              // SetAlphaBitmap has succeeded once
    VMR9AlphaBitmap bitmapParameters = {};                // the kept parameters
    IDirect3DSurface9 *bitmapSurface = nullptr;           // the kept surface, one reference; null for a DC's bitmap
    DWORD *bitmapPixels = nullptr;                        // the DC's bitmap copied as 32-bit top-down pixels (process heap)
    LONG bitmapWidth = 0;                                 // its size in pixels
    LONG bitmapHeight = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
};

static void DestroyRenderer(CompletionRenderer *renderer)
{
    // An aggregate being destroyed: the outer stays alive through whatever the inner
    // object's teardown does with it, so the count goes back up before anything else.
    renderer->references = 1;
    if (renderer->innerWindowless != nullptr) {
        renderer->AddRef();   // the Release below goes to this object
        renderer->innerWindowless->Release();
        renderer->innerWindowless = nullptr;
    }
    if (renderer->inner != nullptr) {
        renderer->inner->Release();
        renderer->inner = nullptr;
    }
    if (renderer->bitmapSurface != nullptr)
        renderer->bitmapSurface->Release();
    if (renderer->bitmapPixels != nullptr)
        HeapFree(GetProcessHeap(), 0, renderer->bitmapPixels);
    DeleteCriticalSection(&renderer->lock);
    delete renderer;
    LogCall("Destroy");
    InterlockedDecrement(&liveObjects);   // last: the DLL may be unloaded from here on
}

HRESULT STDMETHODCALLTYPE CompletionRenderer::QueryInterface(REFIID iid, void **object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
        *object = static_cast<IUnknown *>(this);
    } else if (IsEqualIID(iid, IID_IVMRWindowlessControl9)) {
        // Offered exactly when Wine offers its own (in windowless mode), since every
        // other method goes to Wine's.
        EnterCriticalSection(&lock);
        HRESULT hr = S_OK;
        if (innerWindowless == nullptr) {
            hr = inner->QueryInterface(IID_IVMRWindowlessControl9, reinterpret_cast<void **>(&innerWindowless));
            if (SUCCEEDED(hr))
                Release();   // the inner interface counts on this object; the layer keeps it without that reference
        }
        LeaveCriticalSection(&lock);
        if (FAILED(hr))
            return hr;
        *object = static_cast<IVMRWindowlessControl9 *>(&windowless);
    } else if (IsEqualIID(iid, IID_IVMRMixerBitmap9)) {
        *object = static_cast<IVMRMixerBitmap9 *>(&mixerBitmap);
    } else {
        return inner->QueryInterface(iid, object);
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE CompletionRenderer::AddRef()
{
    return ULONG(InterlockedIncrement(&references));
}

ULONG STDMETHODCALLTYPE CompletionRenderer::Release()
{
    LONG left = InterlockedDecrement(&references);
    if (left == 0)
        DestroyRenderer(this);
    return ULONG(left);
}

// ---------------------------------------------------------------------------------
// IVMRWindowlessControl9: every method is Wine's but the border colour.

HRESULT STDMETHODCALLTYPE LayerWindowlessControl::QueryInterface(REFIID iid, void **object)
{
    return owner->QueryInterface(iid, object);
}
ULONG STDMETHODCALLTYPE LayerWindowlessControl::AddRef() { return owner->AddRef(); }
ULONG STDMETHODCALLTYPE LayerWindowlessControl::Release() { return owner->Release(); }

HRESULT STDMETHODCALLTYPE LayerWindowlessControl::GetNativeVideoSize(LONG *width, LONG *height, LONG *arWidth,
                                                                     LONG *arHeight)
{
    return owner->innerWindowless->GetNativeVideoSize(width, height, arWidth, arHeight);
}
HRESULT STDMETHODCALLTYPE LayerWindowlessControl::GetMinIdealVideoSize(LONG *width, LONG *height)
{
    return owner->innerWindowless->GetMinIdealVideoSize(width, height);
}
HRESULT STDMETHODCALLTYPE LayerWindowlessControl::GetMaxIdealVideoSize(LONG *width, LONG *height)
{
    return owner->innerWindowless->GetMaxIdealVideoSize(width, height);
}
HRESULT STDMETHODCALLTYPE LayerWindowlessControl::SetVideoPosition(const RECT *source, const RECT *dest)
{
    return owner->innerWindowless->SetVideoPosition(source, dest);
}
HRESULT STDMETHODCALLTYPE LayerWindowlessControl::GetVideoPosition(RECT *source, RECT *dest)
{
    return owner->innerWindowless->GetVideoPosition(source, dest);
}
HRESULT STDMETHODCALLTYPE LayerWindowlessControl::GetAspectRatioMode(DWORD *mode)
{
    return owner->innerWindowless->GetAspectRatioMode(mode);
}
HRESULT STDMETHODCALLTYPE LayerWindowlessControl::SetAspectRatioMode(DWORD mode)
{
    return owner->innerWindowless->SetAspectRatioMode(mode);
}
HRESULT STDMETHODCALLTYPE LayerWindowlessControl::SetVideoClippingWindow(HWND window)
{
    return owner->innerWindowless->SetVideoClippingWindow(window);
}
// Differs in Wine: RepaintVideo draws the current frame over the whole window, not
// into the destination rectangle, and nothing paints the border (see SetBorderColor).
// The layer paints the border in its colour instead and leaves the frame to the next
// one the running graph presents.
HRESULT STDMETHODCALLTYPE LayerWindowlessControl::RepaintVideo(HWND window, HDC dc)
{
    RECT client, source, dest;
    if (window == nullptr || dc == nullptr || !GetClientRect(window, &client))
        return E_POINTER;
    HRESULT hr = owner->innerWindowless->GetVideoPosition(&source, &dest);
    if (FAILED(hr))
        return hr;
    HRGN border = CreateRectRgnIndirect(&client);
    HRGN video = CreateRectRgnIndirect(&dest);
    CombineRgn(border, border, video, RGN_DIFF);
    HBRUSH brush = CreateSolidBrush(owner->borderColor);
    FillRgn(dc, border, brush);
    DeleteObject(brush);
    DeleteObject(video);
    DeleteObject(border);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE LayerWindowlessControl::DisplayModeChanged()
{
    return owner->innerWindowless->DisplayModeChanged();
}
HRESULT STDMETHODCALLTYPE LayerWindowlessControl::GetCurrentImage(BYTE **dib)
{
    return owner->innerWindowless->GetCurrentImage(dib);   // Wine: E_NOTIMPL; the saver does not use it
}

// Missing in Wine: SetBorderColor. The colour is kept here; RepaintVideo paints the
// border with it.
HRESULT STDMETHODCALLTYPE LayerWindowlessControl::SetBorderColor(COLORREF color)
{
    EnterCriticalSection(&owner->lock);
    owner->borderColor = color;
    LeaveCriticalSection(&owner->lock);
    LogCall("SetBorderColor 0x%06lX hr=0x%08lX", color, S_OK);
    return S_OK;
}

// Missing in Wine: GetBorderColor. Answers what SetBorderColor kept, 0 at first.
HRESULT STDMETHODCALLTYPE LayerWindowlessControl::GetBorderColor(COLORREF *color)
{
    if (color == nullptr) {
        LogCall("GetBorderColor null hr=0x%08lX", E_POINTER);
        return E_POINTER;
    }
    EnterCriticalSection(&owner->lock);
    *color = owner->borderColor;
    LeaveCriticalSection(&owner->lock);
    LogCall("GetBorderColor 0x%06lX hr=0x%08lX", *color, S_OK);
    return S_OK;
}

// ---------------------------------------------------------------------------------
// IVMRMixerBitmap9, missing in Wine altogether. The layer keeps the bitmap and its
// parameters and logs them; it does not blend the bitmap into the video picture.

HRESULT STDMETHODCALLTYPE LayerMixerBitmap::QueryInterface(REFIID iid, void **object)
{
    return owner->QueryInterface(iid, object);
}
ULONG STDMETHODCALLTYPE LayerMixerBitmap::AddRef() { return owner->AddRef(); }
ULONG STDMETHODCALLTYPE LayerMixerBitmap::Release() { return owner->Release(); }

// A copy of the bitmap selected into `dc`, as 32-bit top-down pixels on the process
// heap, taken now: the caller may delete the DC and the bitmap once the call returns.
static HRESULT CopyBitmapOfDc(HDC dc, DWORD **pixels, LONG *width, LONG *height)
{
    HGDIOBJ selected = GetCurrentObject(dc, OBJ_BITMAP);
    BITMAP shape = {};
    if (selected == nullptr || GetObjectA(selected, sizeof shape, &shape) == 0)
        return E_INVALIDARG;
    if (shape.bmWidth <= 0 || shape.bmHeight <= 0 || shape.bmWidth > 16384 || shape.bmHeight > 16384)
        return E_INVALIDARG;
    BITMAPINFO format = {};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = shape.bmWidth;
    format.bmiHeader.biHeight = -shape.bmHeight;   // top-down
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    SIZE_T bytes = SIZE_T(shape.bmWidth) * SIZE_T(shape.bmHeight) * sizeof(DWORD);
    DWORD *copy = static_cast<DWORD *>(HeapAlloc(GetProcessHeap(), 0, bytes));
    if (copy == nullptr)
        return E_OUTOFMEMORY;
    if (GetDIBits(dc, static_cast<HBITMAP>(selected), 0, UINT(shape.bmHeight), copy, &format, DIB_RGB_COLORS) !=
        shape.bmHeight) {
        HeapFree(GetProcessHeap(), 0, copy);
        return E_FAIL;
    }
    *pixels = copy;
    *width = shape.bmWidth;
    *height = shape.bmHeight;
    return S_OK;
}

// What the log says about a copied bitmap: FNV-1a over the pixels with the unused
// fourth byte as 0, the pixels in the caption's text colour, and the pixels that are
// neither that colour nor white.
struct PixelSummary {
    DWORD checksum = 2166136261u;
    int textPixels = 0;
    int otherPixels = 0;
};

static PixelSummary SummarisePixels(const DWORD *pixels, LONG count)
{
    // A DIB pixel read as a DWORD is 0x00RRGGBB (bytes blue, green, red in memory);
    // the caption's COLORREF 0xFFD7AD is red 0xAD, green 0xD7, blue 0xFF.
    const DWORD textColour = (DWORD(GetRValue(0xFFD7AD)) << 16) | (DWORD(GetGValue(0xFFD7AD)) << 8) |
                             DWORD(GetBValue(0xFFD7AD));
    PixelSummary summary;
    for (LONG i = 0; i < count; ++i) {
        DWORD pixel = pixels[i] & 0x00FFFFFF;
        for (int shift = 0; shift < 32; shift += 8) {
            summary.checksum ^= (pixel >> shift) & 0xFF;
            summary.checksum *= 16777619u;
        }
        if (pixel == textColour)
            ++summary.textPixels;
        else if (pixel != 0x00FFFFFF)
            ++summary.otherPixels;
    }
    return summary;
}

static void LogSetAlphaBitmap(const VMR9AlphaBitmap &bitmap, LONG width, LONG height, const PixelSummary &summary,
                              HRESULT hr)
{
    LogCall("SetAlphaBitmap flags=%lu hdc=%d src=%ld,%ld,%ld,%ld dest=%.6f,%.6f,%.6f,%.6f alpha=%.9g key=0x%06lX "
            "filter=%lu bitmap=%ldx%ld checksum=%08lX textPixels=%d otherPixels=%d hr=0x%08lX",
            bitmap.dwFlags, bitmap.hdc != nullptr ? 1 : 0, bitmap.rSrc.left, bitmap.rSrc.top, bitmap.rSrc.right,
            bitmap.rSrc.bottom, double(bitmap.rDest.left), double(bitmap.rDest.top), double(bitmap.rDest.right),
            double(bitmap.rDest.bottom), double(bitmap.fAlpha), bitmap.clrSrcKey, bitmap.dwFilterMode, width,
            height, summary.checksum, summary.textPixels, summary.otherPixels, hr);
}

HRESULT STDMETHODCALLTYPE LayerMixerBitmap::SetAlphaBitmap(const VMR9AlphaBitmap *bitmap)
{
    if (bitmap == nullptr) {
        LogCall("SetAlphaBitmap null hr=0x%08lX", E_POINTER);
        return E_POINTER;
    }
    // The image comes from exactly one place: a DC (flag and handle) or a surface.
    bool fromDc = (bitmap->dwFlags & VMR9AlphaBitmap_hDC) != 0;
    HRESULT hr = S_OK;
    if (fromDc ? bitmap->hdc == nullptr || bitmap->pDDS != nullptr : bitmap->pDDS == nullptr)
        hr = E_INVALIDARG;
    DWORD *pixels = nullptr;
    LONG width = 0;
    LONG height = 0;
    if (SUCCEEDED(hr) && fromDc) {
        hr = CopyBitmapOfDc(bitmap->hdc, &pixels, &width, &height);
    } else if (SUCCEEDED(hr)) {
        D3DSURFACE_DESC description = {};
        hr = bitmap->pDDS->GetDesc(&description);
        width = LONG(description.Width);
        height = LONG(description.Height);
    }
    PixelSummary summary = SummarisePixels(pixels, pixels != nullptr ? width * height : 0);
    if (SUCCEEDED(hr)) {
        if (!fromDc)
            bitmap->pDDS->AddRef();   // the mixer goes on reading the surface
        EnterCriticalSection(&owner->lock);
        if (owner->bitmapSurface != nullptr)
            owner->bitmapSurface->Release();
        if (owner->bitmapPixels != nullptr)
            HeapFree(GetProcessHeap(), 0, owner->bitmapPixels);
        owner->haveBitmap = true;
        owner->bitmapParameters = *bitmap;
        owner->bitmapSurface = fromDc ? nullptr : bitmap->pDDS;
        owner->bitmapPixels = pixels;
        owner->bitmapWidth = width;
        owner->bitmapHeight = height;
        LeaveCriticalSection(&owner->lock);
    }
    LogSetAlphaBitmap(*bitmap, width, height, summary, hr);
    return hr;
}

HRESULT STDMETHODCALLTYPE LayerMixerBitmap::UpdateAlphaBitmapParameters(const VMR9AlphaBitmap *bitmap)
{
    if (bitmap == nullptr) {
        LogCall("UpdateAlphaBitmapParameters null hr=0x%08lX", E_POINTER);
        return E_POINTER;
    }
    // The image stays as SetAlphaBitmap gave it; opacity, destination and the flagged
    // settings change. With no image yet there is nothing to change.
    HRESULT hr = S_OK;
    EnterCriticalSection(&owner->lock);
    if (!owner->haveBitmap) {
        hr = E_UNEXPECTED;
    } else {
        VMR9AlphaBitmap &kept = owner->bitmapParameters;
        const DWORD imageFlags = VMR9AlphaBitmap_hDC | VMR9AlphaBitmap_EntireDDS;
        kept.dwFlags = (kept.dwFlags & imageFlags) | (bitmap->dwFlags & ~imageFlags);
        kept.fAlpha = bitmap->fAlpha;
        kept.rDest = bitmap->rDest;
        if (bitmap->dwFlags & VMR9AlphaBitmap_SrcColorKey)
            kept.clrSrcKey = bitmap->clrSrcKey;
        if (bitmap->dwFlags & VMR9AlphaBitmap_SrcRect)
            kept.rSrc = bitmap->rSrc;
        if (bitmap->dwFlags & VMR9AlphaBitmap_FilterMode)
            kept.dwFilterMode = bitmap->dwFilterMode;
    }
    LeaveCriticalSection(&owner->lock);
    LogCall("UpdateAlphaBitmapParameters alpha=%.9g flags=%lu hr=0x%08lX", double(bitmap->fAlpha), bitmap->dwFlags,
            hr);
    return hr;
}

HRESULT STDMETHODCALLTYPE LayerMixerBitmap::GetAlphaBitmapParameters(VMR9AlphaBitmap *bitmap)
{
    HRESULT hr = S_OK;
    if (bitmap == nullptr) {
        hr = E_POINTER;
    } else {
        EnterCriticalSection(&owner->lock);
        if (owner->haveBitmap)
            *bitmap = owner->bitmapParameters;   // the surface pointer comes without a reference of its own
        else
            hr = E_UNEXPECTED;
        LeaveCriticalSection(&owner->lock);
    }
    LogCall("GetAlphaBitmapParameters hr=0x%08lX", hr);
    return hr;
}

// ---------------------------------------------------------------------------------
// Creation: Wine's VMR-9 made with this object as its outer unknown

typedef HRESULT(WINAPI *GetClassObjectProc)(REFCLSID, REFIID, void **);

static HRESULT CreateRenderer(REFIID iid, void **object)
{
    // quartz.dll stays loaded for the life of the process: Wine's objects live in it.
    HMODULE quartz = LoadLibraryA("quartz.dll");
    void *entry = quartz != nullptr ? reinterpret_cast<void *>(GetProcAddress(quartz, "DllGetClassObject")) : nullptr;
    GetClassObjectProc getClassObject = reinterpret_cast<GetClassObjectProc>(entry);
    if (getClassObject == nullptr)
        return HRESULT_FROM_WIN32(GetLastError());
    IClassFactory *wineFactory = nullptr;
    HRESULT hr = getClassObject(CLSID_VideoMixingRenderer9, IID_IClassFactory, reinterpret_cast<void **>(&wineFactory));
    if (FAILED(hr))
        return hr;

    CompletionRenderer *renderer = new (std::nothrow) CompletionRenderer;   // one reference, held across the inner's creation
    if (renderer == nullptr) {
        wineFactory->Release();
        return E_OUTOFMEMORY;
    }
    renderer->windowless.owner = renderer;
    renderer->mixerBitmap.owner = renderer;
    InitializeCriticalSection(&renderer->lock);
    InterlockedIncrement(&liveObjects);
    hr = wineFactory->CreateInstance(renderer, IID_IUnknown, reinterpret_cast<void **>(&renderer->inner));
    wineFactory->Release();
    LogCall("Create hr=0x%08lX", hr);
    if (SUCCEEDED(hr))
        hr = renderer->QueryInterface(iid, object);
    renderer->Release();   // the object now lives by the caller's reference, or ends here
    return hr;
}

// ---------------------------------------------------------------------------------
// The class factory and the DLL's entry points

struct LayerClassFactory : IClassFactory {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        if (object == nullptr)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory *>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }    // static object
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID iid, void **object) override
    {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;   // the layer is itself the aggregating object
        return CreateRenderer(iid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock)
            InterlockedIncrement(&serverLocks);
        else
            InterlockedDecrement(&serverLocks);
        return S_OK;
    }
};

static LayerClassFactory classFactory;

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void **object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_VideoMixingRenderer9))
        return CLASS_E_CLASSNOTAVAILABLE;
    return classFactory.QueryInterface(iid, object);
}

extern "C" HRESULT WINAPI DllCanUnloadNow()
{
    return liveObjects == 0 && serverLocks == 0 ? S_OK : S_FALSE;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(module);
    return TRUE;
}
