// The Service Control Manager as the service's host.
#pragma once
#include "watchdog/service/watchdog_service.h"

namespace orvo::watchdog {

class ScmHost : public ServiceHost {
public:
    bool RegisterHandler(LPHANDLER_FUNCTION_EX handler, void* context) noexcept override {
        m_handle = ::RegisterServiceCtrlHandlerExW(L"OrvoVistrelWatchdog", handler, context);
        return m_handle != nullptr;
    }
    void ReportStatus(const SERVICE_STATUS& status) noexcept override {
        SERVICE_STATUS copy = status;
        ::SetServiceStatus(m_handle, &copy);
    }

private:
    SERVICE_STATUS_HANDLE m_handle = nullptr;
};

}  // namespace orvo::watchdog
