// Controls of the Linux stand-ins, for tests only: the in-memory registry with its
// fault injection and handle accounting, and the scripted shell and dialog services.
#pragma once

#include "winstub.h"

#include <deque>
#include <string>
#include <vector>

namespace stub {

enum class Api { OpenKey, EnumKey, EnumValue, QueryValue, DeleteValue, DeleteKey, Any };

// One registry call as the stand-in saw it, for tests that replay or sweep a run.
struct CallRecord {
    Api api;
    std::wstring path;  // physical path below HKLM of the key the call addresses
};

// Paths given to these functions are physical paths below HKLM ("SOFTWARE\\Wow6432Node\\..."
// for the 32-bit view), compared without regard to letter case.
void ResetRegistry();
void SetRegistryWow64(bool on);  // redirect HKLM\SOFTWARE\* (but Classes) in the default view
void CreateKey(const std::wstring& path);
// Bypasses the 255-character limit on key names, to model data that other tools wrote.
void CreateKeyUnchecked(const std::wstring& parentPath, const std::wstring& name);
void SetValue(const std::wstring& path, const std::wstring& name, DWORD type, const std::vector<BYTE>& data);
void SetString(const std::wstring& path, const std::wstring& name, const std::wstring& text);
void SetMultiString(const std::wstring& path, const std::wstring& name, const std::vector<std::wstring>& items);
bool KeyExists(const std::wstring& path);
bool ValueExists(const std::wstring& path, const std::wstring& name);
std::vector<BYTE> Utf16Bytes(const std::wstring& text);  // UTF-16LE, with no terminator

// The whole registry as sorted lines: "K\t<path>" for a key, "V\t<path>\t<name>\t<type>\t<hex>" for a value.
std::vector<std::wstring> Snapshot();

int OpenHandleCount();
long RegistryCallCount();  // calls made so far (closing excepted)
const std::vector<CallRecord>& RegistryCalls();

// Makes a call return `status` instead of running. `path` empty matches every key;
// `nth` 0 fails every matching call, N only the N-th matching one.
void FailCall(Api api, const std::wstring& path, LONG status, int nth = 0);
// Fails the N-th registry call of any kind (1-based, closing excepted).
void FailCallNumber(long n, LONG status);
void ClearFaults();

enum class Wow64Query { Yes, No, NoKernel32, NoIsWow64Process, CallFails };

struct MessageBoxRecord {
    std::wstring text;
    std::wstring caption;
    unsigned type;
};

struct Shell {
    Wow64Query wow64 = Wow64Query::No;
    DWORD wow64Error = ERROR_ACCESS_DENIED;  // GetLastError after a failed IsWow64Process
    bool advapiLoads = true;
    bool hasRegDeleteKeyEx = true;
    int librariesLoaded = 0;          // LoadLibraryW minus FreeLibrary
    std::wstring moduleFileName;      // empty: GetModuleFileNameW fails
    std::wstring desktopDirectory;    // empty: SHGetSpecialFolderPathW fails
    std::wstring tempDirectory;       // empty: GetTempPathW fails
    std::deque<int> messageBoxAnswers;  // when empty, a box answers IDCANCEL
    std::vector<MessageBoxRecord> messageBoxes;
};

Shell& shell();
void ResetShell();

// Both of the above, and a machine in WOW64 mode or not for registry and IsWow64Process alike.
void ResetAll(bool wow64 = false);

// Text of the file the stand-ins map a Windows-style path to ('\\' becomes '/').
std::string HostPath(const std::wstring& path);

}  // namespace stub
