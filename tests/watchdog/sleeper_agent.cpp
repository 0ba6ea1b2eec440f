// An agent image that only waits for its session's stop event, as the real
// agent's loop does: sessions tests start many of them cheaply.
#include <windows.h>
#include <cwchar>
#include <cstdlib>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 3;
    const DWORD pid = static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 10));
    const unsigned long long value = std::wcstoull(argv[2], nullptr, 10);
    if (value == 0) return 0;  // clean-up run
    HANDLE service = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid);
    HANDLE stop = nullptr;
    if (!service || !DuplicateHandle(service, reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value)),
                                     GetCurrentProcess(), &stop, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        return 4;
    }
    HANDLE waits[2] = {stop, service};
    WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    CloseHandle(stop);
    CloseHandle(service);
    return 0;
}
