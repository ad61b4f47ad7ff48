#include "model.h"

#include "support.h"

#include <algorithm>
#include <cstdio>

namespace model {

namespace {

const std::wstring UPGRADE = L"09D7A2C4B1E653F4A9807B3D5EC1264F";
const std::wstring CLASSES = L"SOFTWARE\\Classes\\Installer";
const std::wstring MACHINE = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer";

std::vector<std::wstring> Parts(const std::wstring& path) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::wstring Normal(const std::wstring& path) {
    std::wstring out;
    for (auto& p : Parts(path)) out += (out.empty() ? L"" : L"\\") + p;
    return out;
}

// Braced form of a packed code: fields 1-3 reversed, pairs of 4 and 5 swapped.
std::wstring Braced(const std::wstring& packed) {
    if (packed.size() != 32) return L"";
    auto rev = [&](size_t at, size_t n) { return std::wstring(packed.rbegin() + (32 - at - n), packed.rbegin() + (32 - at)); };
    auto swp = [&](size_t at, size_t n) {
        std::wstring s;
        for (size_t i = at; i < at + n; i += 2) s += std::wstring{packed[i + 1], packed[i]};
        return s;
    };
    std::wstring text = rev(0, 8) + L"-" + rev(8, 4) + L"-" + rev(12, 4) + L"-" + swp(16, 4) + L"-" + swp(20, 12);
    while (!text.empty() && text.back() == L'-') text.pop_back();
    return L"{" + text + L"}";
}

std::vector<BYTE> FromHex(const std::wstring& hex) {
    std::vector<BYTE> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<BYTE>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

void Dump(const Key& k, const std::wstring& path, std::vector<std::wstring>& out) {
    if (!path.empty()) out.push_back(L"K\t" + path);
    for (auto& v : k.values) {
        std::wstring hex;
        for (BYTE b : v.data) {
            wchar_t buf[4];
            std::swprintf(buf, 4, L"%02x", b);
            hex += buf;
        }
        out.push_back(L"V\t" + path + L"\t" + v.name + L"\t" + std::to_wstring(v.type) + L"\t" + hex);
    }
    for (auto& c : k.children) Dump(*c.second, path.empty() ? c.second->name : path + L"\\" + c.second->name, out);
}

Value* FindValue(Key& k, const std::wstring& name) {
    for (auto& v : k.values)
        if (FoldCase(v.name) == FoldCase(name)) return &v;
    return nullptr;
}

}  // namespace

Run::Run(const std::vector<std::wstring>& snapshot, bool wow64, Fault fault)
    : root_(new Key), wow64_(wow64), fault_(std::move(fault)) {
    fault_.path = FoldCase(Normal(fault_.path));
    for (const auto& line : snapshot) {
        std::vector<std::wstring> f;
        size_t start = 0;
        for (;;) {
            size_t tab = line.find(L'\t', start);
            f.push_back(line.substr(start, tab == std::wstring::npos ? std::wstring::npos : tab - start));
            if (tab == std::wstring::npos) break;
            start = tab + 1;
        }
        Key* k = root_.get();
        for (auto& p : Parts(f[1])) {
            auto& slot = k->children[FoldCase(p)];
            if (!slot) {
                slot.reset(new Key);
                slot->name = p;
            }
            k = slot.get();
        }
        if (f[0] == L"V") k->values.push_back(Value{f[2], static_cast<DWORD>(std::stoul(f[3])), FromHex(f[4])});
    }
    exitCode = Installer() == ERROR_SUCCESS ? 0 : 1;
}

std::vector<std::wstring> Run::Snapshot() const {
    std::vector<std::wstring> out;
    Dump(*root_, L"", out);
    return out;
}

Key* Run::Find(const std::wstring& path) const {
    Key* k = root_.get();
    for (auto& p : Parts(path)) {
        auto it = k->children.find(FoldCase(p));
        if (it == k->children.end()) return nullptr;
        k = it->second.get();
    }
    return k;
}

LONG Run::OpenStatus(const std::wstring& path) const {
    for (auto& p : Parts(path))
        if (p.size() > 255) return ERROR_INVALID_PARAMETER;
    return Find(path) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG Run::EnumStatus(size_t index, size_t count, const std::wstring& name) {
    if (index >= count) return ERROR_NO_MORE_ITEMS;
    return name.size() >= 256 ? ERROR_MORE_DATA : ERROR_SUCCESS;
}

LONG Run::EnumValue(const std::wstring& key, size_t index, Value& value) {
    Key* k = Find(key);
    LONG natural = !k ? ERROR_KEY_DELETED
                      : EnumStatus(index, k->values.size(), index < k->values.size() ? k->values[index].name : L"");
    LONG s = Call(stub::Api::EnumValue, key, natural);
    if (s == ERROR_SUCCESS) value = k->values[index];
    return s;
}

LONG Run::Call(stub::Api api, const std::wstring& path, LONG natural) {
    ++calls;
    const std::wstring key = FoldCase(Normal(path));
    int n = ++seen_[{static_cast<int>(api), key}];
    injected_ = fault_.status != 0 && fault_.api == api && fault_.path == key && fault_.occurrence == n;
    return injected_ ? fault_.status : natural;
}

LONG Run::Installer() {
    LONG s = Call(stub::Api::OpenKey, CLASSES, OpenStatus(CLASSES));
    if (s == ERROR_SUCCESS) s = UpgradeCodes(CLASSES, true);
    if (s != ERROR_SUCCESS) return s;
    s = Call(stub::Api::OpenKey, MACHINE, OpenStatus(MACHINE));
    if (s == ERROR_SUCCESS) s = UpgradeCodes(MACHINE, false);
    return s;
}

LONG Run::UpgradeCodes(const std::wstring& root, bool classes) {
    const std::wstring key = root + L"\\UpgradeCodes\\" + UPGRADE;
    LONG s = Call(stub::Api::OpenKey, key, OpenStatus(key));
    if (s != ERROR_SUCCESS) return s;
    Value v;
    for (size_t i = 0; (s = EnumValue(key, i, v)) == ERROR_SUCCESS; ++i)
        if (v.type == REG_SZ && v.name.size() == 32) classes ? ClassesProduct(root, v.name) : MachineProduct(root, v.name);
    return s == ERROR_NO_MORE_ITEMS ? DeleteTree(key) : s;
}

LONG Run::ClassesProduct(const std::wstring& root, const std::wstring& product) {
    const std::wstring key = root + L"\\Products\\" + product;
    LONG s = Call(stub::Api::OpenKey, key, OpenStatus(key));
    if (s != ERROR_SUCCESS) return s;
    const std::wstring patches = key + L"\\Patches";
    s = Call(stub::Api::OpenKey, patches, OpenStatus(patches));
    if (s == ERROR_FILE_NOT_FOUND) {
        s = ERROR_SUCCESS;  // no patches
    } else if (s == ERROR_SUCCESS) {
        Value v;
        for (size_t i = 0; (s = EnumValue(patches, i, v)) == ERROR_SUCCESS; ++i)
            if (v.type == REG_SZ && v.name.size() == 32) DeleteTree(root + L"\\Patches\\" + v.name);
        if (s == ERROR_NO_MORE_ITEMS) s = ERROR_SUCCESS;
    }
    if (s == ERROR_SUCCESS) s = DeleteTree(key);
    if (s == ERROR_SUCCESS) s = DeleteTree(root + L"\\Features\\" + product);
    return s;
}

LONG Run::MachineProduct(const std::wstring& root, const std::wstring& product) {
    const std::wstring userData = root + L"\\UserData\\S-1-5-18";
    LONG s = Call(stub::Api::OpenKey, userData, OpenStatus(userData));
    if (s != ERROR_SUCCESS) return s;
    s = Components(userData, product);
    if (s == ERROR_SUCCESS) s = UserDataProduct(userData, product);
    if (s == ERROR_SUCCESS) {
        const std::wstring software = wow64_ ? L"SOFTWARE\\Wow6432Node" : L"SOFTWARE";
        s = DeleteTree(software + L"\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + Braced(product));
    }
    return s;
}

LONG Run::Components(const std::wstring& userData, const std::wstring& product) {
    const std::wstring list = userData + L"\\Components";
    LONG result = Call(stub::Api::OpenKey, list, OpenStatus(list));
    if (result != ERROR_SUCCESS) return result;
    std::vector<std::wstring> names;
    for (size_t i = 0;; ++i) {
        Key* k = Find(list);
        std::wstring name;
        if (k && i < k->children.size()) name = std::next(k->children.begin(), static_cast<long>(i))->second->name;
        LONG s = Call(stub::Api::EnumKey, list, !k ? ERROR_KEY_DELETED : EnumStatus(i, k->children.size(), name));
        if (s == ERROR_SUCCESS) {
            names.push_back(name);
            continue;
        }
        result = s == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : s;
        break;
    }
    for (const auto& name : names) {
        const std::wstring key = list + L"\\" + name;
        LONG s = Call(stub::Api::OpenKey, key, OpenStatus(key));
        if (s != ERROR_SUCCESS) {
            result = s;
            continue;
        }
        bool exclusive = true;
        std::vector<std::wstring> mine;
        Value v;
        for (size_t i = 0; (s = EnumValue(key, i, v)) == ERROR_SUCCESS; ++i) {
            if (v.type == REG_SZ && v.name == product)
                mine.push_back(v.name);
            else
                exclusive = false;
        }
        result = s == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : s;
        if (s != ERROR_NO_MORE_ITEMS) exclusive = false;  // unread values may be others'
        for (const auto& v : mine) {
            Key* k = Find(key);
            Value* found = k ? FindValue(*k, v) : nullptr;
            s = Call(stub::Api::DeleteValue, key,
                     !k ? ERROR_KEY_DELETED : found ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
            if (s == ERROR_SUCCESS) k->values.erase(k->values.begin() + (found - k->values.data()));
            result = s;
        }
        if (exclusive) result = DeleteTree(key);
    }
    return result;
}

LONG Run::UserDataProduct(const std::wstring& userData, const std::wstring& product) {
    const std::wstring key = userData + L"\\Products\\" + product;
    if (Call(stub::Api::OpenKey, key, OpenStatus(key)) == ERROR_SUCCESS) {
        const std::wstring patches = key + L"\\Patches";
        if (Call(stub::Api::OpenKey, patches, OpenStatus(patches)) == ERROR_SUCCESS) {
            Key* k = Find(patches);
            Value* v = k ? FindValue(*k, L"AllPatches") : nullptr;
            LONG s = Call(stub::Api::QueryValue, patches,
                          !v ? ERROR_FILE_NOT_FOUND : v->data.size() > 1024 ? ERROR_MORE_DATA : ERROR_SUCCESS);
            if (s == ERROR_MORE_DATA) {
                // Asked again with the size the registry reported; an injected failure
                // reports none, so the size asked stays 1024.
                size_t asked = v && !injected_ ? v->data.size() : 1024;
                s = Call(stub::Api::QueryValue, patches,
                         !v ? ERROR_FILE_NOT_FOUND : v->data.size() <= asked ? ERROR_SUCCESS : ERROR_MORE_DATA);
            }
            if (s == ERROR_SUCCESS && v->type == REG_MULTI_SZ) {
                std::wstring text;
                for (size_t i = 0; i + 1 < v->data.size(); i += 2)
                    text += static_cast<wchar_t>(v->data[i] | (v->data[i + 1] << 8));
                std::vector<std::wstring> list;
                size_t at = 0;
                while (at < text.size()) {
                    size_t end = std::min(text.find(L'\0', at), text.size());
                    if (end == at) break;
                    list.push_back(text.substr(at, end - at));
                    at = end + 1;
                }
                for (const auto& q : list) DeleteTree(userData + L"\\Patches\\" + q);
            }
        }
    }
    return DeleteTree(key);
}

LONG Run::DeleteTree(const std::wstring& path) {
    LONG s = Call(stub::Api::OpenKey, path, OpenStatus(path));
    if (s != ERROR_SUCCESS) return s;
    std::wstring last;
    LONG lastStatus = ERROR_SUCCESS;
    for (;;) {
        Key* k = Find(path);
        std::wstring first = k && !k->children.empty() ? k->children.begin()->second->name : L"";
        LONG natural = !k ? ERROR_KEY_DELETED : EnumStatus(0, k->children.size(), first);
        s = Call(stub::Api::EnumKey, path, natural);
        if (s != ERROR_SUCCESS) break;
        if (!last.empty() && first == last) return lastStatus != ERROR_SUCCESS ? lastStatus : ERROR_ACCESS_DENIED;
        lastStatus = DeleteTree(path + L"\\" + first);
        last = first;
    }
    if (s != ERROR_NO_MORE_ITEMS) return s;
    Key* k = Find(path);
    s = Call(stub::Api::DeleteKey, path,
             !k ? ERROR_FILE_NOT_FOUND : !k->children.empty() ? ERROR_ACCESS_DENIED : ERROR_SUCCESS);
    if (s == ERROR_SUCCESS) {
        auto parts = Parts(path);
        Key* parent = root_.get();
        for (size_t i = 0; i + 1 < parts.size(); ++i) parent = parent->children[FoldCase(parts[i])].get();
        parent->children.erase(FoldCase(parts.back()));
    }
    return s;
}

}  // namespace model
