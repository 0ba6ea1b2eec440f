// Fetching an installer from its URL (http, https or ftp) into a new file.
#pragma once
#include <functional>
#include <string>

namespace orvo::uninstaller {

// Runs the transfer on a thread of its own and waits for it pumping
// messages, calling tick every tickSeconds; true when the whole file arrived.
bool Download(const std::wstring& url, const std::wstring& target, unsigned tickSeconds, const std::function<void()>& tick);

}  // namespace orvo::uninstaller
