#include "capture_source/module/capture_module.h"

#include "capture_source/filter/camera_filter.h"

namespace orvo::capture {

namespace {
CCaptureModule* g_module = nullptr;
}

CCaptureModule& CCaptureModule::Instance() noexcept {
    static CCaptureModule* const module = g_module = new CCaptureModule;
    return *module;
}

void CCaptureModule::Destroy() noexcept {
    delete g_module;
    g_module = nullptr;
}

CCaptureModule::~CCaptureModule() {
    for (auto& entry : m_filters) entry.second->Release();
}

CCameraFilter* CCaptureModule::FindFilter(const CLSID& clsid) noexcept {
    const auto found = m_filters.find(clsid);
    if (found == m_filters.end()) return nullptr;
    found->second->AddRef();
    return found->second;
}

bool CCaptureModule::CacheFilter(const CLSID& clsid, CCameraFilter* filter) noexcept {
    try {
        if (!m_filters.emplace(clsid, filter).second) return false;
    } catch (...) {
        return false;
    }
    filter->AddRef();
    return true;
}

}  // namespace orvo::capture
