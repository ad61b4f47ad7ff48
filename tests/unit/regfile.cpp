#include "regfile.h"

#include "platform/stub_control.h"
#include "support.h"

#include <sstream>

namespace {

std::wstring Decode(const std::string& bytes) {
    std::wstring out;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            out += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1]) << 8);
        return out;
    }
    for (size_t i = 0; i < bytes.size();) {  // UTF-8
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        int n = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
        uint32_t v = n == 0 ? c : c & (0x3F >> n);
        for (int k = 1; k <= n && i + k < bytes.size(); ++k) v = v << 6 | (static_cast<unsigned char>(bytes[i + k]) & 0x3F);
        out += static_cast<wchar_t>(v);
        i += static_cast<size_t>(n) + 1;
    }
    return out;
}

std::vector<BYTE> HexBytes(const std::wstring& text) {
    std::vector<BYTE> out;
    std::wstringstream in(text);
    std::wstring item;
    while (std::getline(in, item, L','))
        if (!item.empty()) out.push_back(static_cast<BYTE>(std::stoul(item, nullptr, 16)));
    return out;
}

std::wstring Unquote(const std::wstring& s, size_t& at) {
    std::wstring out;
    for (++at; at < s.size() && s[at] != L'"'; ++at) {
        if (s[at] == L'\\' && at + 1 < s.size()) ++at;
        out += s[at];
    }
    ++at;
    return out;
}

}  // namespace

std::string LoadRegFile(const std::string& path) {
    std::wstring text = Decode(ReadFile(path));
    std::wstringstream in(text);
    std::wstring line, key, pending;
    const std::wstring root = L"HKEY_LOCAL_MACHINE\\";
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        if (!pending.empty()) {
            size_t start = line.find_first_not_of(L" \t");
            line = pending + (start == std::wstring::npos ? L"" : line.substr(start));
            pending.clear();
        }
        if (!line.empty() && line.back() == L'\\' && line[0] != L'[') {
            pending = line.substr(0, line.size() - 1);
            continue;
        }
        if (line.empty() || line[0] == L';' || line.rfind(L"REGEDIT4", 0) == 0 || line.rfind(L"Windows Registry", 0) == 0)
            continue;
        if (line[0] == L'[') {
            std::wstring name = line.substr(1, line.rfind(L']') - 1);
            if (name.compare(0, root.size(), root) != 0) return "not under HKEY_LOCAL_MACHINE: " + Narrow(name);
            key = name.substr(root.size());
            stub::CreateKey(key);
            continue;
        }
        size_t at = 0;
        std::wstring name;
        if (line[0] == L'@') {
            at = 1;
        } else if (line[0] == L'"') {
            name = Unquote(line, at);
        } else {
            return "cannot read: " + Narrow(line);
        }
        if (at >= line.size() || line[at] != L'=') return "cannot read: " + Narrow(line);
        std::wstring data = line.substr(at + 1);
        if (!data.empty() && data[0] == L'"') {
            size_t q = 0;
            stub::SetString(key, name, Unquote(data, q));
        } else if (data.rfind(L"dword:", 0) == 0) {
            uint32_t v = static_cast<uint32_t>(std::stoul(data.substr(6), nullptr, 16));
            stub::SetValue(key, name, REG_DWORD,
                           {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16), static_cast<BYTE>(v >> 24)});
        } else if (data.rfind(L"hex:", 0) == 0) {
            stub::SetValue(key, name, REG_BINARY, HexBytes(data.substr(4)));
        } else if (data.rfind(L"hex(", 0) == 0) {
            size_t close = data.find(L')');
            DWORD type = static_cast<DWORD>(std::stoul(data.substr(4, close - 4), nullptr, 16));
            stub::SetValue(key, name, type, HexBytes(data.substr(close + 2)));
        } else {
            return "cannot read: " + Narrow(line);
        }
    }
    return "";
}
