// Packed GUID conversions on arbitrary text: length rules and round trips.
#include "guid/guid.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Require(bool ok) {
    if (!ok) std::abort();
}

std::wstring Text(const uint8_t* data, size_t size) {
    // Mostly the characters that matter here, now and then any UTF-16 unit.
    static const wchar_t common[] = L"0123456789ABCDEFabcdef{}-- x";
    std::wstring s;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF && i + 2 < size) {
            s += static_cast<wchar_t>(data[i + 1] | (data[i + 2] << 8));
            i += 2;
        } else {
            s += common[data[i] % (sizeof(common) / sizeof(wchar_t) - 1)];
        }
    }
    return s;
}

bool Plain(const std::wstring& s) { return s.find_first_of(L"{}-") == std::wstring::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::wstring s = Text(data, size);

    // Pack: empty, or the text less its end braces and its four dashes.
    const std::wstring packed = PackGuid(s);
    size_t b = s.find_first_not_of(L"{}");
    size_t e = s.find_last_not_of(L"{}");
    std::wstring inner = b == std::wstring::npos ? L"" : s.substr(b, e - b + 1);
    size_t dashes = static_cast<size_t>(std::count(inner.begin(), inner.end(), L'-'));
    if (dashes != 4) Require(packed.empty());
    if (!packed.empty()) Require(packed.size() == inner.size() - 4);

    // Unpack: empty unless 32 characters; at most 38.
    const std::wstring braced = UnpackGuid(s);
    Require(braced.empty() == (s.size() != 32));
    if (!braced.empty()) Require(braced.size() <= 38 && braced.front() == L'{' && braced.back() == L'}');

    // Round trips on well-formed values.
    if (s.size() == 32 && Plain(s)) Require(PackGuid(UnpackGuid(s)) == s);
    if (inner.size() == 36 && dashes == 4 && inner[8] == L'-' && inner[13] == L'-' && inner[18] == L'-' &&
        inner[23] == L'-' && s.find_first_of(L"{}", b) >= b + 36)
        Require(UnpackGuid(PackGuid(s)) == L"{" + inner + L"}");
    return 0;
}
