// This program's two trace providers, registered with the test's fake
// session instead of the system's ETW (Wine's ETW never enables one).
// Include it in exactly one source file of a test program: it defines the
// providers the product's trace statements use.
#pragma once
#include "support/trace/zel_trace.h"
#include "support_lib/fake_etw_session.h"

namespace orvo {
namespace test {

inline FakeEtwSession& Session() {
    static FakeEtwSession session;
    return session;
}

}  // namespace test

CZelTraceProvider& ZelProviderA() noexcept {
    test::Session();
    static CZelTraceProvider provider(kZelProviderAGuid, test::FakeEtwSession::Api());
    return provider;
}
CZelTraceProvider& ZelProviderB() noexcept {
    test::Session();
    static CZelTraceProvider provider(kZelProviderBGuid, test::FakeEtwSession::Api());
    return provider;
}

}  // namespace orvo
