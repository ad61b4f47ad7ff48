// The product's references in the machine's component records: its value in every
// component key, and the component keys that only this product used.
#include "cleanup/cleanup.h"
#include "log/log.h"

#include <boost/algorithm/string/predicate.hpp>
#include <vector>

LONG RemoveCurrentVersionComponentsRegistory(HKEY userData, const std::wstring& packedProductCode, int wow64) {
    WriteLog(L"RemoveCurrentVersionComponentsRegistory(%p, \"%s\", %d) began.", userData, packedProductCode.c_str(),
             wow64);
    const REGSAM listSam = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | ViewBits(wow64);
    const REGSAM componentSam = KEY_QUERY_VALUE | KEY_SET_VALUE | ViewBits(wow64);

    WriteLog(L"RegOpenKeyEx(%p, \"Components\", 0, %x, ?)", userData, listSam);
    HKEY components = nullptr;
    LONG result = RegOpenKeyExW(userData, L"Components", 0, listSam, &components);
    if (result != ERROR_SUCCESS) {
        WriteLog(L"\tFailed. [%d]", result);
        WriteLog(L"RemoveCurrentVersionComponentsRegistory() ended. [%d]", result);
        return result;
    }
    WriteLog(L"\tSucceeded! [%p]", components);

    // Gather every name first so that no deletion shifts the enumeration. A long-used
    // machine has tens of thousands of components: the names are kept end to end in one
    // string, each ended by its NUL, rather than one allocation each.
    WCHAR name[NAME_CHARS];
    std::wstring componentNames;
    std::vector<size_t> componentStarts;
    for (DWORD index = 0;; ++index) {
        DWORD chars = NAME_CHARS;
        WriteLog(L"RegEnumKeyEx(%p, %d, ?, %d, NULL, NULL, NULL, NULL)", components, static_cast<int>(index),
                 static_cast<int>(NAME_CHARS));
        LONG status = RegEnumKeyExW(components, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_SUCCESS) {
            WriteLog(L"\tSucceeded! [%s]", name);
            componentStarts.push_back(componentNames.size());
            componentNames.append(name, chars + 1);
            continue;
        }
        if (status == ERROR_NO_MORE_ITEMS) {
            WriteLog(L"\tFinished.");
            result = ERROR_SUCCESS;
        } else {
            WriteLog(L"\tFailed. [%d]", status);
            result = status;
        }
        break;
    }

    WCHAR valueName[NAME_CHARS];
    std::vector<std::wstring> productValues;
    for (size_t start : componentStarts) {
        LPCWSTR component = componentNames.c_str() + start;
        WriteLog(L"RegOpenKeyEx(%p, \"%s\", 0, %x, ?)", components, component, componentSam);
        HKEY key = nullptr;
        LONG status = RegOpenKeyExW(components, component, 0, componentSam, &key);
        if (status != ERROR_SUCCESS) {
            WriteLog(L"\tFailed. [%d]", status);
            result = status;
            continue;
        }
        WriteLog(L"\tSucceeded! [%p]", key);

        bool exclusive = true;
        for (DWORD index = 0;; ++index) {
            DWORD chars = NAME_CHARS;
            DWORD type = REG_NONE;
            WriteLog(L"RegEnumValue(%p, %d, ?, %d, NULL, ?, NULL, NULL)", key, static_cast<int>(index),
                     static_cast<int>(NAME_CHARS));
            status = RegEnumValueW(key, index, valueName, &chars, nullptr, &type, nullptr, nullptr);
            if (status == ERROR_SUCCESS) {
                WriteLog(L"\tSucceeded! [%s][%d]", valueName, static_cast<int>(type));
                std::wstring value(valueName, chars);
                // Exact test: a name that differs in letter case is another product's.
                if (type == REG_SZ && boost::algorithm::equals(value, packedProductCode))
                    productValues.push_back(value);
                else
                    exclusive = false;
                continue;
            }
            if (status == ERROR_NO_MORE_ITEMS) {
                WriteLog(L"\tFinished.");
                result = ERROR_SUCCESS;
            } else {
                WriteLog(L"\tFailed. [%d]", status);
                result = status;
                // The values not read may be other products': the key is not proven ours.
                exclusive = false;
            }
            break;
        }

        for (const std::wstring& value : productValues) {
            WriteLog(L"RegDeleteValue(%p, \"%s\")", key, value.c_str());
            status = RegDeleteValueW(key, value.c_str());
            if (status == ERROR_SUCCESS)
                WriteLog(L"\tSucceeded!");
            else
                WriteLog(L"\tFailed. [%d]", status);
            result = status;
        }
        RegCloseKey(key);

        if (exclusive) result = RegDeleteKeyNT(components, component, wow64);
        productValues.clear();
    }
    RegCloseKey(components);

    WriteLog(L"RemoveCurrentVersionComponentsRegistory() ended. [%d]", result);
    return result;
}
