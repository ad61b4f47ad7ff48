// Our own CPU cost of a whole run on the stand-in registry, apart from the OS: the
// registry generated for N components and P family products, with the trace on and off.
// Usage: bench_cleanup REG_DIR [benchmark flags]   (REG_DIR holds bench-N-P.reg files)
#include "regfile.h"
#include "support.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

std::string g_dir;

void Cleanup(benchmark::State& state) {
    const std::string reg = g_dir + "/bench-" + std::to_string(state.range(0)) + "-" + std::to_string(state.range(1)) + ".reg";
    const bool trace = state.range(2) != 0;
    const std::string desk = MakeTempDir();
    for (auto _ : state) {
        state.PauseTiming();
        stub::ResetAll(false);
        if (!LoadRegFile(reg).empty()) state.SkipWithError(("cannot load " + reg).c_str());
        stub::shell().moduleFileName = L"C:\\tools\\RemoveVelkaro.exe";
        stub::shell().desktopDirectory = trace ? Widen(desk) : L"";
        stub::shell().messageBoxAnswers = {IDOK, IDOK};
        g_szLogPath[0] = 0;
        g_nLogIndent = 0;
        state.ResumeTiming();
        if (wWinMain(nullptr, nullptr, const_cast<LPWSTR>(L""), 1) != 0) state.SkipWithError("the run failed");
    }
    state.counters["calls"] = static_cast<double>(stub::RegistryCallCount());
    state.counters["ns_per_call"] = benchmark::Counter(static_cast<double>(stub::RegistryCallCount()),
                                                       benchmark::Counter::kIsIterationInvariantRate |
                                                           benchmark::Counter::kInvert);
    RemoveTree(desk);
}

}  // namespace

BENCHMARK(Cleanup)
    ->ArgNames({"N", "P", "trace"})
    ->ArgsProduct({{1000, 10000, 50000}, {1, 3}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    g_dir = argv[1];
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
