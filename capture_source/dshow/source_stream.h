// CSourceStream: an output pin with a worker thread that produces samples;
// the pin commits its allocator and starts the thread when the filter
// leaves the stopped state, and ends both when it stops.
#pragma once
#include "capture_source/dshow/am_thread.h"
#include "capture_source/dshow/base_filter.h"
#include "capture_source/dshow/base_pin.h"

namespace orvo::dshow {

class CSourceStream : public CBaseOutputPin, public CAMThread {
public:
    enum Command : DWORD { CMD_INIT = 0, CMD_PAUSE = 1, CMD_RUN = 2, CMD_STOP = 3, CMD_EXIT = 4 };

    // Adds itself to the filter, which then owns it.
    CSourceStream(CSource* filter, const wchar_t* name) noexcept;
    ~CSourceStream() override;

    HRESULT Active() override;
    HRESULT Inactive() override;

    HRESULT Init() noexcept { return static_cast<HRESULT>(CallWorker(CMD_INIT)); }
    HRESULT Exit() noexcept { return static_cast<HRESULT>(CallWorker(CMD_EXIT)); }
    HRESULT Run() noexcept { return static_cast<HRESULT>(CallWorker(CMD_RUN)); }
    HRESULT PauseWorker() noexcept { return static_cast<HRESULT>(CallWorker(CMD_PAUSE)); }
    HRESULT StopWorker() noexcept { return static_cast<HRESULT>(CallWorker(CMD_STOP)); }

    virtual HRESULT FillBuffer(IMediaSample* sample) = 0;
    virtual HRESULT OnThreadCreate() { return S_OK; }
    virtual HRESULT OnThreadDestroy() { return S_OK; }
    virtual HRESULT OnThreadStartPlay() { return S_OK; }

    bool AddedToFilter() const noexcept { return m_added; }

protected:
    CSource* m_source;

private:
    bool m_added = false;
};

}  // namespace orvo::dshow
