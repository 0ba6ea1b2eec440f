// orvoApi.dll loaded, initialised and unloaded the way DirectShow clients do:
// initialised on one thread that pumps the hidden window's messages, unloaded
// from another while that window's work waits for the API mutex, loaded
// again; and a client that ends without unloading.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "camera_api/api/orvo_api.h"
#include "support/child_process.h"
#include "win32/unique_handle.h"

namespace {

std::atomic<int> g_accessViolations{0};

LONG CALLBACK CountAccessViolations(EXCEPTION_POINTERS* info) {
    if (info->ExceptionRecord->ExceptionCode == EXCEPTION_ACCESS_VIOLATION) ++g_accessViolations;
    return EXCEPTION_CONTINUE_SEARCH;
}

using InitializeFn = decltype(&::orvo_InitializeApi);

// A thread that initialises the library and then pumps messages, as the
// thread that creates a capture filter does.
class PumpingThread {
public:
    explicit PumpingThread(InitializeFn initialise) {
        m_thread = std::thread([this, initialise] {
            MSG message;
            ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);   // makes the queue before the id is published
            m_id = ::GetCurrentThreadId();
            m_result = initialise();
            m_ready.store(true);
            while (::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
        });
        while (!m_ready.load()) ::Sleep(5);
    }
    ~PumpingThread() { Stop(); }
    int32_t Result() const { return m_result; }
    // True while the thread still answers: a thread lost in unmapped code does not.
    bool Answers() const {
        return ::PostThreadMessageW(m_id, WM_NULL, 0, 0) != FALSE;
    }
    void Stop() {
        if (!m_thread.joinable()) return;
        ::PostThreadMessageW(m_id, WM_QUIT, 0, 0);
        m_thread.join();
    }

private:
    std::thread m_thread;
    std::atomic<bool> m_ready{false};
    DWORD m_id = 0;
    int32_t m_result = -1;
};

// Holds the API mutex from a thread of its own, as another process would.
class MutexHolder {
public:
    MutexHolder() {
        m_thread = std::thread([this] {
            orvo::win32::UniqueHandle mutex(::CreateMutexW(nullptr, FALSE, L"ORVO_API_MUTEX"));
            if (mutex) ::WaitForSingleObject(mutex.get(), INFINITE);
            m_held.store(true);
            ::WaitForSingleObject(m_release.get(), INFINITE);
            if (mutex) ::ReleaseMutex(mutex.get());
        });
        while (!m_held.load()) ::Sleep(5);
    }
    ~MutexHolder() { Release(); }
    void Release() {
        if (!m_thread.joinable()) return;
        ::SetEvent(m_release.get());
        m_thread.join();
    }

private:
    orvo::win32::UniqueHandle m_release{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<bool> m_held{false};
    std::thread m_thread;
};

InitializeFn Initializer(HMODULE module) {
    return reinterpret_cast<InitializeFn>(reinterpret_cast<void*>(::GetProcAddress(module, "orvo_InitializeApi")));
}

TEST(LibraryLifetime, UnloadFromAnotherThreadWhileTheWindowWaitsThenLoadAgain) {
    PVOID handler = ::AddVectoredExceptionHandler(1, &CountAccessViolations);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        HMODULE module = ::LoadLibraryW(L"orvoApi.dll");
        ASSERT_NE(module, nullptr);
        ASSERT_NE(Initializer(module), nullptr);
        PumpingThread pump(Initializer(module));
        // A library loaded again after an unload must initialise like the first time.
        EXPECT_EQ(pump.Result(), ORVO_OK);
        {
            MutexHolder holder;
            ::Sleep(1200);   // the owner check's timer fires and waits for the mutex
            const ULONGLONG start = ::GetTickCount64();
            EXPECT_TRUE(::FreeLibrary(module));
            // Bounded: far below the mutex's own wait limit.
            EXPECT_LT(::GetTickCount64() - start, 5000u);
            holder.Release();
        }
        ::Sleep(1500);   // time for a waiter lost in unmapped code to run there
        EXPECT_TRUE(pump.Answers());
        pump.Stop();
        EXPECT_EQ(::GetModuleHandleW(L"orvoApi.dll"), nullptr);
    }
    EXPECT_EQ(g_accessViolations.load(), 0);
    ::RemoveVectoredExceptionHandler(handler);
}

// Also checked by hand with Wine's exception trace (WINEDEBUG=+seh): the
// child's own handler sees what Wine would otherwise swallow.
TEST(LibraryLifetime, ClientEndingWithoutUnloadingRaisesNothing) {
    orvo::test::ChildProcess child;
    ASSERT_TRUE(child.Start(orvo::test::ExeFolder() + L"camera_api_lifetime_exit_child.exe", L""));
    EXPECT_EQ(child.Wait(), 0) << child.Output();
}

}  // namespace
