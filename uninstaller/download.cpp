#include "uninstaller/download.h"

#include <windows.h>
#include <wininet.h>

#include "setup_engine/text.h"
#include "win32/message_wait.h"
#include "win32/unique_handle.h"

namespace orvo::uninstaller {
namespace {

class InternetHandle {
public:
    explicit InternetHandle(HINTERNET h) : m_h(h) {}
    ~InternetHandle() {
        if (m_h) ::InternetCloseHandle(m_h);
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET get() const { return m_h; }

private:
    HINTERNET m_h;
};

struct Transfer {
    std::wstring url, target;
    bool ok = false;
};

DWORD WINAPI TransferMain(void* parameter) {
    auto* t = static_cast<Transfer*>(parameter);
    InternetHandle session(::InternetOpenW(L"InstallationBootstrapper", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session.get()) return 0;
    InternetHandle request(::InternetOpenUrlW(session.get(), t->url.c_str(), nullptr, 0,
                                              INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
    if (!request.get()) return 0;
    if (setup::IStartsWith(t->url, L"http")) {
        DWORD status = 0, size = sizeof status;
        if (!::HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) ||
            status != 200)
            return 0;
    }
    win32::UniqueFileHandle file(::CreateFileW(t->target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    if (!file) return 0;
    char buffer[16384];
    for (;;) {
        DWORD read = 0, written = 0;
        if (!::InternetReadFile(request.get(), buffer, sizeof buffer, &read)) break;
        if (read == 0) {
            t->ok = true;
            break;
        }
        if (!::WriteFile(file.get(), buffer, read, &written, nullptr) || written != read) break;
    }
    file.reset();
    if (!t->ok) ::DeleteFileW(t->target.c_str());
    return 0;
}

}  // namespace

bool Download(const std::wstring& url, const std::wstring& target, unsigned tickSeconds, const std::function<void()>& tick) {
    Transfer transfer{url, target};
    win32::UniqueHandle thread(::CreateThread(nullptr, 0, TransferMain, &transfer, 0, nullptr));
    if (!thread) return false;
    while (!win32::WaitPumpingMessages(thread.get(), (tickSeconds ? tickSeconds : 5) * 1000))
        if (tick) tick();
    return transfer.ok;
}

}  // namespace orvo::uninstaller
