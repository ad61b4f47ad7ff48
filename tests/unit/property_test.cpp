#include "safety.h"

#include "fixtures.h"

#include <cstdlib>

namespace {

uint64_t FirstSeed() {
    const char* env = std::getenv("VELKARO_SEED");
    return env ? std::strtoull(env, nullptr, 10) : 1;
}

// Random registries: the run removes exactly what the model says, closes every handle
// and leaves a balanced trace. A failing seed is printed; VELKARO_SEED=N replays from N.
TEST(SafetyNet, RandomRegistriesLoseExactlyTheFamily) {
    const uint64_t first = FirstSeed();
    for (uint64_t seed = first; seed < first + 400; ++seed) {
        std::string problems = safety::Check(seed);
        ASSERT_TRUE(problems.empty()) << problems;
    }
}

// Every registry call of a full run on a rich registry, failed in turn.
TEST(SafetyNet, EveryFailedCallEndsCleanlyAndDeletesNothingElse) {
    long faults = 0;
    for (uint64_t seed : {7u, 19u}) {
        std::string problems = safety::Sweep(seed, faults);
        ASSERT_TRUE(problems.empty()) << problems.substr(0, 4000);
    }
    EXPECT_GT(faults, 400);
}

}  // namespace
