// The floor of a run's cost: replays a trace file with none of the cleanup's logic. For
// every line one open-append-close of a log file, as the tool writes its trace; for every
// registry call line the same call on the same key, and the close that follows each open.
// Run on a fresh copy of the registry the trace was made on.
// Usage: floor.exe TRACE LOG [boxes]   -> prints "elapsed_ms=..."
// With "boxes" it shows a message box before and after the replay, so that it can be
// timed from outside exactly as the tool is: from the OK press to the result box.
#include <windows.h>

#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

std::unordered_map<std::string, HKEY> g_handles;

HKEY Handle(const std::string& text) {
    if (text == "HKEY_LOCAL_MACHINE") return HKEY_LOCAL_MACHINE;
    auto it = g_handles.find(text);
    return it == g_handles.end() ? nullptr : it->second;
}

std::wstring Wide(const std::string& s) {
    std::wstring w;
    for (unsigned char c : s) w += static_cast<wchar_t>(c);
    return w;
}

// The arguments of "Name(a, "b", c)": quoted ones without their quotes.
std::vector<std::string> Args(const std::string& body) {
    std::vector<std::string> args;
    size_t at = body.find('(') + 1;
    while (at < body.size() && body[at] != ')') {
        std::string arg;
        if (body[at] == '"') {
            size_t end = body.find('"', at + 1);
            arg = body.substr(at + 1, end - at - 1);
            at = end + 1;
        } else {
            size_t end = body.find_first_of(",)", at);
            arg = body.substr(at, end - at);
            at = end;
        }
        args.push_back(arg);
        if (body.compare(at, 2, ", ") == 0) at += 2;
    }
    return args;
}

void Append(const wchar_t* log, const char* data, DWORD size) {
    HANDLE f = CreateFileW(log, FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(f, data, size, &written, nullptr);
    CloseHandle(f);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fputs("usage: floor.exe TRACE LOG\n", stderr);
        return 2;
    }
    std::string trace;
    {
        HANDLE f = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (f == INVALID_HANDLE_VALUE) return 3;
        DWORD size = GetFileSize(f, nullptr), read = 0;
        trace.resize(size);
        ReadFile(f, &trace[0], size, &read, nullptr);
        CloseHandle(f);
    }
    DeleteFileW(argv[2]);
    const bool boxes = argc > 3 && std::wstring(argv[3]) == L"boxes";
    if (boxes) MessageBoxW(nullptr, L"floor", L"floor", MB_OK);

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    WCHAR name[256];
    std::vector<BYTE> data;
    HKEY opened = nullptr;
    for (size_t at = 0; at < trace.size();) {
        size_t eol = trace.find("\r\n", at);
        if (eol == std::string::npos) break;
        Append(argv[2], trace.data() + at, static_cast<DWORD>(eol + 2 - at));
        std::string body = trace.substr(at, eol - at);
        at = eol + 2;
        body.erase(0, body.find_first_not_of('\t'));
        DWORD chars = 256, type = 0;
        if (body.compare(0, 13, "RegOpenKeyEx(") == 0) {
            auto a = Args(body);
            HKEY key = nullptr;
            opened = RegOpenKeyExW(Handle(a[0]), Wide(a[1]).c_str(), 0, std::stoul(a[3], nullptr, 16), &key) == 0 ? key : nullptr;
        } else if (body.compare(0, 12, "Succeeded! [") == 0 && opened) {
            // The handle value the tool got; a value seen before was closed by the tool.
            std::string value = body.substr(12, body.find(']') - 12);
            auto it = g_handles.find(value);
            if (it != g_handles.end()) RegCloseKey(it->second);
            g_handles[value] = opened;
            opened = nullptr;
        } else if (body.compare(0, 13, "RegEnumKeyEx(") == 0) {
            auto a = Args(body);
            RegEnumKeyExW(Handle(a[0]), std::stoul(a[1]), name, &chars, nullptr, nullptr, nullptr, nullptr);
        } else if (body.compare(0, 13, "RegEnumValue(") == 0) {
            auto a = Args(body);
            RegEnumValueW(Handle(a[0]), std::stoul(a[1]), name, &chars, nullptr, &type, nullptr, nullptr);
        } else if (body.compare(0, 16, "RegQueryValueEx(") == 0) {
            auto a = Args(body);
            DWORD size = std::stoul(a[5]);
            data.resize(size);
            RegQueryValueExW(Handle(a[0]), Wide(a[1]).c_str(), nullptr, &type, data.data(), &size);
        } else if (body.compare(0, 15, "RegDeleteValue(") == 0) {
            auto a = Args(body);
            RegDeleteValueW(Handle(a[0]), Wide(a[1]).c_str());
        } else if (body.compare(0, 15, "RegDeleteKeyEx(") == 0) {
            auto a = Args(body);
            RegDeleteKeyExW(Handle(a[0]), Wide(a[1]).c_str(), KEY_WOW64_64KEY, 0);
        } else if (body.compare(0, 13, "RegDeleteKey(") == 0) {
            auto a = Args(body);
            RegDeleteKeyW(Handle(a[0]), Wide(a[1]).c_str());
        } else if (body.compare(0, 8, "Failed. ") == 0) {
            opened = nullptr;
        }
    }
    for (auto& h : g_handles) RegCloseKey(h.second);
    QueryPerformanceCounter(&end);
    if (boxes) MessageBoxW(nullptr, L"floor done", L"floor", MB_OK);
    std::printf("elapsed_ms=%.1f\n", 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                                         static_cast<double>(frequency.QuadPart));
    return 0;
}
