// The product's user data under the installer's machine data, with its patches, and its
// entry in the list of installed programs.
#include "cleanup/cleanup.h"
#include "guid/guid.h"
#include "log/log.h"

#include <algorithm>
#include <vector>

namespace {

const DWORD ALL_PATCHES_BYTES = 1024;

// UTF-16LE unit `i` of registry data; the data need not be aligned or terminated.
wchar_t Unit(const std::vector<BYTE>& data, size_t i) {
    return static_cast<wchar_t>(data[2 * i] | (data[2 * i + 1] << 8));
}

// The string that starts at unit `pos`, up to its NUL or the end of the data.
std::wstring StringAt(const std::vector<BYTE>& data, size_t units, size_t pos) {
    std::wstring s;
    while (pos < units && Unit(data, pos) != 0) s += Unit(data, pos++);
    return s;
}

}  // namespace

LONG RemoveCurrentVersionRegistory(HKEY root, const std::wstring& packedProductCode, int wow64) {
    WriteLog(L"RemoveCurrentVersionRegistory(%p, \"%s\", %d) began.", root, packedProductCode.c_str(), wow64);
    if (!IsPackedCode(packedProductCode)) {
        // Not a product's code: its paths could name other products' data or the
        // Uninstall key itself.
        WriteLog(L"\tFailed. [%d]", ERROR_INVALID_PARAMETER);
        WriteLog(L"RemoveCurrentVersionRegistory() ended. [%d]", ERROR_INVALID_PARAMETER);
        return ERROR_INVALID_PARAMETER;
    }
    const REGSAM sam = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | ViewBits(wow64);
    WriteLog(L"RegOpenKeyEx(%p, \"UserData\\S-1-5-18\", 0, %x, ?)", root, sam);
    HKEY userData = nullptr;
    LONG result = RegOpenKeyExW(root, L"UserData\\S-1-5-18", 0, sam, &userData);
    if (result != ERROR_SUCCESS) {
        WriteLog(L"\tFailed. [%d]", result);
    } else {
        WriteLog(L"\tSucceeded! [%p]", userData);
        result = RemoveCurrentVersionComponentsRegistory(userData, packedProductCode, wow64);
        if (result == ERROR_SUCCESS) result = RemoveCurrentVersionProductsRegistory(userData, packedProductCode, wow64);
        if (result == ERROR_SUCCESS) result = RemoveUninstallRegistory(UnpackGuid(packedProductCode));
        RegCloseKey(userData);
    }
    WriteLog(L"RemoveCurrentVersionRegistory() ended. [%d]", result);
    return result;
}

LONG RemoveCurrentVersionProductsRegistory(HKEY userData, const std::wstring& packedProductCode, int wow64) {
    WriteLog(L"RemoveCurrentVersionProductsRegistory(%p, \"%s\", %d) began.", userData, packedProductCode.c_str(),
             wow64);
    const std::wstring productPath = L"Products\\" + packedProductCode;
    const REGSAM productSam = KEY_READ | ViewBits(wow64);
    const REGSAM patchesSam = KEY_QUERY_VALUE | ViewBits(wow64);

    WriteLog(L"RegOpenKeyEx(%p, \"%s\", 0, %x, ?)", userData, productPath.c_str(), productSam);
    HKEY product = nullptr;
    LONG status = RegOpenKeyExW(userData, productPath.c_str(), 0, productSam, &product);
    if (status != ERROR_SUCCESS) {
        WriteLog(L"\tFailed. [%d]", status);
    } else {
        WriteLog(L"\tSucceeded! [%p]", product);
        WriteLog(L"RegOpenKeyEx(%p, \"Patches\", 0, %x, ?)", product, patchesSam);
        HKEY patches = nullptr;
        status = RegOpenKeyExW(product, L"Patches", 0, patchesSam, &patches);
        if (status != ERROR_SUCCESS) {
            WriteLog(L"\tFailed. [%d]", status);
        } else {
            WriteLog(L"\tSucceeded! [%p]", patches);
            std::vector<BYTE> data(ALL_PATCHES_BYTES);
            DWORD size = ALL_PATCHES_BYTES;
            DWORD type = REG_NONE;
            WriteLog(L"RegQueryValueEx(%p, \"AllPatches\", NULL, ?, ?, %d)", patches, static_cast<int>(size));
            status = RegQueryValueExW(patches, L"AllPatches", nullptr, &type, data.data(), &size);
            if (status == ERROR_MORE_DATA) {
                // 16 or more patches do not fit: read the whole list rather than leave
                // every patch behind while the step reports success.
                WriteLog(L"\tFailed. [%d]", status);
                data.resize(size);
                WriteLog(L"RegQueryValueEx(%p, \"AllPatches\", NULL, ?, ?, %d)", patches, static_cast<int>(size));
                status = RegQueryValueExW(patches, L"AllPatches", nullptr, &type, data.data(), &size);
            }
            if (status != ERROR_SUCCESS) {
                WriteLog(L"\tFailed. [%d]", status);
            } else {
                // Only the bytes returned count; the list need not end with an empty string.
                const size_t units = std::min<size_t>(size, data.size()) / 2;
                WriteLog(L"\tSucceeded! [%s][%d]", StringAt(data, units, 0).c_str(), static_cast<int>(type));
                if (type == REG_MULTI_SZ) {
                    for (size_t pos = 0; pos < units;) {
                        std::wstring patch = StringAt(data, units, pos);
                        if (patch.empty()) break;
                        RemovePatchesRegistory(userData, patch, wow64);
                        pos += patch.size() + 1;
                    }
                }
            }
            RegCloseKey(patches);
        }
        RegCloseKey(product);
    }

    // The product key goes on every path, also when it could not be read.
    status = RegDeleteKeyNT(userData, productPath, wow64);
    WriteLog(L"RemoveCurrentVersionProductsRegistory() ended. [%d]", status);
    return status;
}

LONG RemoveUninstallRegistory(const std::wstring& bracedProductCode) {
    // An empty code (from a packed code that is not 32 characters) would name the
    // Uninstall key itself, with every program's entry.
    if (bracedProductCode.empty()) return ERROR_INVALID_PARAMETER;
    // Flag 0: the entry lives in the process's own view of the registry.
    return RegDeleteKeyNT(HKEY_LOCAL_MACHINE,
                          L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + bracedProductCode, 0);
}
