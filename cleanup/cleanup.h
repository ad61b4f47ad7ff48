// Removal of one product family's Windows Installer registration from HKLM.
#pragma once

#include "platform/winapi.h"

#include <string>

// The family's upgrade code, braced.
extern const WCHAR UPGRADE_CODE[];

typedef LONG(WINAPI* PFN_REG_DELETE_KEY_EX)(HKEY, LPCWSTR, REGSAM, DWORD);

// RegDeleteKeyExW, looked up under WOW64 so deletions reach the 64-bit view; null otherwise.
extern PFN_REG_DELETE_KEY_EX g_pfnRegDeleteKeyEx;

// Per-product handler: installer root, packed product code, wow64 flag; a win32 status.
typedef LONG (*RemoveProductCallback)(HKEY root, const std::wstring& packedProductCode, int wow64);

// Driver: 1 when both installer roots were cleaned with status 0, otherwise 0.
int RemoveInstaller();
// The same for another upgrade code; refuses one that does not pack to 32 hex digits.
int RemoveInstallerFor(const std::wstring& upgradeCode);
int IsWow64();
LONG RemoveUpgradeCodesRegistory(RemoveProductCallback handler, const std::wstring& packedUpgradeCode, HKEY root,
                                 int wow64);

// Deletes a key with its whole subtree, depth first.
LONG RegDeleteKeyNT(HKEY parent, const std::wstring& subKey, int wow64);

// Installer class data (SOFTWARE\Classes\Installer).
LONG RemoveClassesRegistory(HKEY root, const std::wstring& packedProductCode, int wow64);
LONG RemoveClassesProductsRegistory(HKEY root, const std::wstring& packedProductCode, int wow64);
LONG RemoveClassesFeaturesRegistory(HKEY root, const std::wstring& packedProductCode, int wow64);
LONG RemovePatchesRegistory(HKEY root, const std::wstring& packedPatchCode, int wow64);

// Installer machine data (SOFTWARE\Microsoft\Windows\CurrentVersion\Installer).
LONG RemoveCurrentVersionRegistory(HKEY root, const std::wstring& packedProductCode, int wow64);
LONG RemoveCurrentVersionComponentsRegistory(HKEY userData, const std::wstring& packedProductCode, int wow64);
LONG RemoveCurrentVersionProductsRegistory(HKEY userData, const std::wstring& packedProductCode, int wow64);
LONG RemoveUninstallRegistory(const std::wstring& bracedProductCode);

// The 64-bit view bit for a wow64 flag: only the value 1 selects it.
inline REGSAM ViewBits(int wow64) { return wow64 == 1 ? KEY_WOW64_64KEY : 0; }

// A packed product code names exactly one key below "Products\\"; anything else (the
// empty string above all) could name a whole area of other products' data.
inline bool IsPackedCode(const std::wstring& code) { return code.size() == 32; }

// Room for a key or value name of up to 255 characters and its terminator.
const DWORD NAME_CHARS = 256;
