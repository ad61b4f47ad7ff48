// Finds the products of the upgrade code under both installer roots, removes each
// product's registration, then the upgrade-code entries.
#include "cleanup/cleanup.h"
#include "guid/guid.h"
#include "log/log.h"

#include <cwctype>

const WCHAR UPGRADE_CODE[] = L"{4C2A7D90-6E1B-4F35-9A08-B7D3E51C62F4}";

PFN_REG_DELETE_KEY_EX g_pfnRegDeleteKeyEx = nullptr;

namespace {

typedef BOOL(WINAPI* PFN_IS_WOW64_PROCESS)(HANDLE, PBOOL);

// Anything else would not name one upgrade code's key: an empty code gives the bare
// "UpgradeCodes\\", whose deletion would take every product family with it.
bool IsPackedGuid(const std::wstring& code) {
    if (code.size() != 32) return false;
    for (wchar_t c : code)
        if (!std::iswxdigit(static_cast<wint_t>(c)) || c > 0x7F) return false;
    return true;
}

template <typename T>
T ProcAs(FARPROC proc) {
    return reinterpret_cast<T>(reinterpret_cast<void*>(proc));
}

LONG CleanRoot(LPCWSTR rootPath, LPCWSTR openFormat, RemoveProductCallback handler,
               const std::wstring& packedUpgradeCode, int wow64) {
    const REGSAM sam = DELETE | KEY_READ | ViewBits(wow64);
    WriteLog(openFormat, sam);
    HKEY root = nullptr;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, rootPath, 0, sam, &root);
    if (status != ERROR_SUCCESS) {
        WriteLog(L"\tFailed. [%d]", status);
        return status;
    }
    WriteLog(L"\tSucceeded! [%p]", root);
    status = RemoveUpgradeCodesRegistory(handler, packedUpgradeCode, root, wow64);
    RegCloseKey(root);
    return status;
}

}  // namespace

int IsWow64() {
    BOOL flag = FALSE;
    WriteLog(L"IsWow64() began.");
    WriteLog(L"GetModuleHandle(\"kernel32.dll\")");
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel) {
        WriteLog(L"\tSucceeded! [%p]", kernel);
        WriteLog(L"GetProcAddress(%p, \"IsWow64Process\")", kernel);
        PFN_IS_WOW64_PROCESS isWow64Process = ProcAs<PFN_IS_WOW64_PROCESS>(GetProcAddress(kernel, "IsWow64Process"));
        if (isWow64Process) {
            WriteLog(L"\tSucceeded! [%p]", reinterpret_cast<void*>(isWow64Process));
            HANDLE process = GetCurrentProcess();
            WriteLog(L"IsWow64Process(%p, ?)", process);
            if (isWow64Process(process, &flag) == TRUE) {
                WriteLog(L"\tSucceeded! [%d]", flag);
                WriteLog(L"IsWow64() ended. [%d]", flag);
                return flag;
            }
        }
    }
    WriteLog(L"\tFailed. [%d]", static_cast<int>(GetLastError()));
    WriteLog(L"IsWow64() ended. [%d]", flag);
    return flag;
}

int RemoveInstaller() { return RemoveInstallerFor(UPGRADE_CODE); }

int RemoveInstallerFor(const std::wstring& upgradeCode) {
    WriteLog(L"RemoveInstaller(\"%s\") began.", upgradeCode.c_str());
    const int wow64 = IsWow64();

    HMODULE advapi = nullptr;
    if (wow64 == 1) {
        WriteLog(L"LoadLibrary(\"advapi32.dll\")");
        advapi = LoadLibraryW(L"advapi32.dll");
        if (!advapi) {
            WriteLog(L"\tFailed. [%d]", static_cast<int>(GetLastError()));
        } else {
            WriteLog(L"\tSucceeded! [%p]", advapi);
            WriteLog(L"GetProcAddress(%p, \"RegDeleteKeyEx\")", advapi);
            g_pfnRegDeleteKeyEx = ProcAs<PFN_REG_DELETE_KEY_EX>(GetProcAddress(advapi, "RegDeleteKeyExW"));
            if (g_pfnRegDeleteKeyEx)
                WriteLog(L"\tSucceeded! [%p]", reinterpret_cast<void*>(g_pfnRegDeleteKeyEx));
            else
                WriteLog(L"\tFailed. [%d]", static_cast<int>(GetLastError()));
        }
    }

    LONG status;
    const std::wstring packed = PackGuid(upgradeCode);
    if (!IsPackedGuid(packed)) {
        // Refused before any key is opened.
        WriteLog(L"PackGuid(\"%s\")", upgradeCode.c_str());
        status = ERROR_INVALID_PARAMETER;
        WriteLog(L"\tFailed. [%d]", status);
    } else {
        status = CleanRoot(L"SOFTWARE\\Classes\\Installer",
                           L"RegOpenKeyEx(HKEY_LOCAL_MACHINE, \"SOFTWARE\\Classes\\Installer\", 0, %x, ?)",
                           RemoveClassesRegistory, packed, wow64);
        // Machine data only after the class data is clean.
        if (status == ERROR_SUCCESS)
            status = CleanRoot(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer",
                               L"RegOpenKeyEx(HKEY_LOCAL_MACHINE, "
                               L"\"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\", 0, %x, ?)",
                               RemoveCurrentVersionRegistory, packed, wow64);
    }

    if (advapi) FreeLibrary(advapi);
    WriteLog(L"RemoveInstaller() ended. [%d]", status);
    return status == ERROR_SUCCESS ? 1 : 0;
}

LONG RemoveUpgradeCodesRegistory(RemoveProductCallback handler, const std::wstring& packedUpgradeCode, HKEY root,
                                 int wow64) {
    WriteLog(L"RemoveUpgradeCodesRegistory(%p, \"%s\", %d, %p) began.", root, packedUpgradeCode.c_str(), wow64,
             reinterpret_cast<void*>(handler));
    LONG result;
    if (!IsPackedGuid(packedUpgradeCode)) {
        result = ERROR_INVALID_PARAMETER;
        WriteLog(L"\tFailed. [%d]", result);
        WriteLog(L"RemoveUpgradeCodesRegistory() ended. [%d]", result);
        return result;
    }
    const std::wstring path = L"UpgradeCodes\\" + packedUpgradeCode;
    const REGSAM sam = KEY_QUERY_VALUE | ViewBits(wow64);
    WriteLog(L"RegOpenKeyEx(%p, \"%s\", 0, %x, ?)", root, path.c_str(), sam);
    HKEY key = nullptr;
    result = RegOpenKeyExW(root, path.c_str(), 0, sam, &key);
    if (result != ERROR_SUCCESS) {
        WriteLog(L"\tFailed. [%d]", result);
        WriteLog(L"RemoveUpgradeCodesRegistory() ended. [%d]", result);
        return result;
    }
    WriteLog(L"\tSucceeded! [%p]", key);

    WCHAR name[NAME_CHARS];
    for (DWORD index = 0;; ++index) {
        DWORD chars = NAME_CHARS;
        DWORD type = REG_NONE;
        WriteLog(L"RegEnumValue(%p, %d, ?, %d, NULL, ?, NULL, NULL)", key, static_cast<int>(index),
                 static_cast<int>(NAME_CHARS));
        result = RegEnumValueW(key, index, name, &chars, nullptr, &type, nullptr, nullptr);
        if (result != ERROR_SUCCESS) break;
        WriteLog(L"\tSucceeded! [%s][%d]", name, static_cast<int>(type));
        // One product per REG_SZ value named with 32 characters; its result does not
        // stop the walk.
        if (type == REG_SZ && chars == 32) handler(root, std::wstring(name, chars), wow64);
    }
    if (result == ERROR_NO_MORE_ITEMS) {
        WriteLog(L"\tFinished.");
        result = RegDeleteKeyNT(root, path, wow64);
    } else {
        WriteLog(L"\tFailed. [%d]", result);
    }
    RegCloseKey(key);
    WriteLog(L"RemoveUpgradeCodesRegistory() ended. [%d]", result);
    return result;
}
