// Entry: confirm, place the trace on the desktop, run the cleanup once, report.
#include "cleanup/cleanup.h"
#include "log/log.h"
#include "platform/winapi.h"

namespace {

const WCHAR CONFIRM_TEXT[] = L"Velkaroのインストール情報を削除します。";
const WCHAR SUCCESS_TEXT[] = L"正常に終了しました。";
const WCHAR FAILURE_TEXT[] = L"失敗しました。";
const WCHAR INFO_CAPTION[] = L"情報";
const WCHAR ERROR_CAPTION[] = L"エラー";

// The trace goes to the desktop, named after the executable with ".log"; when either
// place cannot be found, logging stays off and the cleanup runs all the same.
void SetUpLog(HINSTANCE instance) {
    WCHAR exePath[MAX_PATH] = {0};
    WCHAR desktop[MAX_PATH] = {0};
    WCHAR logPath[MAX_PATH] = {0};
    DWORD length = GetModuleFileNameW(instance, exePath, MAX_PATH);
    // A full buffer means the path was cut (and on older systems left unterminated).
    if (length == 0 || length >= MAX_PATH) return;
    if (SHGetSpecialFolderPathW(nullptr, desktop, CSIDL_DESKTOPDIRECTORY, FALSE) != TRUE) return;
    PathCombineW(logPath, desktop, PathFindFileNameW(exePath));
    PathRenameExtensionW(logPath, L".log");
    InitLog(logPath);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int) {
    if (MessageBoxW(nullptr, CONFIRM_TEXT, INFO_CAPTION, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK) return -1;
    SetUpLog(hInstance);
    if (RemoveInstaller() == 1) {
        MessageBoxW(nullptr, SUCCESS_TEXT, INFO_CAPTION, MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    MessageBoxW(nullptr, FAILURE_TEXT, ERROR_CAPTION, MB_OK | MB_ICONERROR);
    return 1;
}
