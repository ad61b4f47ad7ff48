#include "guid/guid.h"

#include <algorithm>
#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/join.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <vector>

namespace {

// Fields 4 and 5 swap the two characters of every pair; an odd length cannot be swapped.
bool SwapPairs(std::wstring& field) {
    if (field.size() % 2 != 0) return false;
    for (size_t i = 0; i < field.size(); i += 2) std::swap(field[i], field[i + 1]);
    return true;
}

}  // namespace

std::wstring PackGuid(const std::wstring& guid) {
    std::wstring text = boost::algorithm::trim_copy_if(guid, boost::algorithm::is_any_of(L"{}"));
    if (text.empty()) return std::wstring();
    std::vector<std::wstring> fields;
    boost::algorithm::split(fields, text, boost::algorithm::is_any_of(L"-"), boost::algorithm::token_compress_off);
    if (fields.size() != 5) return std::wstring();
    for (int i = 0; i < 3; ++i) std::reverse(fields[i].begin(), fields[i].end());
    if (!SwapPairs(fields[3]) || !SwapPairs(fields[4])) return std::wstring();
    return boost::algorithm::join(fields, L"");
}

std::wstring UnpackGuid(const std::wstring& packed) {
    if (packed.size() != 32) return std::wstring();
    std::vector<std::wstring> fields = {packed.substr(0, 8), packed.substr(8, 4), packed.substr(12, 4),
                                        packed.substr(16, 4), packed.substr(20, 12)};
    for (int i = 0; i < 3; ++i) std::reverse(fields[i].begin(), fields[i].end());
    SwapPairs(fields[3]);
    SwapPairs(fields[4]);
    std::wstring text = boost::algorithm::join(fields, L"-");
    boost::algorithm::trim_right_if(text, boost::algorithm::is_any_of(L"-"));
    return L"{" + text + L"}";
}
