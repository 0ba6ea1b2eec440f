// Replays the kept fuzz corpus of the status packet and item code: inputs
// that once reached new paths must still pass through without harm.
#include <gtest/gtest.h>

#include <vector>

#include "native/fuzz/command_status_fuzz_body.h"

namespace {

struct CorpusEntry {
    const char* name;
    std::vector<uint8_t> bytes;
};

const CorpusEntry kCorpus[] = {
#include "command_status_corpus.inc"
};

TEST(CommandStatusCorpus, EveryKeptInputPassesTheInvariants) {
    ASSERT_GE(sizeof(kCorpus) / sizeof(kCorpus[0]), 8u);
    for (const CorpusEntry& entry : kCorpus) {
        EXPECT_TRUE(orvo::fuzz::FuzzCommandStatus(entry.bytes.data(), entry.bytes.size())) << entry.name;
    }
}

}  // namespace
