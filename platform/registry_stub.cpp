// In-memory registry with the semantics the cleanup meets on Windows: names compared
// without regard to case and stored with their case, subkeys enumerated sorted, values in
// insertion order, access checked against each handle's mask, deleted keys reported on
// the handles still open on them, and the WOW64 redirection of HKLM\SOFTWARE.
#include "stub_control.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

namespace {

wchar_t Fold(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

std::wstring FoldAll(const std::wstring& s) {
    std::wstring r(s);
    for (auto& c : r) c = Fold(c);
    return r;
}

bool SameName(const std::wstring& a, const std::wstring& b) { return FoldAll(a) == FoldAll(b); }

struct Value {
    std::wstring name;
    DWORD type;
    std::vector<BYTE> data;
};

struct Node {
    std::wstring name;
    std::wstring path;  // physical path below HKLM, with stored case
    std::map<std::wstring, std::shared_ptr<Node>> children;  // keyed by folded name: sorted enumeration
    std::vector<Value> values;
    bool deleted = false;
    // Where the last enumeration stood, so that walking the indexes in order costs O(1)
    // a step; any change of the children forgets it.
    size_t cursorIndex = 0;
    std::map<std::wstring, std::shared_ptr<Node>>::iterator cursor;
    bool cursorValid = false;
};

// The child at `index` in enumeration order.
Node& ChildAt(Node& n, size_t index) {
    if (!n.cursorValid || n.cursorIndex > index) {
        n.cursor = n.children.begin();
        n.cursorIndex = 0;
        n.cursorValid = true;
    }
    std::advance(n.cursor, static_cast<long>(index - n.cursorIndex));
    n.cursorIndex = index;
    return *n.cursor->second;
}

struct Handle {
    std::shared_ptr<Node> node;
    REGSAM sam;
};

struct Fault {
    stub::Api api;
    std::wstring path;  // folded; empty matches every key
    LONG status;
    int nth;
    int seen = 0;
};

struct State {
    std::shared_ptr<Node> root = std::make_shared<Node>();
    bool wow64 = false;
    std::map<uintptr_t, Handle> handles;
    uintptr_t nextHandle = 0x40;
    std::vector<Fault> faults;
    long failCallNumber = 0;
    LONG failCallStatus = 0;
    std::vector<stub::CallRecord> calls;
};

State& S() {
    static State state;
    return state;
}

std::vector<std::wstring> SplitPath(const std::wstring& path) {
    std::vector<std::wstring> parts;
    std::wstring cur;
    for (wchar_t c : path) {
        if (c == L'\\') {
            if (!cur.empty()) parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) parts.push_back(cur);
    return parts;
}

std::wstring JoinPath(const std::wstring& a, const std::wstring& b) { return a.empty() ? b : a + L"\\" + b; }

// The view of a path given under HKLM: in the default view of a WOW64 process
// SOFTWARE\X lands in SOFTWARE\Wow6432Node\X, except for the shared SOFTWARE\Classes.
void Redirect(std::vector<std::wstring>& parts, REGSAM sam) {
    bool to32 = S().wow64 ? !(sam & KEY_WOW64_64KEY) : false;
    if (sam & KEY_WOW64_32KEY) to32 = S().wow64;
    if (!to32 || parts.size() < 2 || !SameName(parts[0], L"SOFTWARE")) return;
    if (SameName(parts[1], L"Classes") || SameName(parts[1], L"Wow6432Node")) return;
    parts.insert(parts.begin() + 1, L"Wow6432Node");
}

// Resolves a handle to its key; HKLM is the root.
LONG Resolve(HKEY h, std::shared_ptr<Node>& node, REGSAM& sam) {
    if (h == HKEY_LOCAL_MACHINE) {
        node = S().root;
        sam = 0xF003F;
        return ERROR_SUCCESS;
    }
    auto it = S().handles.find(reinterpret_cast<uintptr_t>(h));
    if (it == S().handles.end()) return ERROR_INVALID_HANDLE;
    if (it->second.node->deleted) return ERROR_KEY_DELETED;
    node = it->second.node;
    sam = it->second.sam;
    return ERROR_SUCCESS;
}

// The physical path a relative path names, and the parts to walk from the parent.
std::wstring Target(HKEY h, const std::shared_ptr<Node>& parent, const std::wstring& sub, REGSAM sam,
                    std::vector<std::wstring>& parts) {
    parts = SplitPath(sub);
    if (h == HKEY_LOCAL_MACHINE) Redirect(parts, sam);
    std::wstring path = parent->path;
    for (auto& p : parts) path = JoinPath(path, p);
    return path;
}

std::shared_ptr<Node> Walk(std::shared_ptr<Node> node, const std::vector<std::wstring>& parts) {
    for (auto& p : parts) {
        auto it = node->children.find(FoldAll(p));
        if (it == node->children.end()) return nullptr;
        node = it->second;
    }
    return node;
}

// Counts the call, records it, and returns an injected status or 0.
LONG Enter(stub::Api api, const std::wstring& path) {
    State& s = S();
    s.calls.push_back({api, path});
    if (s.failCallNumber != 0 && static_cast<long>(s.calls.size()) == s.failCallNumber) return s.failCallStatus;
    std::wstring folded = FoldAll(path);
    for (auto& f : s.faults) {
        if (f.api != api && f.api != stub::Api::Any) continue;
        if (!f.path.empty() && f.path != folded) continue;
        ++f.seen;
        if (f.nth == 0 || f.nth == f.seen) return f.status;
    }
    return ERROR_SUCCESS;
}

// The child of `parent` named `name`, made if it is missing.
std::shared_ptr<Node> AddChild(Node& parent, const std::wstring& name) {
    auto& slot = parent.children[FoldAll(name)];
    if (!slot) {
        slot = std::make_shared<Node>();
        slot->name = name;
        slot->path = JoinPath(parent.path, name);
        parent.cursorValid = false;
    }
    return slot;
}

std::shared_ptr<Node> MakePath(const std::wstring& path, bool checked) {
    std::shared_ptr<Node> node = S().root;
    for (auto& p : SplitPath(path)) {
        if (checked && p.size() > 255) {
            std::fprintf(stderr, "stand-in registry: key name over 255 characters\n");
            std::abort();
        }
        node = AddChild(*node, p);
    }
    return node;
}

void MarkDeleted(Node& n) {
    n.deleted = true;
    for (auto& c : n.children) MarkDeleted(*c.second);
}

void DumpNode(const Node& n, std::vector<std::wstring>& out) {
    if (!n.path.empty()) out.push_back(L"K\t" + n.path);
    for (auto& v : n.values) {
        std::wstring hex;
        for (BYTE b : v.data) {
            wchar_t buf[4];
            std::swprintf(buf, 4, L"%02x", b);
            hex += buf;
        }
        out.push_back(L"V\t" + n.path + L"\t" + v.name + L"\t" + std::to_wstring(v.type) + L"\t" + hex);
    }
    for (auto& c : n.children) DumpNode(*c.second, out);
}

Value* FindValue(Node& n, LPCWSTR name) {
    std::wstring key = name ? name : L"";
    for (auto& v : n.values)
        if (SameName(v.name, key)) return &v;
    return nullptr;
}

LONG CopyName(const std::wstring& name, LPWSTR buf, LPDWORD cch) {
    if (!cch || !buf) return ERROR_INVALID_PARAMETER;
    if (name.size() >= *cch) return ERROR_MORE_DATA;
    std::copy(name.begin(), name.end(), buf);
    buf[name.size()] = 0;
    *cch = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

// A value's data into the caller's buffer, or its size when the buffer is too small.
LONG CopyData(const Value& v, LPBYTE data, LPDWORD size) {
    if (!size) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    DWORD needed = static_cast<DWORD>(v.data.size());
    if (data && *size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (data && needed != 0) std::memcpy(data, v.data.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

LONG DeleteKey(HKEY h, LPCWSTR sub, REGSAM view, stub::Api api) {
    std::shared_ptr<Node> parent;
    REGSAM sam;
    LONG st = Resolve(h, parent, sam);
    std::vector<std::wstring> parts;
    std::wstring path = st == ERROR_SUCCESS ? Target(h, parent, sub ? sub : L"", view, parts) : L"";
    LONG injected = Enter(api, path);
    if (injected != ERROR_SUCCESS) return injected;
    if (st != ERROR_SUCCESS) return st;
    if (parts.empty()) return ERROR_INVALID_PARAMETER;
    std::shared_ptr<Node> node = Walk(parent, parts);
    if (!node) return ERROR_FILE_NOT_FOUND;
    if (!node->children.empty()) return ERROR_ACCESS_DENIED;
    std::vector<std::wstring> up(parts.begin(), parts.end() - 1);
    std::shared_ptr<Node> holder = Walk(parent, up);
    holder->children.erase(FoldAll(parts.back()));
    holder->cursorValid = false;
    MarkDeleted(*node);
    return ERROR_SUCCESS;
}

}  // namespace

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    std::shared_ptr<Node> parent;
    REGSAM sam;
    LONG st = Resolve(hKey, parent, sam);
    std::vector<std::wstring> parts;
    std::wstring path = st == ERROR_SUCCESS ? Target(hKey, parent, lpSubKey ? lpSubKey : L"", samDesired, parts) : L"";
    LONG injected = Enter(stub::Api::OpenKey, path);
    if (injected != ERROR_SUCCESS) return injected;
    if (st != ERROR_SUCCESS) return st;
    if (!phkResult) return ERROR_INVALID_PARAMETER;
    for (auto& p : parts)
        if (p.size() > 255) return ERROR_INVALID_PARAMETER;
    std::shared_ptr<Node> node = Walk(parent, parts);
    if (!node) return ERROR_FILE_NOT_FOUND;
    uintptr_t value = S().nextHandle;
    S().nextHandle += 4;
    S().handles[value] = Handle{node, samDesired};
    *phkResult = reinterpret_cast<HKEY>(value);
    return ERROR_SUCCESS;
}

LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD, LPWSTR, LPDWORD, void*) {
    std::shared_ptr<Node> node;
    REGSAM sam;
    LONG st = Resolve(hKey, node, sam);
    LONG injected = Enter(stub::Api::EnumKey, node ? node->path : L"");
    if (injected != ERROR_SUCCESS) return injected;
    if (st != ERROR_SUCCESS) return st;
    if (!(sam & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    if (dwIndex >= node->children.size()) return ERROR_NO_MORE_ITEMS;
    return CopyName(ChildAt(*node, dwIndex).name, lpName, lpcchName);
}

LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD, LPDWORD lpType,
                   LPBYTE lpData, LPDWORD lpcbData) {
    std::shared_ptr<Node> node;
    REGSAM sam;
    LONG st = Resolve(hKey, node, sam);
    LONG injected = Enter(stub::Api::EnumValue, node ? node->path : L"");
    if (injected != ERROR_SUCCESS) return injected;
    if (st != ERROR_SUCCESS) return st;
    if (!(sam & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (dwIndex >= node->values.size()) return ERROR_NO_MORE_ITEMS;
    const Value& v = node->values[dwIndex];
    LONG r = CopyName(v.name, lpValueName, lpcchValueName);
    if (r != ERROR_SUCCESS) return r;
    if (lpType) *lpType = v.type;
    return CopyData(v, lpData, lpcbData);
}

LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    std::shared_ptr<Node> node;
    REGSAM sam;
    LONG st = Resolve(hKey, node, sam);
    LONG injected = Enter(stub::Api::QueryValue, node ? node->path : L"");
    if (injected != ERROR_SUCCESS) return injected;
    if (st != ERROR_SUCCESS) return st;
    if (!(sam & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    Value* v = FindValue(*node, lpValueName);
    if (!v) return ERROR_FILE_NOT_FOUND;
    if (lpType) *lpType = v->type;
    return CopyData(*v, lpData, lpcbData);
}

LONG RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    std::shared_ptr<Node> node;
    REGSAM sam;
    LONG st = Resolve(hKey, node, sam);
    LONG injected = Enter(stub::Api::DeleteValue, node ? node->path : L"");
    if (injected != ERROR_SUCCESS) return injected;
    if (st != ERROR_SUCCESS) return st;
    if (!(sam & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    Value* v = FindValue(*node, lpValueName);
    if (!v) return ERROR_FILE_NOT_FOUND;
    node->values.erase(node->values.begin() + (v - node->values.data()));
    return ERROR_SUCCESS;
}

LONG RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) { return DeleteKey(hKey, lpSubKey, 0, stub::Api::DeleteKey); }

LONG RegDeleteKeyExW(HKEY hKey, LPCWSTR lpSubKey, REGSAM samDesired, DWORD) {
    return DeleteKey(hKey, lpSubKey, samDesired & (KEY_WOW64_64KEY | KEY_WOW64_32KEY), stub::Api::DeleteKey);
}

LONG RegCloseKey(HKEY hKey) {
    if (hKey == HKEY_LOCAL_MACHINE) return ERROR_SUCCESS;
    return S().handles.erase(reinterpret_cast<uintptr_t>(hKey)) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

namespace stub {

void ResetRegistry() {
    S() = State();
    MakePath(L"SOFTWARE", true);
}

void SetRegistryWow64(bool on) { S().wow64 = on; }

void CreateKey(const std::wstring& path) { MakePath(path, true); }

void CreateKeyUnchecked(const std::wstring& parentPath, const std::wstring& name) {
    AddChild(*MakePath(parentPath, true), name);
}

void SetValue(const std::wstring& path, const std::wstring& name, DWORD type, const std::vector<BYTE>& data) {
    auto node = MakePath(path, true);
    Value* v = FindValue(*node, name.c_str());
    if (v) {
        v->type = type;
        v->data = data;
    } else {
        node->values.push_back(Value{name, type, data});
    }
}

std::vector<BYTE> Utf16Bytes(const std::wstring& text) {
    std::vector<BYTE> out;
    for (wchar_t c : text) {
        out.push_back(static_cast<BYTE>(c & 0xFF));
        out.push_back(static_cast<BYTE>((c >> 8) & 0xFF));
    }
    return out;
}

void SetString(const std::wstring& path, const std::wstring& name, const std::wstring& text) {
    SetValue(path, name, REG_SZ, Utf16Bytes(text + std::wstring(1, L'\0')));
}

void SetMultiString(const std::wstring& path, const std::wstring& name, const std::vector<std::wstring>& items) {
    std::wstring all;
    for (auto& i : items) all += i + std::wstring(1, L'\0');
    all += std::wstring(1, L'\0');
    SetValue(path, name, REG_MULTI_SZ, Utf16Bytes(all));
}

bool KeyExists(const std::wstring& path) { return Walk(S().root, SplitPath(path)) != nullptr; }

bool ValueExists(const std::wstring& path, const std::wstring& name) {
    auto node = Walk(S().root, SplitPath(path));
    return node && FindValue(*node, name.c_str());
}

std::vector<std::wstring> Snapshot() {
    std::vector<std::wstring> out;
    DumpNode(*S().root, out);
    return out;
}

int OpenHandleCount() { return static_cast<int>(S().handles.size()); }

long RegistryCallCount() { return static_cast<long>(S().calls.size()); }

const std::vector<CallRecord>& RegistryCalls() { return S().calls; }

void FailCall(Api api, const std::wstring& path, LONG status, int nth) {
    S().faults.push_back(Fault{api, FoldAll(path), status, nth});
}

void FailCallNumber(long n, LONG status) {
    S().failCallNumber = n;
    S().failCallStatus = status;
}

void ClearFaults() {
    S().faults.clear();
    S().failCallNumber = 0;
}

}  // namespace stub
