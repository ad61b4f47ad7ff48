#include "support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>


std::string MakeTempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "velkaro-XXXXXX").string();
    char* made = mkdtemp(tmpl.data());
    if (!made) std::abort();
    return made;
}

void RemoveTree(const std::string& dir) {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::string Narrow(const std::wstring& s) {
    std::string out;
    for (wchar_t c : s) out += c > 0x7F ? '?' : static_cast<char>(c);
    return out;
}

std::vector<std::string> SplitTrace(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) break;
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    EXPECT_EQ(start, bytes.size()) << "trace does not end with CR LF";
    return lines;
}

std::vector<std::string> Normalize(const std::vector<std::string>& lines) {
    static const std::regex token("(^|[(\\[ ])([0-9A-F]{8,16})(?=[,\\])])");
    std::map<std::string, std::string> names;
    std::vector<std::string> out;
    for (const auto& line : lines) {
        std::string result;
        auto begin = std::sregex_iterator(line.begin(), line.end(), token);
        size_t last = 0;
        for (auto it = begin; it != std::sregex_iterator(); ++it) {
            const std::smatch& m = *it;
            std::string value = m[2].str();
            size_t at = static_cast<size_t>(m.position(2));
            result += line.substr(last, at - last);
            if (value == "80000002") {
                result += value;
            } else {
                auto found = names.find(value);
                if (found == names.end())
                    found = names.emplace(value, "H" + std::to_string(names.size() + 1)).first;
                result += found->second;
            }
            last = at + value.size();
        }
        result += line.substr(last);
        out.push_back(result);
    }
    return out;
}

std::wstring FoldCase(std::wstring s) {
    for (auto& c : s)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - 32);
    return s;
}

std::vector<std::wstring> Without(const std::vector<std::wstring>& snapshot, const std::vector<std::wstring>& keys,
                                  const std::vector<std::pair<std::wstring, std::wstring>>& values) {
    std::vector<std::wstring> out;
    for (const auto& line : snapshot) {
        // "K\tpath" or "V\tpath\tname\t..."
        size_t pathEnd = line.find(L'\t', 2);
        std::wstring path = FoldCase(line.substr(2, pathEnd == std::wstring::npos ? std::wstring::npos : pathEnd - 2));
        bool drop = false;
        for (const auto& k : keys) {
            std::wstring fk = FoldCase(k);
            if (path == fk || path.compare(0, fk.size() + 1, fk + L"\\") == 0) drop = true;
        }
        if (!drop && line[0] == L'V') {
            size_t nameEnd = line.find(L'\t', pathEnd + 1);
            std::wstring name = line.substr(pathEnd + 1, nameEnd - pathEnd - 1);
            for (const auto& v : values)
                if (FoldCase(v.first) == path && FoldCase(v.second) == FoldCase(name)) drop = true;
        }
        if (!drop) out.push_back(line);
    }
    return out;
}

void MachineTest::Reset(bool wow64) {
    if (!dir_.empty()) RemoveTree(dir_);
    stub::ResetAll(wow64);
    g_pfnRegDeleteKeyEx = nullptr;
    g_nLogIndent = 0;
    dir_ = MakeTempDir();
    logPath_ = dir_ + "/trace.log";
    InitLog(Widen(logPath_).c_str());
}

void MachineTest::TearDown() {
    g_szLogPath[0] = 0;
    g_nLogIndent = 0;
    g_pfnRegDeleteKeyEx = nullptr;
    RemoveTree(dir_);
}

std::vector<std::string> MachineTest::RawTrace() const { return SplitTrace(ReadFile(logPath_)); }

std::vector<std::string> MachineTest::Trace() const { return Normalize(RawTrace()); }

std::vector<std::string> LeafDeletion(int tabs, const std::string& parent, const std::string& path,
                                      const std::string& key, int flag, bool ex) {
    const std::string t(static_cast<size_t>(tabs), '\t');
    const std::string mask = flag == 1 ? "10108" : "10008";
    return {
        t + "RegDeleteKeyNT(" + parent + ", \"" + path + "\", " + std::to_string(flag) + ") began.",
        t + "\tRegOpenKeyEx(" + parent + ", \"" + path + "\", 0, " + mask + ", ?)",
        t + "\t\tSucceeded! [" + key + "]",
        t + "\tRegEnumKeyEx(" + key + ", 0, ?, 256, NULL, NULL, NULL, NULL)",
        t + "\t\tFinished.",
        t + "\t" + (ex ? "RegDeleteKeyEx(" + parent + ", \"" + path + "\", KEY_WOW64_64KEY, 0)"
                       : "RegDeleteKey(" + parent + ", \"" + path + "\")"),
        t + "\t\tSucceeded!",
        t + "RegDeleteKeyNT() ended. [0]",
    };
}

void Add(std::vector<std::string>& lines, const std::vector<std::string>& more) {
    lines.insert(lines.end(), more.begin(), more.end());
}
