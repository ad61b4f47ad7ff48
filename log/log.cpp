#include "log/log.h"

#include <cstdint>
#include <cwchar>

WCHAR g_szLogPath[MAX_PATH] = {0};
int g_nLogIndent = 0;

namespace {

const WCHAR DEFAULT_LOG_NAME[] = L"VelkaroSetup.log";

char HexDigit(unsigned v, bool upper) { return static_cast<char>(v < 10 ? '0' + v : (upper ? 'A' : 'a') + v - 10); }

void AppendHex(std::string& out, uintptr_t v, int minDigits, bool upper) {
    char buf[2 * sizeof(uintptr_t)];
    int n = 0;
    do {
        buf[n++] = HexDigit(static_cast<unsigned>(v & 0xF), upper);
        v >>= 4;
    } while (v != 0);
    while (n < minDigits) buf[n++] = '0';
    while (n > 0) out += buf[--n];
}

void AppendDecimal(std::string& out, int v) {
    // Through a wider type, so INT_MIN negates safely.
    long long w = v;
    if (w < 0) {
        out += '-';
        w = -w;
    }
    char buf[24];
    int n = 0;
    do {
        buf[n++] = static_cast<char>('0' + w % 10);
        w /= 10;
    } while (w != 0);
    while (n > 0) out += buf[--n];
}

void AppendWide(std::string& out, LPCWSTR s) {
    for (; *s; ++s) out += *s > 0xFF ? '?' : static_cast<char>(*s);
}

bool Contains(LPCWSTR text, LPCWSTR word) { return std::wcsstr(text, word) != nullptr; }

}  // namespace

void FormatLogText(std::string& out, LPCWSTR f, va_list args) {
    for (; *f; ++f) {
        if (*f != L'%') {
            out += *f > 0xFF ? '?' : static_cast<char>(*f);
            continue;
        }
        switch (*++f) {
            case L's': {
                LPCWSTR s = va_arg(args, LPCWSTR);
                AppendWide(out, s ? s : L"(null)");
                break;
            }
            case L'd':
                AppendDecimal(out, va_arg(args, int));
                break;
            case L'x':
                AppendHex(out, va_arg(args, unsigned), 1, false);
                break;
            case L'p':
                AppendHex(out, reinterpret_cast<uintptr_t>(va_arg(args, void*)), 8, true);
                break;
            case L'%':
                out += '%';
                break;
            case 0:  // a lone '%' at the end
                return;
            default:  // not a conversion of ours: written as it stands
                out += '%';
                out += *f > 0xFF ? '?' : static_cast<char>(*f);
                break;
        }
    }
}

void InitLog(LPCWSTR path) {
    g_szLogPath[0] = 0;
    if (path) {
        if (std::wcslen(path) >= MAX_PATH) return;  // would be cut: leave logging off
        std::wcscpy(g_szLogPath, path);
    } else {
        WCHAR temp[MAX_PATH];
        DWORD n = GetTempPathW(MAX_PATH, temp);
        if (n == 0 || n >= MAX_PATH) return;
        if (!PathCombineW(g_szLogPath, temp, DEFAULT_LOG_NAME)) g_szLogPath[0] = 0;
    }
    if (g_szLogPath[0] != 0) DeleteFileW(g_szLogPath);
}

void WriteLog(LPCWSTR format, ...) {
    if (g_szLogPath[0] == 0) return;
    if (Contains(format, L"ended.")) --g_nLogIndent;

    // Kept between lines so a long run does not allocate per line.
    static std::string line;
    line.clear();
    if (g_nLogIndent > 0) line.append(static_cast<size_t>(g_nLogIndent), '\t');
    va_list args;
    va_start(args, format);
    FormatLogText(line, format, args);
    va_end(args);
    line += "\r\n";

    // One open-append-close per line, unshared while open, so the file is complete up
    // to the last line at every moment and readable between lines.
    HANDLE file = CreateFileW(g_szLogPath, FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(file);
    }

    if (Contains(format, L"began.")) ++g_nLogIndent;
}
