// The product's entries in the installer's class data: its patch keys, its product key
// and its feature key.
#include "cleanup/cleanup.h"
#include "log/log.h"

LONG RemoveClassesRegistory(HKEY root, const std::wstring& packedProductCode, int wow64) {
    WriteLog(L"RemoveClassesRegistory(%p, \"%s\", %d) began.", root, packedProductCode.c_str(), wow64);
    LONG status = ERROR_INVALID_PARAMETER;
    if (!IsPackedCode(packedProductCode)) {
        WriteLog(L"\tFailed. [%d]", status);
    } else {
        status = RemoveClassesProductsRegistory(root, packedProductCode, wow64);
        if (status == ERROR_SUCCESS) status = RemoveClassesFeaturesRegistory(root, packedProductCode, wow64);
    }
    WriteLog(L"RemoveClassesRegistory() ended. [%d]", status);
    return status;
}

LONG RemoveClassesProductsRegistory(HKEY root, const std::wstring& packedProductCode, int wow64) {
    WriteLog(L"RemoveClassesProductsRegistory(%p, \"%s\", %d) began.", root, packedProductCode.c_str(), wow64);
    const std::wstring productPath = L"Products\\" + packedProductCode;
    const REGSAM sam = KEY_QUERY_VALUE | ViewBits(wow64);

    WriteLog(L"RegOpenKeyEx(%p, \"%s\", 0, %x, ?)", root, productPath.c_str(), sam);
    HKEY product = nullptr;
    LONG status = RegOpenKeyExW(root, productPath.c_str(), 0, sam, &product);
    if (status != ERROR_SUCCESS) {
        WriteLog(L"\tFailed. [%d]", status);
        WriteLog(L"RemoveClassesProductsRegistory() ended. [%d]", status);
        return status;
    }
    WriteLog(L"\tSucceeded! [%p]", product);

    WriteLog(L"RegOpenKeyEx(%p, \"Patches\", 0, %x, ?)", product, sam);
    HKEY patches = nullptr;
    status = RegOpenKeyExW(product, L"Patches", 0, sam, &patches);
    if (status == ERROR_FILE_NOT_FOUND) {
        // A product without patches has no "Patches" subkey.
        WriteLog(L"\tFailed. [ERROR_FILE_NOT_FOUND]");
        status = ERROR_SUCCESS;
    } else if (status != ERROR_SUCCESS) {
        WriteLog(L"\tFailed. [%d]", status);
    } else {
        WriteLog(L"\tSucceeded! [%p]", patches);
        WCHAR name[NAME_CHARS];
        for (DWORD index = 0;; ++index) {
            DWORD chars = NAME_CHARS;
            DWORD type = REG_NONE;
            WriteLog(L"RegEnumValue(%p, %d, ?, %d, NULL, ?, NULL, NULL)", patches, static_cast<int>(index),
                     static_cast<int>(NAME_CHARS));
            status = RegEnumValueW(patches, index, name, &chars, nullptr, &type, nullptr, nullptr);
            if (status != ERROR_SUCCESS) break;
            WriteLog(L"\tSucceeded! [%s][%d]", name, static_cast<int>(type));
            // Only the value names are read here; the keys deleted lie under the root's
            // "Patches", so this enumeration is not disturbed.
            if (type == REG_SZ && chars == 32) RemovePatchesRegistory(root, std::wstring(name, chars), wow64);
        }
        if (status == ERROR_NO_MORE_ITEMS) {
            WriteLog(L"\tFinished.");
            status = ERROR_SUCCESS;
        } else {
            WriteLog(L"\tFailed. [%d]", status);
        }
        RegCloseKey(patches);
    }
    RegCloseKey(product);

    if (status == ERROR_SUCCESS) status = RegDeleteKeyNT(root, productPath, wow64);
    WriteLog(L"RemoveClassesProductsRegistory() ended. [%d]", status);
    return status;
}

LONG RemoveClassesFeaturesRegistory(HKEY root, const std::wstring& packedProductCode, int wow64) {
    return RegDeleteKeyNT(root, L"Features\\" + packedProductCode, wow64);
}

LONG RemovePatchesRegistory(HKEY root, const std::wstring& packedPatchCode, int wow64) {
    return RegDeleteKeyNT(root, L"Patches\\" + packedPatchCode, wow64);
}
