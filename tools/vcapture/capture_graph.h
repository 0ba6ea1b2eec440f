// A DirectShow capture graph as a video application builds one: a capture
// source, a Sample Grabber that reports every sample, a Null Renderer; the
// source connected through ICaptureGraphBuilder2::RenderStream or straight
// to the grabber.
#pragma once
#ifndef NO_DSHOW_STRSAFE
#define NO_DSHOW_STRSAFE
#endif
#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <functional>
#include <string>
#include <vector>

#include "win32/com_ptr.h"
#include "win32/critical_section.h"

extern "C" const CLSID CLSID_SampleGrabber;
extern "C" const CLSID CLSID_NullRenderer;

namespace vcapture {

using orvo::win32::ComPtr;

// What the grabber saw; the callback runs on the source's streaming thread.
class SampleCounter : public ISampleGrabberCB {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SampleCB(double time, IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE*, long) override { return E_NOTIMPL; }

    struct Stats {
        long samples = 0;
        long repeated = 0;      // same pixels as the sample before
        long timeGaps = 0;      // start not equal to the previous end
        long activeThreads = 0; // most threads seen inside the callback at once
        REFERENCE_TIME firstStart = -1, lastStart = -1;
        bool timesFromZero = true;
    };
    Stats Snapshot();
    void Reset();
    // Called for every sample with its pixels (optional).
    std::function<void(const BYTE* pixels, long length, REFERENCE_TIME start)> onSample;

private:
    orvo::win32::CriticalSection m_lock;
    Stats m_stats;
    REFERENCE_TIME m_lastEnd = -1;
    uint64_t m_lastHash = 0;
    LONG m_inside = 0;
};

struct GraphEvent {
    long code;
    LONG_PTR param1, param2;
};
std::string EventName(long code);

class CaptureGraph {
public:
    // Builds the graph around `source`; clock false runs it without a
    // reference clock (as fast as the source delivers).
    HRESULT Build(IBaseFilter* source, bool direct, bool clock = true);
    HRESULT Run() { return m_control ? m_control->Run() : E_UNEXPECTED; }
    HRESULT Pause() { return m_control ? m_control->Pause() : E_UNEXPECTED; }
    HRESULT Stop() { return m_control ? m_control->Stop() : E_UNEXPECTED; }
    // Events that arrived since the last call.
    std::vector<GraphEvent> TakeEvents();
    // The agreed format of the grabber's input (after Build).
    bool Format(int* width, int* height, int* stride);
    void Release();
    ~CaptureGraph() { Release(); }

    SampleCounter counter;
    ComPtr<IGraphBuilder> graph;
    ComPtr<IBaseFilter> source, grabberFilter, renderer;
    ComPtr<IMediaControl> m_control;
    ComPtr<IMediaEventEx> events;
    ComPtr<ISampleGrabber> grabber;
};

// The capture output pin of a filter (first output pin).
ComPtr<IPin> OutputPin(IBaseFilter* filter);
// Wine's Smart Tee copies every sample into a second buffer of the source's
// allocator; a source that took one buffer would wait for ever. Gives the
// allocator behind the source's pin two buffers before the graph runs.
void GiveTeeTwoBuffers(IBaseFilter* source);

// Video capture devices: friendly name and moniker.
struct Device {
    std::wstring name;
    std::wstring displayName;
    ComPtr<IMoniker> moniker;
};
std::vector<Device> ListDevices();
// A device by index ("0", "1", ...) or by friendly name.
bool FindDevice(const std::wstring& which, Device* device);
HRESULT CreateSource(const Device& device, ComPtr<IBaseFilter>* filter);

}  // namespace vcapture
