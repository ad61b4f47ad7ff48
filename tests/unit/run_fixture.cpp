// Runs the whole program with OK on the stand-in registry loaded from a .reg file and
// leaves its trace in a folder, for comparison with the same run under Wine.
// Usage: run_fixture FILE.reg OUT_DIR [wow64]
#include "regfile.h"
#include "support.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: run_fixture FILE.reg OUT_DIR [wow64]\n", stderr);
        return 2;
    }
    const bool wow64 = argc > 3 && std::string(argv[3]) == "wow64";
    stub::ResetAll(wow64);
    std::string error = LoadRegFile(argv[1]);
    if (!error.empty()) {
        std::fprintf(stderr, "%s: %s\n", argv[1], error.c_str());
        return 2;
    }
    stub::shell().moduleFileName = L"C:\\tools\\RemoveVelkaro.exe";
    stub::shell().desktopDirectory = Widen(argv[2]);
    stub::shell().messageBoxAnswers = {IDOK, IDOK};
    int code = wWinMain(nullptr, nullptr, const_cast<LPWSTR>(L""), 1);
    std::printf("exit=%d handles=%d\n", code, stub::OpenHandleCount());
    return 0;
}
