// The trace formatter on arbitrary formats and arguments: each conversion writes exactly
// its documented bytes, each other unit one byte.
#include "log/log.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void Require(bool ok) {
    if (!ok) std::abort();
}

void Format(std::string& out, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    FormatLogText(out, format, args);
    va_end(args);
}

char Byte(wchar_t c) { return c > 0xFF ? '?' : static_cast<char>(c); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t i = 0;
    auto next = [&]() -> uint8_t { return i < size ? data[i++] : 0; };
    std::string out, expected;
    while (i < size) {
        // A literal run (no '%'), then one conversion with its argument.
        std::wstring literal;
        for (int n = next() % 8; n > 0; --n) {
            wchar_t c = static_cast<wchar_t>(next() | ((next() & 1) ? 0x3000 : 0));
            literal += c == L'%' || c == 0 ? L'_' : c;
        }
        for (wchar_t c : literal) expected += Byte(c);
        uint32_t v = static_cast<uint32_t>(next() | next() << 8 | next() << 16 | next() << 24);
        std::wstring format = literal;
        switch (next() % 5) {
            case 0: {
                std::wstring s;
                for (int n = next() % 6; n > 0; --n) s += static_cast<wchar_t>(1 + next() + ((v & 1) ? 0x100 : 0));
                Format(out, (format + L"%s").c_str(), s.c_str());
                for (wchar_t c : s) expected += Byte(c);
                break;
            }
            case 1: {
                char buf[16];
                std::snprintf(buf, sizeof buf, "%d", static_cast<int>(v));
                Format(out, (format + L"%d").c_str(), static_cast<int>(v));
                expected += buf;
                break;
            }
            case 2: {
                char buf[16];
                std::snprintf(buf, sizeof buf, "%x", v);
                Format(out, (format + L"%x").c_str(), v);
                expected += buf;
                break;
            }
            case 3: {
                char buf[32];
                std::snprintf(buf, sizeof buf, "%08llX", static_cast<unsigned long long>(v));
                Format(out, (format + L"%p").c_str(), reinterpret_cast<void*>(static_cast<uintptr_t>(v)));
                expected += buf;
                break;
            }
            default:
                Format(out, (format + L"%%").c_str());
                expected += '%';
        }
        Require(out == expected);
    }
    return 0;
}
