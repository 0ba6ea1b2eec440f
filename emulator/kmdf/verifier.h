// The stand-in's verifier: what real hardware and the real framework would
// punish (a second completion, a completion while sent, a deleted object
// touched, a wait at dispatch level, a leak at removal) is recorded with the
// routine's name. Tests also use it to step into any routine: run a callback
// at the n-th call on another thread and wait for it, or make the n-th call
// fail.
#pragma once
#include <windows.h>

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvo::kmdf {

class CVerifier {
public:
    CVerifier() = default;
    ~CVerifier();
    CVerifier(const CVerifier&) = delete;
    CVerifier& operator=(const CVerifier&) = delete;

    void Report(const std::string& finding);
    std::vector<std::string> Findings() const;
    void ClearFindings();

    // Called at the entry of every routine: counts the call, runs the
    // planned step, and returns a status the routine must fail with (0:
    // none).
    long Enter(const char* routine);

    // At the n-th call (counted from now) of routine ("" for any routine),
    // run action on another thread and wait for it; the wait is given up
    // after waitMs, for an action that needs what the caller holds.
    void StepAt(const std::string& routine, unsigned n, std::function<void()> action, DWORD waitMs = 2000);
    // The n-th call of routine fails with status.
    void FailAt(const std::string& routine, unsigned n, long status);
    void ClearPlans();
    // Calls of routine ("" for all) since the last reset.
    unsigned Calls(const std::string& routine = "") const;
    std::vector<std::string> CallLog() const;
    void ResetCalls();
    void LogCalls(bool on);
    // The calling thread holds (+1) or released (-1) a driver spin lock: a
    // step planned at its calls runs without being waited for.
    static void NoteSpinLock(int delta);
    // Joins every step thread.
    void JoinSteps();

private:
    struct Plan {
        std::string routine;
        unsigned at = 0;
        std::function<void()> action;
        DWORD waitMs = 0;
        long status = 0;
    };

    unsigned CallsLocked(const std::string& routine) const;

    mutable std::mutex m_lock;
    std::vector<std::string> m_findings;
    std::vector<Plan> m_plans;
    // Keyed by the routine's name literal: counting stays cheap on the
    // data path.
    std::map<const char*, unsigned> m_calls;
    unsigned m_total = 0;
    bool m_log = false;
    std::vector<std::string> m_callLog;
    std::vector<std::thread> m_steps;
};

}  // namespace orvo::kmdf
