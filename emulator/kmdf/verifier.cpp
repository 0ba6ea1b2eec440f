#include "emulator/kmdf/verifier.h"

#include <chrono>
#include <memory>

namespace orvo::kmdf {
namespace {

thread_local int t_spinLocks = 0;

}  // namespace

void CVerifier::NoteSpinLock(int delta) { t_spinLocks += delta; }

CVerifier::~CVerifier() { JoinSteps(); }

void CVerifier::Report(const std::string& finding) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_findings.push_back(finding);
}

std::vector<std::string> CVerifier::Findings() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_findings;
}

void CVerifier::ClearFindings() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_findings.clear();
}

long CVerifier::Enter(const char* routine) {
    std::function<void()> action;
    DWORD waitMs = 0;
    long status = 0;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        ++m_calls[routine];
        ++m_total;
        if (m_log) m_callLog.emplace_back(routine);
        for (auto it = m_plans.begin(); it != m_plans.end(); ++it) {
            const unsigned count = it->routine.empty() ? m_total : (it->routine == routine ? CallsLocked(routine) : 0);
            if (count != it->at) continue;
            if (it->action) {
                action = std::move(it->action);
                waitMs = it->waitMs;
            } else {
                status = it->status;
            }
            m_plans.erase(it);
            break;
        }
    }
    if (action) {
        struct Done {
            std::mutex lock;
            std::condition_variable cv;
            bool done = false;
        };
        auto done = std::make_shared<Done>();
        {
            // Registered before the wait, so that JoinSteps never misses it.
            std::lock_guard<std::mutex> lock(m_lock);
            m_steps.emplace_back([action, done] {
                action();
                std::lock_guard<std::mutex> doneLock(done->lock);
                done->done = true;
                done->cv.notify_all();
            });
        }
        if (t_spinLocks == 0) {
            std::unique_lock<std::mutex> lock(done->lock);
            done->cv.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return done->done; });
        }
    }
    return status;
}

unsigned CVerifier::CallsLocked(const std::string& routine) const {
    unsigned calls = 0;
    for (const auto& entry : m_calls)
        if (routine == entry.first) calls += entry.second;
    return calls;
}

void CVerifier::StepAt(const std::string& routine, unsigned n, std::function<void()> action, DWORD waitMs) {
    std::lock_guard<std::mutex> lock(m_lock);
    const unsigned base = routine.empty() ? m_total : CallsLocked(routine);
    m_plans.push_back(Plan{routine, base + n, std::move(action), waitMs, 0});
}

void CVerifier::FailAt(const std::string& routine, unsigned n, long status) {
    std::lock_guard<std::mutex> lock(m_lock);
    const unsigned base = routine.empty() ? m_total : CallsLocked(routine);
    m_plans.push_back(Plan{routine, base + n, nullptr, 0, status});
}

void CVerifier::ClearPlans() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_plans.clear();
}

unsigned CVerifier::Calls(const std::string& routine) const {
    std::lock_guard<std::mutex> lock(m_lock);
    return routine.empty() ? m_total : CallsLocked(routine);
}

std::vector<std::string> CVerifier::CallLog() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_callLog;
}

void CVerifier::ResetCalls() {
    std::lock_guard<std::mutex> lock(m_lock);
    m_calls.clear();
    m_total = 0;
    m_callLog.clear();
}

void CVerifier::LogCalls(bool on) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_log = on;
}

void CVerifier::JoinSteps() {
    std::vector<std::thread> steps;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        steps.swap(m_steps);
    }
    for (std::thread& step : steps) step.join();
}

}  // namespace orvo::kmdf
