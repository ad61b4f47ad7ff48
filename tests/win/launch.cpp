// Runs a program and prints its full 32-bit exit code ("exit=0xFFFFFFFF"), which the
// shell would otherwise see cut to its low byte. Usage: launch.exe program.exe
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fputs("usage: launch.exe program.exe\n", stderr);
        return 2;
    }
    wchar_t commandLine[1024] = L"\"";
    wcsncat(commandLine, argv[1], 1000);
    wcscat(commandLine, L"\"");
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(argv[1], commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        std::printf("error=%lu\n", GetLastError());
        return 3;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    std::printf("exit=0x%08lX\n", code);
    std::fflush(stdout);
    return 0;
}
