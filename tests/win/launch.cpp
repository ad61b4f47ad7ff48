// Runs a program and prints its full 32-bit exit code ("exit=0xFFFFFFFF"), which the
// shell would otherwise see cut to its low byte, and its peak memory.
// Usage: launch.exe program.exe [arguments]
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fputs("usage: launch.exe program.exe\n", stderr);
        return 2;
    }
    std::wstring commandLine;
    for (int i = 1; i < argc; ++i) commandLine += (i > 1 ? L" \"" : L"\"") + std::wstring(argv[i]) + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(argv[1], &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        std::printf("error=%lu\n", GetLastError());
        return 3;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    if (GetProcessMemoryInfo(pi.hProcess, &memory, sizeof(memory)))
        std::printf("peak_working_set=%lu peak_private=%lu\n", static_cast<unsigned long>(memory.PeakWorkingSetSize),
                    static_cast<unsigned long>(memory.PeakPagefileUsage));
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    std::printf("exit=0x%08lX\n", code);
    std::fflush(stdout);
    return 0;
}
