// The long safety run: many random registries, and fault sweeps over a share of them.
// Usage: safety_long [registries=100000] [first-seed=1] [sweep-every=1000]
#include "safety.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const uint64_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100000;
    const uint64_t first = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
    const uint64_t every = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1000;
    long faults = 0;
    uint64_t failed = 0;
    for (uint64_t seed = first; seed < first + count; ++seed) {
        std::string problems = safety::Check(seed);
        if (every != 0 && seed % every == 0) problems += safety::Sweep(seed, faults);
        if (!problems.empty()) {
            ++failed;
            std::fputs(problems.c_str(), stderr);
        }
    }
    std::printf("registries checked: %llu, faults injected: %ld, failing seeds: %llu\n",
                static_cast<unsigned long long>(count), faults, static_cast<unsigned long long>(failed));
    return failed == 0 ? 0 : 1;
}
