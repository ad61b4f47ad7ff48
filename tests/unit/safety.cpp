#include "safety.h"

#include "cleanup/cleanup.h"
#include "guid/guid.h"
#include "log/log.h"
#include "support.h"

#include <map>
#include <random>
#include <set>
#include <sstream>

namespace safety {

namespace {

const std::wstring FAMILY = L"09D7A2C4B1E653F4A9807B3D5EC1264F";
const std::wstring OTHER_FAMILY = L"1F2E3D4C5B6A79880716253443526170";

class Gen {
public:
    explicit Gen(uint64_t seed) : rng_(seed) {}
    bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng_) < p; }
    int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    std::wstring Hex(int n) {
        static const wchar_t* digits = L"0123456789ABCDEF";
        std::wstring s;
        for (int i = 0; i < n; ++i) s += digits[Int(0, 15)];
        return s;
    }
    // A 32-character code; now and then with letters in lower case.
    std::wstring Code() {
        std::wstring s = Hex(32);
        if (Chance(0.1))
            for (auto& c : s)
                if (c >= L'A' && c <= L'F') c = static_cast<wchar_t>(c + 32);
        return s;
    }
    template <typename T>
    const T& Pick(const std::vector<T>& v) {
        return v[static_cast<size_t>(Int(0, static_cast<int>(v.size()) - 1))];
    }

private:
    std::mt19937_64 rng_;
};

struct Product {
    std::wstring code;
    std::vector<std::wstring> patches;
};

std::wstring Odd(Gen& g) {
    switch (g.Int(0, 4)) {
        case 0: return g.Hex(31);
        case 1: return g.Hex(33);
        case 2: return std::wstring(L"\u3042") + g.Hex(31);  // 32 units, one above U+00FF
        case 3: return L"Patches";
        default: return std::wstring(static_cast<size_t>(g.Int(256, 300)), L'A');
    }
}

void AddProduct(Gen& g, const Product& p, const std::wstring& upgrade, bool wow64) {
    const std::wstring cls = paths::CLASSES;
    for (const auto& root : {cls, paths::MACHINE})
        if (g.Chance(0.95)) stub::SetString(root + L"\\UpgradeCodes\\" + upgrade, p.code, L"");
    if (g.Chance(0.9)) {
        const std::wstring key = cls + L"\\Products\\" + p.code;
        stub::SetString(key, L"ProductName", L"Product");
        if (g.Chance(0.5)) stub::SetString(key + L"\\SourceList\\Media", L"1", L"disk");
        if (g.Chance(0.7)) {
            stub::SetMultiString(key + L"\\Patches", L"Patches", p.patches);
            for (const auto& q : p.patches) stub::SetString(key + L"\\Patches", q, L"");
            if (g.Chance(0.2)) stub::SetString(key + L"\\Patches", Odd(g), L"");
            if (g.Chance(0.1)) stub::SetValue(key + L"\\Patches", g.Hex(32), REG_BINARY, {1, 2});
        }
    }
    for (const auto& q : p.patches)
        if (g.Chance(0.85)) stub::SetString(cls + L"\\Patches\\" + q, L"PackageName", L"fix.msp");
    if (g.Chance(0.9)) stub::SetString(cls + L"\\Features\\" + p.code, L"Main", L"");

    const std::wstring user = paths::USERDATA + L"\\Products\\" + p.code;
    if (g.Chance(0.85)) {
        stub::SetString(user + L"\\InstallProperties", L"DisplayName", L"Product");
        if (g.Chance(0.8)) {
            switch (g.Int(0, 9)) {
                case 0: stub::SetValue(user + L"\\Patches", L"AllPatches", REG_SZ, stub::Utf16Bytes(L"x")); break;
                case 1: stub::SetValue(user + L"\\Patches", L"AllPatches", REG_MULTI_SZ, {}); break;
                case 2: {  // not ended by an empty string
                    std::wstring text;
                    for (const auto& q : p.patches) text += q + std::wstring(1, L'\0');
                    stub::SetValue(user + L"\\Patches", L"AllPatches", REG_MULTI_SZ, stub::Utf16Bytes(text + g.Hex(32)));
                    break;
                }
                default: stub::SetMultiString(user + L"\\Patches", L"AllPatches", p.patches);
            }
            for (const auto& q : p.patches) stub::CreateKey(user + L"\\Patches\\" + q);
        }
    }
    for (const auto& q : p.patches)
        if (g.Chance(0.85)) stub::SetString(paths::USERDATA + L"\\Patches\\" + q, L"LocalPackage", L"x.msp");
    const std::wstring braced = UnpackGuid(p.code);
    if (g.Chance(0.9))
        stub::SetString((wow64 ? paths::UNINSTALL32 : paths::UNINSTALL) + L"\\" + braced, L"DisplayName", L"P");
    if (wow64 && g.Chance(0.3)) stub::SetString(paths::UNINSTALL + L"\\" + braced, L"DisplayName", L"64-bit");
}

}  // namespace

bool Generate(uint64_t seed, bool rich) {
    Gen g(seed);
    const bool wow64 = g.Chance(0.5);
    stub::ResetAll(wow64);
    stub::CreateKey(paths::CLASSES);
    stub::CreateKey(paths::MACHINE);
    if (g.Chance(0.97)) stub::CreateKey(paths::USERDATA + L"\\Components");

    std::vector<Product> family, others;
    for (int i = g.Int(rich ? 2 : 0, 4); i > 0; --i) family.push_back({g.Code(), {}});
    for (int i = g.Int(rich ? 1 : 0, 3); i > 0; --i) others.push_back({g.Code(), {}});
    if (!family.empty() && !others.empty() && g.Chance(0.1)) {
        // The same product code in letters of another case is another product.
        std::wstring c = family[0].code;
        for (auto& ch : c) ch = (ch >= L'A' && ch <= L'F') ? static_cast<wchar_t>(ch + 32) : ch;
        if (c != family[0].code) others[0].code = c;
    }
    for (auto* list : {&family, &others})
        for (auto& p : *list)
            for (int i = g.Chance(rich ? 0.8 : 0.4) ? g.Int(1, 3) : 0; i > 0; --i) p.patches.push_back(g.Code());
    if (g.Chance(0.05) && !family.empty())
        for (int i = 0; i < 17; ++i) family[0].patches.push_back(g.Code());  // past 1024 bytes

    for (const auto& p : family) AddProduct(g, p, FAMILY, wow64);
    for (const auto& p : others) AddProduct(g, p, OTHER_FAMILY, wow64);
    if (g.Chance(0.15)) stub::SetString(paths::CLASSES + L"\\UpgradeCodes\\" + FAMILY, Odd(g), L"");
    if (g.Chance(0.1)) stub::SetValue(paths::MACHINE + L"\\UpgradeCodes\\" + FAMILY, g.Hex(32), REG_DWORD, {1, 0, 0, 0});

    std::vector<std::wstring> clients;
    for (const auto& p : family) clients.push_back(p.code);
    for (const auto& p : others) clients.push_back(p.code);
    for (int i = g.Int(rich ? 4 : 0, 8); i > 0; --i) {
        const std::wstring key = paths::USERDATA + L"\\Components\\" + g.Hex(32);
        stub::CreateKey(key);
        if (!clients.empty())
            for (int n = g.Int(0, 3); n > 0; --n) {
                const std::wstring& c = g.Pick(clients);
                if (g.Chance(0.1))
                    stub::SetValue(key, c, REG_MULTI_SZ, stub::Utf16Bytes(std::wstring(2, L'\0')));
                else
                    stub::SetString(key, c, L"C:\\file.dll");
            }
        if (g.Chance(0.1)) stub::SetString(key + L"\\Sub", L"x", L"y");
        if (g.Chance(0.05)) stub::SetString(key, std::wstring(static_cast<size_t>(g.Int(256, 270)), L'V'), L"");
    }
    if (g.Chance(0.03)) stub::CreateKeyUnchecked(paths::USERDATA + L"\\Components", std::wstring(256, L'C'));
    return wow64;
}

namespace {

std::vector<std::wstring> Fields(const std::wstring& line) {
    std::vector<std::wstring> f;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find(L'\t', start);
        f.push_back(line.substr(start, tab == std::wstring::npos ? std::wstring::npos : tab - start));
        if (tab == std::wstring::npos) return f;
        start = tab + 1;
    }
}

// The family's registration in a snapshot, by what names it, independent of any run:
// the keys of its products, their patches and uninstall entries, its upgrade-code keys,
// its products' values in component keys, and component keys that hold nothing else.
class Owned {
public:
    explicit Owned(const std::vector<std::wstring>& snapshot) {
        const std::wstring classes = FoldCase(paths::CLASSES), user = FoldCase(paths::USERDATA);
        std::map<std::wstring, std::vector<std::pair<std::wstring, DWORD>>> values;
        for (auto& line : snapshot) {
            auto f = Fields(line);
            if (f[0] == L"V") values[FoldCase(f[1])].push_back({f[2], static_cast<DWORD>(std::stoul(f[3]))});
        }
        std::set<std::wstring> products;
        for (auto& root : {classes, FoldCase(paths::MACHINE)}) {
            keys_.insert(root + L"\\UPGRADECODES\\" + FAMILY);
            for (auto& v : values[root + L"\\UPGRADECODES\\" + FAMILY])
                if (v.second == REG_SZ && v.first.size() == 32) products.insert(v.first);
        }
        for (auto& p : products) {
            const std::wstring fp = FoldCase(p);
            for (auto& k : {classes + L"\\PRODUCTS\\" + fp, classes + L"\\FEATURES\\" + fp, user + L"\\PRODUCTS\\" + fp,
                            FoldCase(paths::UNINSTALL) + L"\\" + FoldCase(UnpackGuid(p)),
                            FoldCase(paths::UNINSTALL32) + L"\\" + FoldCase(UnpackGuid(p))})
                keys_.insert(k);
            for (auto& v : values[classes + L"\\PRODUCTS\\" + fp + L"\\PATCHES"])
                if (v.second == REG_SZ && v.first.size() == 32) Patch(v.first, classes, user);
        }
        for (auto& line : snapshot) {  // AllPatches lists of the family's products
            auto f = Fields(line);
            if (f[0] != L"V" || FoldCase(f[2]) != L"ALLPATCHES") continue;
            bool family = false;
            for (auto& p : products) family |= FoldCase(f[1]) == user + L"\\PRODUCTS\\" + FoldCase(p) + L"\\PATCHES";
            if (!family) continue;
            std::wstring text;
            for (size_t i = 0; i + 3 < f[4].size(); i += 4)
                text += static_cast<wchar_t>(std::stoul(f[4].substr(i + 2, 2) + f[4].substr(i, 2), nullptr, 16));
            size_t at = 0;
            while (at < text.size()) {
                size_t end = std::min(text.find(L'\0', at), text.size());
                if (end > at) Patch(text.substr(at, end - at), classes, user);
                at = end + 1;
            }
        }
        const std::wstring components = user + L"\\COMPONENTS\\";
        for (auto& entry : values) {
            if (entry.first.compare(0, components.size(), components) != 0) continue;
            bool all = true;
            for (auto& v : entry.second) {
                bool mine = v.second == REG_SZ && products.count(v.first);
                if (mine) values_.insert(entry.first + L"\t" + v.first);
                all &= mine;
            }
            if (all) keys_.insert(entry.first);
        }
        for (auto& line : snapshot) {  // component keys without values are removed whole
            auto f = Fields(line);
            std::wstring k = FoldCase(f[1]);
            if (f[0] == L"K" && k.compare(0, components.size(), components) == 0 && !values.count(k) &&
                k.find(L'\\', components.size()) == std::wstring::npos)
                keys_.insert(k);
        }
    }

    bool Has(const std::wstring& line) const {
        auto f = Fields(line);
        std::wstring path = FoldCase(f[1]);
        for (std::wstring k = path;; k = k.substr(0, k.rfind(L'\\'))) {
            if (keys_.count(k)) return true;
            if (k.find(L'\\') == std::wstring::npos) break;
        }
        return f[0] == L"V" && values_.count(path + L"\t" + f[2]);
    }

private:
    void Patch(const std::wstring& q, const std::wstring& classes, const std::wstring& user) {
        keys_.insert(classes + L"\\PATCHES\\" + FoldCase(q));
        keys_.insert(user + L"\\PATCHES\\" + FoldCase(q));
    }
    std::set<std::wstring> keys_;
    std::set<std::wstring> values_;
};

// Checks a finished trace: depth back to 0, every entry line with its exit line.
std::string TraceProblems(const std::string& path) {
    std::vector<std::string> lines = SplitTrace(ReadFile(path));
    std::vector<std::string> open;
    for (const auto& line : lines) {
        size_t tabs = line.find_first_not_of('\t');
        std::string body = line.substr(tabs);
        if (body.size() > 7 && body.compare(body.size() - 7, 7, " began.") == 0) {
            if (tabs != open.size()) return "entry line at depth " + std::to_string(tabs) + ": " + line;
            open.push_back(body.substr(0, body.find('(')));
        } else if (body.find("() ended. [") != std::string::npos) {
            std::string name = body.substr(0, body.find('('));
            if (open.empty() || open.back() != name) return "exit line without its entry: " + line;
            open.pop_back();
            if (tabs != open.size()) return "exit line at depth " + std::to_string(tabs) + ": " + line;
        }
    }
    if (!open.empty()) return "entry without exit: " + open.back();
    if (g_nLogIndent != 0) return "depth ends at " + std::to_string(g_nLogIndent);
    return "";
}

}  // namespace

std::string Check(uint64_t seed, const model::Fault& fault, bool keepTrace, bool rich) {
    const bool wow64 = Generate(seed, rich);
    const std::vector<std::wstring> before = stub::Snapshot();
    model::Run expected(before, wow64, fault);

    static const std::string dir = MakeTempDir();
    const std::string log = dir + "/RemoveVelkaro.log";
    stub::shell().moduleFileName = L"C:\\Tools\\RemoveVelkaro.exe";
    stub::shell().desktopDirectory = keepTrace ? Widen(dir) : L"";
    stub::shell().messageBoxAnswers = {IDOK, IDOK};
    if (fault.status != 0) stub::FailCall(fault.api, fault.path, fault.status, fault.occurrence);
    g_szLogPath[0] = 0;
    g_nLogIndent = 0;
    g_pfnRegDeleteKeyEx = nullptr;
    const int exitCode = wWinMain(nullptr, nullptr, const_cast<LPWSTR>(L""), 1);

    std::ostringstream problems;
    const std::vector<std::wstring> after = stub::Snapshot();
    if (after != expected.Snapshot()) {
        std::set<std::wstring> a(after.begin(), after.end()), e;
        for (auto& l : expected.Snapshot()) e.insert(l);
        for (auto& l : a)
            if (!e.count(l)) problems << "  not removed or unexpected: " << Narrow(l) << "\n";
        for (auto& l : e)
            if (!a.count(l)) problems << "  removed but should stay: " << Narrow(l) << "\n";
    }
    // Nothing outside the family's registration, even on a partial run.
    const Owned owned(before);
    std::set<std::wstring> left(after.begin(), after.end());
    for (auto& l : before)
        if (!left.count(l) && !owned.Has(l)) problems << "  removed outside the family: " << Narrow(l) << "\n";
    if (exitCode != expected.exitCode)
        problems << "  exit code " << exitCode << ", expected " << expected.exitCode << "\n";
    if (stub::RegistryCallCount() != expected.calls)
        problems << "  " << stub::RegistryCallCount() << " registry calls, expected " << expected.calls << "\n";
    if (stub::OpenHandleCount() != 0) problems << "  " << stub::OpenHandleCount() << " handles left open\n";
    if (stub::shell().librariesLoaded != 0) problems << "  advapi32.dll not released\n";
    if (keepTrace) {
        std::string t = TraceProblems(log);
        if (!t.empty()) problems << "  trace: " << t << "\n";
    }
    g_szLogPath[0] = 0;
    std::string out = problems.str();
    if (!out.empty()) {
        std::ostringstream head;
        head << "seed " << seed;
        if (fault.status != 0)
            head << " with call " << fault.occurrence << " of api " << static_cast<int>(fault.api) << " on "
                 << Narrow(fault.path) << " failing with " << fault.status;
        out = head.str() + ":\n" + out;
    }
    return out;
}

std::string Sweep(uint64_t seed, long& faults) {
    Generate(seed, true);
    // A clean run's calls, each with its occurrence on its key.
    stub::shell().moduleFileName = L"C:\\Tools\\RemoveVelkaro.exe";
    stub::shell().messageBoxAnswers = {IDOK, IDOK};
    g_szLogPath[0] = 0;
    g_nLogIndent = 0;
    g_pfnRegDeleteKeyEx = nullptr;
    wWinMain(nullptr, nullptr, const_cast<LPWSTR>(L""), 1);
    const std::vector<stub::CallRecord> calls = stub::RegistryCalls();
    std::map<std::pair<int, std::wstring>, int> seen;
    std::string out;
    for (const auto& call : calls) {
        int n = ++seen[{static_cast<int>(call.api), FoldCase(call.path)}];
        for (LONG status : {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_MORE_DATA, ERROR_KEY_DELETED}) {
            model::Fault fault;
            fault.api = call.api;
            fault.path = call.path;
            fault.occurrence = n;
            fault.status = status;
            ++faults;
            out += Check(seed, fault, false, true);
        }
    }
    return out;
}

}  // namespace safety
