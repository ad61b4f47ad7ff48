#include "cleanup/cleanup.h"
#include "log/log.h"

LONG RegDeleteKeyNT(HKEY parent, const std::wstring& subKey, int wow64) {
    WriteLog(L"RegDeleteKeyNT(%p, \"%s\", %d) began.", parent, subKey.c_str(), wow64);
    REGSAM sam = DELETE | KEY_ENUMERATE_SUB_KEYS | ViewBits(wow64);
    WriteLog(L"RegOpenKeyEx(%p, \"%s\", 0, %x, ?)", parent, subKey.c_str(), sam);
    HKEY key = nullptr;
    LONG status = RegOpenKeyExW(parent, subKey.c_str(), 0, sam, &key);
    if (status != ERROR_SUCCESS) {
        WriteLog(L"\tFailed. [%d]", status);
        WriteLog(L"RegDeleteKeyNT() ended. [%d]", status);
        return status;
    }
    WriteLog(L"\tSucceeded! [%p]", key);

    // Each child is deleted before the next enumeration, so index 0 always meets the
    // next remaining one. A child that survives its deletion comes back at index 0:
    // stop there with its status instead of trying it again without end.
    WCHAR name[NAME_CHARS];
    std::wstring lastChild;
    LONG lastChildStatus = ERROR_SUCCESS;
    bool childSurvived = false;
    for (;;) {
        DWORD chars = NAME_CHARS;
        WriteLog(L"RegEnumKeyEx(%p, 0, ?, %d, NULL, NULL, NULL, NULL)", key, static_cast<int>(NAME_CHARS));
        status = RegEnumKeyExW(key, 0, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (status != ERROR_SUCCESS) break;
        WriteLog(L"\tSucceeded! [%s]", name);
        std::wstring child(name);
        if (!lastChild.empty() && child == lastChild) {
            childSurvived = true;
            status = lastChildStatus != ERROR_SUCCESS ? lastChildStatus : ERROR_ACCESS_DENIED;
            break;
        }
        lastChildStatus = RegDeleteKeyNT(key, child, wow64);
        lastChild.swap(child);
    }

    if (status == ERROR_NO_MORE_ITEMS && !childSurvived) {
        WriteLog(L"\tFinished.");
        // RegDeleteKeyExW addresses the 64-bit view; with any other flag the key was
        // opened and emptied in the default view, so it is deleted there too.
        if (g_pfnRegDeleteKeyEx && wow64 == 1) {
            WriteLog(L"RegDeleteKeyEx(%p, \"%s\", KEY_WOW64_64KEY, 0)", parent, subKey.c_str());
            status = g_pfnRegDeleteKeyEx(parent, subKey.c_str(), KEY_WOW64_64KEY, 0);
        } else {
            WriteLog(L"RegDeleteKey(%p, \"%s\")", parent, subKey.c_str());
            status = RegDeleteKeyW(parent, subKey.c_str());
        }
        if (status == ERROR_SUCCESS)
            WriteLog(L"\tSucceeded!");
        else
            WriteLog(L"\tFailed. [%d]", status);
    } else {
        WriteLog(L"\tFailed. [%d]", status);
    }
    RegCloseKey(key);
    WriteLog(L"RegDeleteKeyNT() ended. [%d]", status);
    return status;
}
