#include "support/trace/trace_provider.h"

#include "support/livelog/live_log.h"
#include "support/trace/module_info.h"

namespace orvo {
namespace {

// Any address inside this module finds the module the provider is linked into.
HMODULE ThisModule() noexcept {
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

}  // namespace

CZelTraceProvider::CZelTraceProvider(const GUID& controlGuid, const EtwApi& etw) noexcept
    : m_controlGuid(controlGuid), m_etw(etw) {
    static const GUID messageGuid = kZelMessageEventGuid;
    static const GUID moduleInfoGuid = kZelModuleInfoEventGuid;
    m_traceGuids[m_traceGuidCount++].Guid = &messageGuid;
    m_traceGuids[m_traceGuidCount++].Guid = &moduleInfoGuid;
    m_loadAddress = ThisModule();
    // The live log must outlive every provider that may attach to it.
    CZelLiveLog::Instance();
    TRACEHANDLE registration = 0;
    if (m_etw.registerTraceGuids(&CZelTraceProvider::ControlCallback, this, &m_controlGuid, m_traceGuidCount,
                                 m_traceGuids, nullptr, nullptr, &registration) == ERROR_SUCCESS) {
        m_registration = registration;
    }
}

CZelTraceProvider::~CZelTraceProvider() {
    if (m_registration) m_etw.unregisterTraceGuids(m_registration);
    DetachLiveLog();
}

bool CZelTraceProvider::Write(EVENT_TRACE_HEADER* event) noexcept {
    if (m_liveLogAttached.load()) CZelLiveLog::Instance().Write(event);
    return m_etw.traceEvent(m_loggerHandle.load(), event) == ERROR_SUCCESS;
}

ULONG WINAPI CZelTraceProvider::ControlCallback(WMIDPREQUESTCODE requestCode, PVOID context, ULONG*, PVOID buffer) {
    auto* provider = static_cast<CZelTraceProvider*>(context);
    if (!provider) return ERROR_INVALID_PARAMETER;
    switch (requestCode) {
    case WMI_ENABLE_EVENTS: return provider->Enable(buffer);
    case WMI_DISABLE_EVENTS: return provider->Disable();
    default: return ERROR_INVALID_PARAMETER;
    }
}

ULONG CZelTraceProvider::Enable(PVOID buffer) noexcept {
    const TRACEHANDLE logger = m_etw.getTraceLoggerHandle(buffer);
    // A session that enables again (new level or flags) must not leave its
    // earlier live-log attachment behind.
    DetachLiveLog();
    m_loggerHandle.store(logger);
    m_enableLevel.store(m_etw.getTraceEnableLevel(logger));
    m_enableFlags.store(m_etw.getTraceEnableFlags(logger));
    if (CZelLiveLog::IsEnabled()) {
        CZelLiveLog::Instance().Attach(logger);
        m_liveLogAttached.store(true);
    }
    m_enabled.store(true, std::memory_order_release);
    SendModuleInfo();
    return ERROR_SUCCESS;
}

ULONG CZelTraceProvider::Disable() noexcept {
    m_enabled.store(false);
    DetachLiveLog();
    m_loggerHandle.store(0);
    m_enableLevel.store(0);
    m_enableFlags.store(0);
    return ERROR_SUCCESS;
}

void CZelTraceProvider::DetachLiveLog() noexcept {
    if (m_liveLogAttached.exchange(false)) CZelLiveLog::Instance().Detach(m_loggerHandle.load());
}

void CZelTraceProvider::SendModuleInfo() noexcept {
    ModuleInfoEvent event;
    BuildModuleInfoEvent(m_loadAddress, event);
    Write(reinterpret_cast<EVENT_TRACE_HEADER*>(&event));
}

}  // namespace orvo
