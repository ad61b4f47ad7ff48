// Stand-ins for the kernel32, shell32, shlwapi and user32 calls: module look-ups and the
// WOW64 query answer from test controls, files are real host files (a Windows-style path
// has its backslashes turned into slashes), and message boxes answer from a script.
#include "stub_control.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

stub::Shell& Sh() {
    static stub::Shell s;
    return s;
}

thread_local DWORD g_lastError = 0;

const uintptr_t KERNEL32 = 0x7C800000;
const uintptr_t ADVAPI32 = 0x77DD0000;

bool SameAscii(const wchar_t* a, const wchar_t* b) {
    for (; *a && *b; ++a, ++b) {
        wchar_t x = (*a >= L'A' && *a <= L'Z') ? *a + 32 : *a;
        wchar_t y = (*b >= L'A' && *b <= L'Z') ? *b + 32 : *b;
        if (x != y) return false;
    }
    return *a == *b;
}

void Utf8Append(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

DWORD CopyOut(const std::wstring& s, LPWSTR buf, DWORD size) {
    if (s.size() + 1 > size) return static_cast<DWORD>(s.size() + 1);
    std::copy(s.begin(), s.end(), buf);
    buf[s.size()] = 0;
    return static_cast<DWORD>(s.size());
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

namespace stub {

Shell& shell() { return Sh(); }

void ResetShell() { Sh() = Shell(); }

void ResetAll(bool wow64) {
    ResetRegistry();
    SetRegistryWow64(wow64);
    ResetShell();
    Sh().wow64 = wow64 ? Wow64Query::Yes : Wow64Query::No;
}

std::string HostPath(const std::wstring& path) {
    std::string out;
    for (wchar_t c : path) Utf8Append(out, c == L'\\' ? L'/' : static_cast<uint32_t>(c));
    return out;
}

}  // namespace stub

DWORD GetLastError() { return g_lastError; }

void SetLastError(DWORD e) { g_lastError = e; }

HMODULE GetModuleHandleW(LPCWSTR name) {
    if (Sh().wow64 == stub::Wow64Query::NoKernel32 || !name || !SameAscii(name, L"kernel32.dll")) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(KERNEL32);
}

HMODULE LoadLibraryW(LPCWSTR name) {
    if (!Sh().advapiLoads || !name || !SameAscii(name, L"advapi32.dll")) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    ++Sh().librariesLoaded;
    return reinterpret_cast<HMODULE>(ADVAPI32);
}

BOOL FreeLibrary(HMODULE m) {
    if (reinterpret_cast<uintptr_t>(m) != ADVAPI32 || Sh().librariesLoaded == 0) return FALSE;
    --Sh().librariesLoaded;
    return TRUE;
}

FARPROC GetProcAddress(HMODULE m, LPCSTR name) {
    uintptr_t mod = reinterpret_cast<uintptr_t>(m);
    if (mod == KERNEL32 && std::strcmp(name, "IsWow64Process") == 0 &&
        Sh().wow64 != stub::Wow64Query::NoIsWow64Process)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&IsWow64Process));
    if (mod == ADVAPI32 && std::strcmp(name, "RegDeleteKeyExW") == 0 && Sh().hasRegDeleteKeyEx)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&RegDeleteKeyExW));
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

HANDLE GetCurrentProcess() { return INVALID_HANDLE_VALUE; }

BOOL IsWow64Process(HANDLE, PBOOL flag) {
    if (Sh().wow64 == stub::Wow64Query::CallFails) {
        SetLastError(Sh().wow64Error);
        return FALSE;
    }
    *flag = Sh().wow64 == stub::Wow64Query::Yes ? TRUE : FALSE;
    return TRUE;
}

DWORD GetModuleFileNameW(HMODULE, LPWSTR buf, DWORD size) {
    const std::wstring& p = Sh().moduleFileName;
    if (p.empty() || size == 0) return 0;
    if (p.size() + 1 > size) {  // truncated, terminated as on current Windows
        std::copy(p.begin(), p.begin() + (size - 1), buf);
        buf[size - 1] = 0;
        return size;
    }
    return CopyOut(p, buf, size);
}

DWORD GetTempPathW(DWORD size, LPWSTR buf) {
    if (Sh().tempDirectory.empty()) return 0;
    return CopyOut(Sh().tempDirectory, buf, size);
}

BOOL SHGetSpecialFolderPathW(HWND, LPWSTR path, int csidl, BOOL) {
    if (csidl != CSIDL_DESKTOPDIRECTORY || Sh().desktopDirectory.empty()) return FALSE;
    return CopyOut(Sh().desktopDirectory, path, MAX_PATH) < MAX_PATH ? TRUE : FALSE;
}

BOOL DeleteFileW(LPCWSTR name) {
    if (::unlink(stub::HostPath(name).c_str()) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, void*, DWORD disposition, DWORD, HANDLE) {
    if (disposition != OPEN_ALWAYS || !(access & (FILE_APPEND_DATA | GENERIC_WRITE))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | ((access & FILE_APPEND_DATA) ? O_APPEND : 0);
    int fd = ::open(stub::HostPath(name).c_str(), flags, 0644);
    if (fd < 0) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    // Share mode 0: no other opener while it is open. An exclusive lock models that.
    if (share == 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd) + 0x10000);
}

BOOL WriteFile(HANDLE h, LPCVOID data, DWORD size, LPDWORD written, void*) {
    int fd = static_cast<int>(reinterpret_cast<intptr_t>(h) - 0x10000);
    const char* p = static_cast<const char*>(data);
    DWORD done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, p + done, size - done);
        if (n <= 0) break;
        done += static_cast<DWORD>(n);
    }
    if (written) *written = done;
    return done == size ? TRUE : FALSE;
}

BOOL CloseHandle(HANDLE h) {
    return ::close(static_cast<int>(reinterpret_cast<intptr_t>(h) - 0x10000)) == 0 ? TRUE : FALSE;
}

LPWSTR PathFindFileNameW(LPCWSTR path) {
    LPCWSTR name = path;
    for (LPCWSTR p = path; *p; ++p)
        if ((*p == L'\\' || *p == L':' || *p == L'/') && p[1] && p[1] != L'\\' && p[1] != L'/') name = p + 1;
    return const_cast<LPWSTR>(name);
}

LPWSTR PathCombineW(LPWSTR dest, LPCWSTR dir, LPCWSTR file) {
    if (!dest) return nullptr;
    std::wstring out;
    std::wstring d = dir ? dir : L"";
    std::wstring f = file ? file : L"";
    if (!f.empty() && (IsSeparator(f[0]) || (f.size() > 1 && f[1] == L':'))) {
        out = f;  // an absolute file part stands alone
    } else if (d.empty()) {
        out = f;
    } else {
        out = d;
        if (!f.empty()) {
            if (!IsSeparator(out.back())) out += L'\\';
            out += f;
        }
    }
    if (out.size() >= MAX_PATH) {
        dest[0] = 0;
        return nullptr;
    }
    std::copy(out.begin(), out.end(), dest);
    dest[out.size()] = 0;
    return dest;
}

BOOL PathRenameExtensionW(LPWSTR path, LPCWSTR ext) {
    // The extension starts at the last '.' that no '\\' or space follows.
    LPWSTR dot = nullptr;
    LPWSTR p = path;
    for (; *p; ++p) {
        if (*p == L'\\' || *p == L' ') dot = nullptr;
        else if (*p == L'.') dot = p;
    }
    LPWSTR at = dot ? dot : p;
    size_t extLen = std::wcslen(ext);
    if (static_cast<size_t>(at - path) + extLen >= MAX_PATH) return FALSE;
    std::wcscpy(at, ext);
    return TRUE;
}

int MessageBoxW(HWND, LPCWSTR text, LPCWSTR caption, unsigned type) {
    Sh().messageBoxes.push_back({text ? text : L"", caption ? caption : L"", type});
    if (Sh().messageBoxAnswers.empty()) return IDCANCEL;
    int answer = Sh().messageBoxAnswers.front();
    Sh().messageBoxAnswers.pop_front();
    return answer;
}
