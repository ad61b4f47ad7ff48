// An independent model of what a run must do to a registry: it walks a copy of the
// registry by the removal rules, counts the registry calls a run makes on each key, can
// fail one of them, and predicts the registry afterwards and the exit code. The tests
// compare the program on the stand-in registry against it.
#pragma once

#include "platform/stub_control.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace model {

struct Value {
    std::wstring name;
    DWORD type;
    std::vector<BYTE> data;
};

struct Key {
    std::wstring name;
    std::map<std::wstring, std::unique_ptr<Key>> children;  // by upper-cased name
    std::vector<Value> values;
};

// One injected failure: the `occurrence`-th call of `api` on the key at `path` (physical,
// below HKLM) returns `status`.
struct Fault {
    stub::Api api = stub::Api::Any;
    std::wstring path;
    int occurrence = 0;
    LONG status = 0;
};

class Run {
public:
    // `snapshot` as stub::Snapshot() gives it; `wow64`: the machine runs the tool under WOW64.
    Run(const std::vector<std::wstring>& snapshot, bool wow64, Fault fault = Fault());

    int exitCode = -2;
    long calls = 0;
    std::vector<std::wstring> Snapshot() const;

private:
    // The rules, one function per area.
    LONG Installer();
    LONG UpgradeCodes(const std::wstring& root, bool classes);
    LONG ClassesProduct(const std::wstring& root, const std::wstring& product);
    LONG MachineProduct(const std::wstring& root, const std::wstring& product);
    LONG Components(const std::wstring& userData, const std::wstring& product);
    LONG UserDataProduct(const std::wstring& userData, const std::wstring& product);
    LONG DeleteTree(const std::wstring& path);

    // A registry call on `path`: the injected status, or what the registry answers.
    LONG Call(stub::Api api, const std::wstring& path, LONG natural);
    Key* Find(const std::wstring& path) const;
    LONG OpenStatus(const std::wstring& path) const;
    // An enumeration at `index` over `count` entries whose name at that index is `name`.
    static LONG EnumStatus(size_t index, size_t count, const std::wstring& name);
    // One value enumeration call on `key`; on success `value` is the value at `index`.
    LONG EnumValue(const std::wstring& key, size_t index, Value& value);

    std::unique_ptr<Key> root_;
    bool wow64_;
    Fault fault_;
    std::map<std::pair<int, std::wstring>, int> seen_;
    bool injected_ = false;  // the last call's status was the injected one
};

}  // namespace model
