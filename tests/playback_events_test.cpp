// The playback's event loop, its teardown, the saver's own window procedure and the
// preview picture, run in this process without a renderer: recording fakes stand in
// for the graph's interfaces, and this program's own import slots for the few system
// calls whose effect a test must see (the caption timer, the error box).
#include <windows.h>
#include <vfwmsgs.h>

#include <gtest/gtest.h>

#include "support/replaced_import.h"

#include "caption/caption_state.h"
#include "host/host_state.h"
#include "playback/clip_file.h"
#include "playback/clip_window.h"
#include "playback/playback_events.h"
#include "playback/playback_graph.h"
#include "playback/playback_state.h"
#include "resources/resource_ids.h"
#include "support/test_paths.h"

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <string>
#include <utility>
#include <vector>

// The import slots through which the code under test calls the system in this program.
extern "C" {
extern UINT_PTR(WINAPI *__imp_SetTimer)(HWND, UINT_PTR, UINT, TIMERPROC);
extern BOOL(WINAPI *__imp_KillTimer)(HWND, UINT_PTR);
extern int(WINAPI *__imp_MessageBoxA)(HWND, LPCSTR, LPCSTR, UINT);
extern HRESULT(WINAPI *__imp_CoCreateInstance)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID *);
extern HMODULE(WINAPI *__imp_GetModuleHandleA)(LPCSTR);
}

// ---------------------------------------------------------------------------------
// Every call that a fake or a replaced import receives, in order, as text.

static std::vector<std::string> calls;

static void Record(const std::string &call)
{
    calls.push_back(call);
}

static std::string Text(long long value)
{
    return std::to_string(value);
}

// The delete of one watched object, seen through this program's own operator delete.
static const void *watchedObject;
static bool watchedObjectDeleted;

void operator delete(void *object) noexcept
{
    if (object != nullptr && object == watchedObject)
        watchedObjectDeleted = true;
    std::free(object);
}

void operator delete(void *object, std::size_t) noexcept
{
    operator delete(object);
}

// ---------------------------------------------------------------------------------
// The graph's three interfaces that the event loop uses. Each records every call;
// no reference counting, the test owns them.

template <typename Interface>
struct Recorded : Interface {
    explicit Recorded(const char *name) : name(name) {}
    HRESULT Unexpected(const char *method)
    {
        Record(name + "." + method);
        return E_UNEXPECTED;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **object) override
    {
        *object = nullptr;
        return Unexpected("QueryInterface");
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        Record(name + ".AddRef");
        return 2;
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        Record(name + ".Release");
        return 1;
    }
    std::string name;
};

template <typename Interface>
struct RecordedDispatch : Recorded<Interface> {
    using Recorded<Interface>::Recorded;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *) override { return this->Unexpected("GetTypeInfoCount"); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return this->Unexpected("GetTypeInfo"); }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override
    {
        return this->Unexpected("GetIDsOfNames");
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS *, VARIANT *, EXCEPINFO *, UINT *) override
    {
        return this->Unexpected("Invoke");
    }
};

struct QueuedEvent {
    long code;
    LONG_PTR param1;
    LONG_PTR param2;
};

// The graph's event queue: GetEvent takes the next triple, or fails as the graph does
// when nothing waits.
struct FakeMediaEvent : RecordedDispatch<IMediaEventEx> {
    FakeMediaEvent() : RecordedDispatch("mediaEvent") {}
    std::deque<QueuedEvent> queue;

    HRESULT STDMETHODCALLTYPE GetEvent(long *code, LONG_PTR *param1, LONG_PTR *param2, long timeout) override
    {
        Record("mediaEvent.GetEvent wait " + Text(timeout));
        if (queue.empty())
            return E_ABORT;
        *code = queue.front().code;
        *param1 = queue.front().param1;
        *param2 = queue.front().param2;
        queue.pop_front();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FreeEventParams(long code, LONG_PTR param1, LONG_PTR param2) override
    {
        Record("mediaEvent.FreeEventParams " + Text(code) + " " + Text(param1) + " " + Text(param2));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetNotifyWindow(OAHWND window, long message, LONG_PTR instanceData) override
    {
        Record("mediaEvent.SetNotifyWindow " + Text(window) + " " + Text(message) + " " + Text(instanceData));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetEventHandle(OAEVENT *) override { return Unexpected("GetEventHandle"); }
    HRESULT STDMETHODCALLTYPE WaitForCompletion(long, long *) override { return Unexpected("WaitForCompletion"); }
    HRESULT STDMETHODCALLTYPE CancelDefaultHandling(long) override { return Unexpected("CancelDefaultHandling"); }
    HRESULT STDMETHODCALLTYPE RestoreDefaultHandling(long) override { return Unexpected("RestoreDefaultHandling"); }
    HRESULT STDMETHODCALLTYPE SetNotifyFlags(long) override { return Unexpected("SetNotifyFlags"); }
    HRESULT STDMETHODCALLTYPE GetNotifyFlags(long *) override { return Unexpected("GetNotifyFlags"); }
};

struct FakeMediaSeeking : Recorded<IMediaSeeking> {
    FakeMediaSeeking() : Recorded("mediaSeeking") {}
    HRESULT setPositionsResult = S_OK;

    HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG *current, DWORD currentFlags, LONGLONG *stop,
                                           DWORD stopFlags) override
    {
        Record("mediaSeeking.SetPositions " + (current ? Text(*current) : std::string("null")) + " " +
               Text(currentFlags) + " " + (stop ? Text(*stop) : std::string("null")) + " " + Text(stopFlags));
        return setPositionsResult;
    }
    HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD *) override { return Unexpected("GetCapabilities"); }
    HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD *) override { return Unexpected("CheckCapabilities"); }
    HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID *) override { return Unexpected("IsFormatSupported"); }
    HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID *) override { return Unexpected("QueryPreferredFormat"); }
    HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID *) override { return Unexpected("GetTimeFormat"); }
    HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID *) override { return Unexpected("IsUsingTimeFormat"); }
    HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID *) override { return Unexpected("SetTimeFormat"); }
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG *) override { return Unexpected("GetDuration"); }
    HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG *) override { return Unexpected("GetStopPosition"); }
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG *) override { return Unexpected("GetCurrentPosition"); }
    HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG *, const GUID *, LONGLONG, const GUID *) override
    {
        return Unexpected("ConvertTimeFormat");
    }
    HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG *, LONGLONG *) override { return Unexpected("GetPositions"); }
    HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG *, LONGLONG *) override { return Unexpected("GetAvailable"); }
    HRESULT STDMETHODCALLTYPE SetRate(double) override { return Unexpected("SetRate"); }
    HRESULT STDMETHODCALLTYPE GetRate(double *) override { return Unexpected("GetRate"); }
    HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG *) override { return Unexpected("GetPreroll"); }
};

struct FakeMediaControl : RecordedDispatch<IMediaControl> {
    FakeMediaControl() : RecordedDispatch("mediaControl") {}
    HRESULT result = S_OK;   // what StopWhenReady and Run answer

    HRESULT STDMETHODCALLTYPE StopWhenReady() override
    {
        Record("mediaControl.StopWhenReady");
        return result;
    }
    HRESULT STDMETHODCALLTYPE Run() override
    {
        Record("mediaControl.Run");
        return result;
    }
    HRESULT STDMETHODCALLTYPE Pause() override { return Unexpected("Pause"); }
    HRESULT STDMETHODCALLTYPE Stop() override { return Unexpected("Stop"); }
    HRESULT STDMETHODCALLTYPE GetState(LONG, OAFilterState *) override { return Unexpected("GetState"); }
    HRESULT STDMETHODCALLTYPE RenderFile(BSTR) override { return Unexpected("RenderFile"); }
    HRESULT STDMETHODCALLTYPE AddSourceFilter(BSTR, IDispatch **) override { return Unexpected("AddSourceFilter"); }
    HRESULT STDMETHODCALLTYPE get_FilterCollection(IDispatch **) override { return Unexpected("get_FilterCollection"); }
    HRESULT STDMETHODCALLTYPE get_RegFilterCollection(IDispatch **) override
    {
        return Unexpected("get_RegFilterCollection");
    }
};

// The caption's mixer: takes the caption's bitmap with `setResult`, so that a caption
// start succeeds, or fails as when the renderer refuses the caption.
struct AcceptingMixerBitmap : Recorded<IVMRMixerBitmap9> {
    AcceptingMixerBitmap() : Recorded("mixerBitmap") {}
    HRESULT setResult = S_OK;
    HRESULT STDMETHODCALLTYPE SetAlphaBitmap(const VMR9AlphaBitmap *) override { return setResult; }
    HRESULT STDMETHODCALLTYPE UpdateAlphaBitmapParameters(const VMR9AlphaBitmap *) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetAlphaBitmapParameters(VMR9AlphaBitmap *) override { return S_OK; }
};

// Stands for an interface of which only Release is expected, whatever its type: every
// other method of its table records itself as unexpected, by its slot number. (Every
// COM method takes the object first; the x86_64 convention lets a method that reads
// only that stand for any other.)
struct ReleaseOnly {
    const void *const *table;
    const char *name;
};

template <int Slot>
static HRESULT STDMETHODCALLTYPE UnexpectedSlot(ReleaseOnly *self)
{
    Record(std::string(self->name) + ".slot" + Text(Slot));
    return E_UNEXPECTED;
}

static ULONG STDMETHODCALLTYPE RecordRelease(ReleaseOnly *self)
{
    Record(std::string(self->name) + ".Release");
    return 1;
}

template <int... Slots>
static const void *const *ReleaseOnlyTable(std::integer_sequence<int, Slots...>)
{
    static const void *const table[] = {reinterpret_cast<const void *>(UnexpectedSlot<0>),
                                        reinterpret_cast<const void *>(UnexpectedSlot<1>),
                                        reinterpret_cast<const void *>(RecordRelease),
                                        reinterpret_cast<const void *>(UnexpectedSlot<Slots + 3>)...};
    return table;
}

// Wide enough for the largest interface it stands for (IVMRWindowlessControl9).
static const void *const *const kReleaseOnlyTable = ReleaseOnlyTable(std::make_integer_sequence<int, 40>());

template <typename Interface>
static Interface *AsInterface(ReleaseOnly &object)
{
    return reinterpret_cast<Interface *>(&object);
}

// ---------------------------------------------------------------------------------
// Replaced imports.

static HMODULE(WINAPI *const realGetModuleHandleA)(LPCSTR) = __imp_GetModuleHandleA;

// Counts caption starts: the caption's start calls SetTimer exactly once when it
// succeeds. No timer is made.
static UINT_PTR WINAPI RecordSetTimer(HWND, UINT_PTR id, UINT, TIMERPROC)
{
    Record("SetTimer");
    return id == 0 ? 1 : id;
}

static BOOL WINAPI RecordKillTimer(HWND, UINT_PTR id)
{
    Record("KillTimer " + Text(id));
    return TRUE;
}

struct ShownBox {
    HWND owner;
    std::string text;
    bool hasTitle;
    UINT flags;
    bool clipFileHeld;     // playback.clipFile was still set when the box came up
    bool quitPosted;       // the quit message was already queued then
};
static std::vector<ShownBox> boxes;
static int WINAPI RecordMessageBox(HWND owner, LPCSTR text, LPCSTR title, UINT flags)
{
    Record("MessageBoxA");
    MSG quit;
    boxes.push_back({owner, text ? text : "(null)", title != nullptr, flags, playback.clipFile != nullptr,
                     PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != FALSE});
    return IDOK;
}

static HRESULT WINAPI RecordCoCreateInstance(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID *object)
{
    Record("CoCreateInstance");
    *object = nullptr;
    return E_UNEXPECTED;
}

// Takes the quit message off this thread's queue; true when one was there.
static bool TakeQuitMessage()
{
    MSG quit;
    return PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
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

static bool PlaybackIsEmpty()
{
    return playback.graphBuilder == nullptr && playback.renderer == nullptr && playback.mediaControl == nullptr &&
           playback.mediaEvent == nullptr && playback.mediaSeeking == nullptr &&
           playback.windowlessControl == nullptr && playback.mixerBitmap == nullptr &&
           playback.captionFont == nullptr && playback.clipFile == nullptr && playback.clipPathWide[0] == L'\0';
}

// A window of this test whose paints go to the saver's window procedure.
static LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PAINT)
        return ClipWindowProc(window, message, wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

static HWND CreateTestWindow(int width, int height)
{
    static const ATOM windowClass = [] {
        WNDCLASSA description = {};
        description.lpfnWndProc = TestWindowProc;
        description.hInstance = GetModuleHandleW(nullptr);
        description.lpszClassName = "PlaybackEventsTest";
        return RegisterClassA(&description);
    }();
    (void)windowClass;
    return CreateWindowExA(WS_EX_TOPMOST, "PlaybackEventsTest", "playback", WS_POPUP | WS_VISIBLE, 0, 0, width,
                           height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

// The playback of a running saver, made of fakes, with the replaced imports in place.
class PlaybackFakes : public testing::Test {
protected:
    void SetUp() override
    {
        calls.clear();
        boxes.clear();
        host = SaverHostState{};
        caption = CaptionState{};
        playback = PlaybackState{};
        window = CreateTestWindow(64, 48);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override
    {
        if (playback.captionFont != nullptr)
            DeleteObject(playback.captionFont);
        playback = PlaybackState{};
        caption = CaptionState{};
        host = SaverHostState{};
        DestroyWindow(window);
        TakeQuitMessage();
    }
    // What a complete start leaves for the events: the graph's three interfaces, the
    // caption's mixer, font and clip size.
    void FillEventFields()
    {
        playback.mediaEvent = &events;
        playback.mediaSeeking = &seeking;
        playback.mediaControl = &control;
        playback.mixerBitmap = &mixer;
        playback.nativeVideoRect = {0, 0, 1024, 768};
        playback.captionFont = CreateFontA(-11, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Arial");
    }

    HWND window = nullptr;
    FakeMediaEvent events;
    FakeMediaSeeking seeking;
    FakeMediaControl control;
    AcceptingMixerBitmap mixer;
    ReplacedImport<decltype(__imp_SetTimer)> setTimer{&__imp_SetTimer, RecordSetTimer};
    ReplacedImport<decltype(__imp_MessageBoxA)> messageBox{&__imp_MessageBoxA, RecordMessageBox};
    ReplacedImport<decltype(__imp_CoCreateInstance)> coCreate{&__imp_CoCreateInstance, RecordCoCreateInstance};
};

// ---------------------------------------------------------------------------------
// The event loop.

using GraphEvents = PlaybackFakes;

TEST_F(GraphEvents, EachEndOfTheClipRewindsTheRunningGraphAndStartsOneCaption)
{
    const std::string next = "mediaEvent.GetEvent wait 0";
    const std::string rewind = "mediaSeeking.SetPositions 0 1 null 0";   // absolute, stop not changed
    const std::string startCaption = "SetTimer";
    auto freed = [](long code, LONG_PTR p1, LONG_PTR p2) {
        return "mediaEvent.FreeEventParams " + Text(code) + " " + Text(p1) + " " + Text(p2);
    };
    struct Case {
        const char *name;
        std::vector<QueuedEvent> queue;
        HRESULT rewindResult;
        HRESULT controlResult;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"an empty queue", {}, S_OK, S_OK, {next}},
        {"one end of the clip",
         {{EC_COMPLETE, 11, 12}},
         S_OK,
         S_OK,
         {next, freed(EC_COMPLETE, 11, 12), rewind, startCaption, next}},
        {"several events in one message",
         {{EC_PAUSED, 1, 2}, {EC_COMPLETE, 3, 4}, {0x55, 5, 6}, {EC_COMPLETE, 7, 8}},
         S_OK,
         S_OK,
         {next, freed(EC_PAUSED, 1, 2), next, freed(EC_COMPLETE, 3, 4), rewind, startCaption, next,
          freed(0x55, 5, 6), next, freed(EC_COMPLETE, 7, 8), rewind, startCaption, next}},
        {"other codes are only handed back",
         {{EC_USERABORT, 0, 0}, {EC_ERRORABORT, E_FAIL, 0}, {EC_REPAINT, 0, 0}, {-1, 9, 9}},
         S_OK,
         S_OK,
         {next, freed(EC_USERABORT, 0, 0), next, freed(EC_ERRORABORT, E_FAIL, 0), next, freed(EC_REPAINT, 0, 0),
          next, freed(-1, 9, 9), next}},
        {"a refused rewind restarts the graph the long way",
         {{EC_COMPLETE, 0, 0}},
         E_FAIL,
         S_OK,
         {next, freed(EC_COMPLETE, 0, 0), rewind, "mediaControl.StopWhenReady", "mediaControl.Run", startCaption,
          next}},
        {"a failed restart still starts the caption",
         {{EC_COMPLETE, 0, 0}, {EC_COMPLETE, 0, 0}},
         E_UNEXPECTED,
         E_FAIL,
         {next, freed(EC_COMPLETE, 0, 0), rewind, "mediaControl.StopWhenReady", "mediaControl.Run", startCaption,
          next, freed(EC_COMPLETE, 0, 0), rewind, "mediaControl.StopWhenReady", "mediaControl.Run", startCaption,
          next}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        calls.clear();
        FillEventFields();
        events.queue.assign(c.queue.begin(), c.queue.end());
        seeking.setPositionsResult = c.rewindResult;
        control.result = c.controlResult;

        EXPECT_EQ(ClipWindowProc(window, WM_GRAPHEVENT, 0, 0), 0);

        EXPECT_EQ(calls, c.expected);
        EXPECT_TRUE(events.queue.empty());
        EXPECT_TRUE(boxes.empty());
        DeleteObject(playback.captionFont);
        playback.captionFont = nullptr;
    }
}

TEST_F(GraphEvents, WithoutAnEventQueueNothingIsTouched)
{
    FillEventFields();
    playback.mediaEvent = nullptr;
    EXPECT_EQ(ClipWindowProc(window, WM_GRAPHEVENT, 0, 0), 0);
    HandleGraphEvents(window);
    EXPECT_TRUE(calls.empty());
}

// A caption that cannot be shown ends the playback inside its start, with the
// DirectX box; the loop must then leave the released graph alone, with the rest of
// the queue untaken.
TEST_F(GraphEvents, PlaybackEndedByTheCaptionStopsTheLoop)
{
    FillEventFields();
    events.queue = {{EC_COMPLETE, 0, 0}, {EC_COMPLETE, 0, 0}};
    mixer.setResult = E_FAIL;

    HandleGraphEvents(window);

    const std::vector<std::string> expected = {
        "mediaEvent.GetEvent wait 0", "mediaEvent.FreeEventParams 1 0 0", "mediaSeeking.SetPositions 0 1 null 0",
        // the teardown and the box, inside the caption's start
        "mediaEvent.SetNotifyWindow 0 0 0", "mediaEvent.Release", "mediaSeeking.Release", "mediaControl.Release",
        "mixerBitmap.Release", "MessageBoxA",
        // and nothing after them
    };
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(events.queue.size(), 1u);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, kDirectXFailure);
    EXPECT_TRUE(TakeQuitMessage());
    EXPECT_TRUE(PlaybackIsEmpty());
}

// ---------------------------------------------------------------------------------
// The search for a free pin, on a filter of fake pins that count their references.

template <typename Interface>
struct Counted : Interface {
    LONG references = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
};

struct FakePin : Counted<IPin> {
    PIN_DIRECTION direction = PINDIR_OUTPUT;
    FakePin *peer = nullptr;   // null: the pin is free

    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION *out) override
    {
        *out = direction;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin **out) override
    {
        *out = peer;
        if (peer == nullptr)
            return VFW_E_NOT_CONNECTED;
        peer->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Connect(IPin *, const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin *, const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Disconnect() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin **, ULONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return E_NOTIMPL; }
};

// Hands out the filter's pins one by one, each with a reference; after `failAfter`
// pins, Next fails with `failure` as an enumerator does when the filter changed.
struct FakeEnumPins : Counted<IEnumPins> {
    std::vector<FakePin *> pins;
    size_t next = 0;
    size_t failAfter = SIZE_MAX;
    HRESULT failure = S_OK;

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin **out, ULONG *fetched) override
    {
        if (count != 1)
            return E_INVALIDARG;
        if (next >= failAfter)
            return failure;
        if (next >= pins.size()) {
            *out = nullptr;
            if (fetched != nullptr)
                *fetched = 0;
            return S_FALSE;
        }
        *out = pins[next++];
        (*out)->AddRef();
        if (fetched != nullptr)
            *fetched = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins **) override { return E_NOTIMPL; }
};

struct FakeFilter : Counted<IBaseFilter> {
    FakeEnumPins enumerator;           // handed out once, with a reference
    HRESULT enumResult = S_OK;

    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins **out) override
    {
        *out = nullptr;
        if (FAILED(enumResult))
            return enumResult;
        enumerator.AddRef();
        *out = &enumerator;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stop() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Pause() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetState(DWORD, FILTER_STATE *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR, IPin **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph *, LPCWSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR *) override { return E_NOTIMPL; }
};

TEST(FreePin, FirstFreePinOfTheDirectionIsHandedOverAndNothingElseKept)
{
    struct PinSpec { PIN_DIRECTION direction; bool connected; };
    const std::vector<PinSpec> mixed = {
        {PINDIR_OUTPUT, true}, {PINDIR_INPUT, false}, {PINDIR_OUTPUT, false}, {PINDIR_OUTPUT, false}};
    struct Case {
        const char *name;
        std::vector<PinSpec> pins;
        PIN_DIRECTION asked;
        int found;   // index of the pin handed over; -1: none
    };
    const Case cases[] = {
        {"connected and input pins skipped", mixed, PINDIR_OUTPUT, 2},
        {"an input asked for", mixed, PINDIR_INPUT, 1},
        {"every pin of the direction connected", {{PINDIR_OUTPUT, true}, {PINDIR_INPUT, false}}, PINDIR_OUTPUT, -1},
        {"no pins at all", {}, PINDIR_OUTPUT, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakePin peer;
        std::vector<FakePin> pins(c.pins.size());
        FakeFilter filter;
        for (size_t i = 0; i < pins.size(); ++i) {
            pins[i].direction = c.pins[i].direction;
            pins[i].peer = c.pins[i].connected ? &peer : nullptr;
            filter.enumerator.pins.push_back(&pins[i]);
        }

        IPin *pin = reinterpret_cast<IPin *>(1);
        HRESULT result = FindUnconnectedPin(&filter, c.asked, &pin);

        if (c.found < 0) {
            EXPECT_EQ(result, E_FAIL);
            EXPECT_EQ(pin, nullptr);
        } else {
            EXPECT_EQ(result, S_OK);
            EXPECT_EQ(pin, &pins[c.found]);
        }
        for (size_t i = 0; i < pins.size(); ++i)
            EXPECT_EQ(pins[i].references, int(i) == c.found ? 2 : 1) << "pin " << i;
        EXPECT_EQ(peer.references, 1) << "a peer was kept";
        EXPECT_EQ(filter.enumerator.references, 1) << "the enumerator was kept";
    }
}

TEST(FreePin, EnumerationErrorsArePassedUpUnchanged)
{
    FakePin connected;
    connected.peer = &connected;
    struct Case { const char *name; HRESULT enumResult; size_t failAfter; HRESULT expected; };
    const Case cases[] = {
        {"the filter cannot enumerate", E_OUTOFMEMORY, SIZE_MAX, E_OUTOFMEMORY},
        {"the pins changed before the first", S_OK, 0, VFW_E_ENUM_OUT_OF_SYNC},
        {"the pins changed after a connected one", S_OK, 1, VFW_E_ENUM_OUT_OF_SYNC},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeFilter filter;
        filter.enumResult = c.enumResult;
        filter.enumerator.pins = {&connected, &connected};
        filter.enumerator.failAfter = c.failAfter;
        filter.enumerator.failure = VFW_E_ENUM_OUT_OF_SYNC;
        IPin *pin = reinterpret_cast<IPin *>(1);
        EXPECT_EQ(FindUnconnectedPin(&filter, PINDIR_OUTPUT, &pin), c.expected);
        EXPECT_EQ(pin, nullptr);
    }
    EXPECT_EQ(connected.references, 1);
}

// ---------------------------------------------------------------------------------
// The teardown.

class Teardown : public PlaybackFakes {
protected:
    void SetUp() override
    {
        PlaybackFakes::SetUp();
        saver = LoadLibraryExA(VESPERINE_SCR_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(saver, nullptr) << VESPERINE_SCR_PATH;
        clipPath = WindowsDirectoryFile("vidtmp.avi");
        DeleteFileA(clipPath.c_str());
        watchedObject = nullptr;
        watchedObjectDeleted = false;
    }
    void TearDown() override
    {
        watchedObject = nullptr;
        if (playback.clipFile != nullptr)
            playback.clipFile->RemoveFile();
        delete playback.clipFile;
        playback.clipFile = nullptr;
        DeleteFileA(clipPath.c_str());
        FreeLibrary(saver);
        PlaybackFakes::TearDown();
    }
    // ExtractClip with the built saver as this program's own module, which has no clip.
    HRESULT ExtractSaversClip()
    {
        extractionModule = saver;
        ReplacedImport<decltype(__imp_GetModuleHandleA)> module(&__imp_GetModuleHandleA, SaverAsOwnModule);
        return ExtractClip();
    }
    static HMODULE WINAPI SaverAsOwnModule(LPCSTR name)
    {
        return name == nullptr ? extractionModule : realGetModuleHandleA(name);
    }
    // Whether ReleasePlayback left COM uninitialised once: with one CoInitialize
    // before it, a new CoInitialize is then the first again.
    static bool UninitialisesCom()
    {
        if (CoInitialize(nullptr) != S_OK)
            return false;
        ReleasePlayback();
        HRESULT again = CoInitialize(nullptr);
        CoUninitialize();
        return again == S_OK;
    }

    static HMODULE extractionModule;
    HMODULE saver = nullptr;
    std::string clipPath;
    ReleaseOnly windowlessControl{kReleaseOnlyTable, "windowlessControl"};
    ReleaseOnly mixerBitmap{kReleaseOnlyTable, "mixerBitmap"};
    ReleaseOnly renderer{kReleaseOnlyTable, "renderer"};
    ReleaseOnly graphBuilder{kReleaseOnlyTable, "graphBuilder"};
};
HMODULE Teardown::extractionModule;

TEST_F(Teardown, ReleasesEverythingOnceInItsOrderThenASecondCallFindsNothing)
{
    ASSERT_EQ(ExtractSaversClip(), S_OK);
    ASSERT_TRUE(FileExists(clipPath));
    watchedObject = playback.clipFile;
    playback.mediaEvent = &events;
    playback.mediaSeeking = &seeking;
    playback.mediaControl = &control;
    playback.windowlessControl = AsInterface<IVMRWindowlessControl9>(windowlessControl);
    playback.mixerBitmap = AsInterface<IVMRMixerBitmap9>(mixerBitmap);
    playback.renderer = AsInterface<IBaseFilter>(renderer);
    playback.graphBuilder = AsInterface<IGraphBuilder>(graphBuilder);
    HFONT font = CreateFontA(-11, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Arial");
    playback.captionFont = font;
    playback.nativeVideoRect = {0, 0, 1024, 768};

    EXPECT_TRUE(UninitialisesCom());

    // Nothing is stopped or asked for: notifications end, then one Release each.
    const std::vector<std::string> expected = {
        "mediaEvent.SetNotifyWindow 0 0 0", "mediaEvent.Release", "mediaSeeking.Release",
        "mediaControl.Release", "windowlessControl.Release", "mixerBitmap.Release",
        "renderer.Release", "graphBuilder.Release",
    };
    EXPECT_EQ(calls, expected);
    EXPECT_TRUE(PlaybackIsEmpty());
    EXPECT_EQ(GetObjectType(font), 0u) << "the caption font was not deleted";
    EXPECT_FALSE(FileExists(clipPath)) << "vidtmp.avi was left behind";
    EXPECT_TRUE(watchedObjectDeleted) << "the clip file object was not deleted";

    // The second call: COM once more, and nothing else.
    calls.clear();
    watchedObjectDeleted = false;
    EXPECT_TRUE(UninitialisesCom());
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(PlaybackIsEmpty());
    EXPECT_FALSE(watchedObjectDeleted);
}

TEST_F(Teardown, AfterAFailedExtractionDeletesTheObjectOnly)
{
    ASSERT_EQ(ExtractClip(), E_FAIL);   // this program carries no clip
    ASSERT_NE(playback.clipFile, nullptr);
    ASSERT_FALSE(FileExists(clipPath));
    watchedObject = playback.clipFile;

    EXPECT_TRUE(UninitialisesCom());

    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(PlaybackIsEmpty());
    EXPECT_TRUE(watchedObjectDeleted);
}

// ---------------------------------------------------------------------------------
// The saver's window procedure.

using ClipWindow = PlaybackFakes;

TEST_F(ClipWindow, PreviewCreationStartsNothing)
{
    const std::string clipPath = WindowsDirectoryFile("vidtmp.avi");
    DeleteFileA(clipPath.c_str());
    host.inPreview = 1;

    EXPECT_EQ(ClipWindowProc(window, WM_CREATE, 0, 0), 0);

    EXPECT_TRUE(calls.empty());   // no graph, no caption, no box
    EXPECT_TRUE(PlaybackIsEmpty());
    EXPECT_FALSE(FileExists(clipPath));
    EXPECT_FALSE(TakeQuitMessage());
}

TEST_F(ClipWindow, FailedExtractionReleasesThenShowsOnlyTheProgramBoxThenQuits)
{
    // This program carries no clip, so the extraction fails as it would without one.
    EXPECT_EQ(ClipWindowProc(window, WM_CREATE, 0, 0), 0);

    EXPECT_EQ(calls, std::vector<std::string>({"MessageBoxA"}));   // no graph, no caption
    ASSERT_EQ(boxes.size(), 1u);
    const ShownBox &box = boxes[0];
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.text, kProgramInterfaceFailure);
    EXPECT_EQ(box.text, "Failed to initialize program interface.\n\nShutting down now.");
    EXPECT_FALSE(box.hasTitle);
    EXPECT_EQ(box.flags, 0x10u);
    EXPECT_FALSE(box.clipFileHeld) << "the box came before the release";
    EXPECT_FALSE(box.quitPosted) << "the quit message came before the box";
    EXPECT_TRUE(TakeQuitMessage());
    EXPECT_TRUE(PlaybackIsEmpty());
}

TEST_F(ClipWindow, EveryTimerMessageIsOneCaptionTick)
{
    const WPARAM timers[] = {0, 1, 50, 0x7FFF, ~WPARAM(0)};
    for (WPARAM timer : timers) {
        caption.elapsedMs = 400;
        EXPECT_EQ(ClipWindowProc(window, WM_TIMER, timer, 0), 0) << "timer " << timer;
        EXPECT_EQ(caption.elapsedMs, 450) << "timer " << timer;
    }
    EXPECT_TRUE(calls.empty());
}

TEST_F(ClipWindow, DestructionStopsTheCaptionReleasesThePlaybackAndQuits)
{
    ReplacedImport<decltype(__imp_KillTimer)> killTimer(&__imp_KillTimer, RecordKillTimer);
    FillEventFields();
    caption.timerId = 50;
    caption.elapsedMs = 3000;

    EXPECT_EQ(ClipWindowProc(window, WM_DESTROY, 0, 0), 0);

    const std::vector<std::string> expected = {
        "KillTimer 50", "mediaEvent.SetNotifyWindow 0 0 0", "mediaEvent.Release", "mediaSeeking.Release",
        "mediaControl.Release", "mixerBitmap.Release",
    };
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(caption.timerId, 0u);
    EXPECT_TRUE(PlaybackIsEmpty());
    EXPECT_TRUE(TakeQuitMessage());

    // Again, as after a failed start: harmless.
    calls.clear();
    EXPECT_EQ(ClipWindowProc(window, WM_DESTROY, 0, 0), 0);
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(TakeQuitMessage());
}

// ---------------------------------------------------------------------------------
// Painting.

class Painting : public PlaybackFakes {
protected:
    void SetUp() override
    {
        PlaybackFakes::SetUp();
        saver = LoadLibraryExA(VESPERINE_SCR_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(saver, nullptr) << VESPERINE_SCR_PATH;
        host.instance = saver;
    }
    void TearDown() override
    {
        PlaybackFakes::TearDown();
        FreeLibrary(saver);
    }
    HMODULE saver = nullptr;
};

static const COLORREF kUnpainted = RGB(255, 0, 255);

// Covers the whole client area with kUnpainted and lets the window wait for a paint.
static void PrepareForPaint(HWND window)
{
    HDC dc = GetDC(window);
    RECT client;
    GetClientRect(window, &client);
    HBRUSH brush = CreateSolidBrush(kUnpainted);
    FillRect(dc, &client, brush);
    DeleteObject(brush);
    ReleaseDC(window, dc);
    InvalidateRect(window, nullptr, FALSE);
}

static bool WaitsForPaint(HWND window)
{
    return GetUpdateRect(window, nullptr, FALSE) != FALSE;
}

TEST_F(Painting, PreviewShowsTheWholePictureScaledToAnyWindow)
{
    struct Size { int width, height; };
    const Size sizes[] = {{152, 112}, {320, 240}, {37, 500}, {1, 1}};
    for (const Size &size : sizes) {
        SCOPED_TRACE(Text(size.width) + "x" + Text(size.height));
        HWND preview = CreateTestWindow(size.width, size.height);
        ASSERT_NE(preview, nullptr);
        RECT client;
        GetClientRect(preview, &client);
        ASSERT_EQ(client.right, size.width);
        ASSERT_EQ(client.bottom, size.height);

        // The picture as the system scales it to this size.
        HBITMAP expected = static_cast<HBITMAP>(LoadImageA(saver, MAKEINTRESOURCEA(IDB_PREVIEW_PICTURE), IMAGE_BITMAP,
                                                           size.width, size.height, LR_DEFAULTCOLOR));
        ASSERT_NE(expected, nullptr);
        HDC memory = CreateCompatibleDC(nullptr);
        HGDIOBJ previous = SelectObject(memory, expected);

        host.inPreview = 1;
        PrepareForPaint(preview);
        UpdateWindow(preview);   // WM_PAINT, through the saver's procedure
        EXPECT_FALSE(WaitsForPaint(preview)) << "the window was not validated";

        const POINT points[] = {{0, 0},
                                {size.width - 1, 0},
                                {0, size.height - 1},
                                {size.width - 1, size.height - 1},
                                {size.width / 2, size.height / 2}};
        HDC dc = GetDC(preview);
        for (const POINT &point : points) {
            COLORREF picture = GetPixel(memory, point.x, point.y);
            ASSERT_NE(picture, kUnpainted) << "choose another fill colour";
            EXPECT_EQ(GetPixel(dc, point.x, point.y), picture) << "at " << point.x << "," << point.y;
        }
        ReleaseDC(preview, dc);
        SelectObject(memory, previous);
        DeleteDC(memory);
        DeleteObject(expected);
        DestroyWindow(preview);
    }
}

TEST_F(Painting, FullScreenPaintWithoutARendererOnlyValidates)
{
    host.inPreview = 0;
    PrepareForPaint(window);
    EXPECT_EQ(ClipWindowProc(window, WM_PAINT, 0, 0), 0);
    EXPECT_FALSE(WaitsForPaint(window));
    HDC dc = GetDC(window);
    EXPECT_EQ(GetPixel(dc, 10, 10), kUnpainted);
    ReleaseDC(window, dc);
    EXPECT_TRUE(calls.empty());
}
