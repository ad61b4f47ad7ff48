// Shared test fixtures: a fresh stand-in machine with a trace file, trace reading with
// handle normalisation, and the registry paths of the installer's areas.
#pragma once

#include "cleanup/cleanup.h"
#include "log/log.h"
#include "platform/stub_control.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace paths {
inline const std::wstring CLASSES = L"SOFTWARE\\Classes\\Installer";
inline const std::wstring MACHINE = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer";
inline const std::wstring USERDATA = MACHINE + L"\\UserData\\S-1-5-18";
inline const std::wstring UNINSTALL = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// The same in the 32-bit view of a 64-bit machine.
inline const std::wstring UNINSTALL32 = L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
}  // namespace paths

// A scratch directory removed at the end of the test.
std::string MakeTempDir();
void RemoveTree(const std::string& dir);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
std::wstring Widen(const std::string& s);

// The lines of a trace file without their CR LF (the file must end with CR LF).
std::vector<std::string> SplitTrace(const std::string& bytes);

// Replaces every handle or address (8 or 16 uppercase hex digits in an argument or result) by
// H1, H2, ... in order of first appearance; HKEY_LOCAL_MACHINE's 80000002 stays.
std::vector<std::string> Normalize(const std::vector<std::string>& lines);

// Every key below `keys` and every listed (key, value) removed from a snapshot.
std::vector<std::wstring> Without(const std::vector<std::wstring>& snapshot, const std::vector<std::wstring>& keys,
                                  const std::vector<std::pair<std::wstring, std::wstring>>& values = {});

// A fresh machine (WOW64 or not) whose trace goes to a scratch file.
class MachineTest : public ::testing::Test {
protected:
    void SetUp() override { Reset(false); }
    void TearDown() override;
    void Reset(bool wow64);
    std::vector<std::string> Trace() const;  // normalised lines
    std::vector<std::string> RawTrace() const;
    std::string dir_;
    std::string logPath_;
};

std::string Narrow(const std::wstring& s);

// Upper case of a-z only, as the registry compares names here.
std::wstring FoldCase(std::wstring s);

// The trace of RegDeleteKeyNT for a key without subkeys, deleted successfully, with its
// entry line at `tabs` tabs. `mask` is 10008 or 10108; `ex` selects RegDeleteKeyEx.
std::vector<std::string> LeafDeletion(int tabs, const std::string& parent, const std::string& path,
                                      const std::string& key, int flag, bool ex = false);

// Appends `more` to `lines`.
void Add(std::vector<std::string>& lines, const std::vector<std::string>& more);
