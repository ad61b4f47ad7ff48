// Registry shapes of Windows Installer's registration, built in the stand-in registry.
#pragma once

#include "support.h"

namespace fx {

// Packed codes used across the tests (32 characters each).
inline const std::wstring UPGRADE = L"09D7A2C4B1E653F4A9807B3D5EC1264F";  // the family's
inline const std::wstring OTHER_UPGRADE = L"1F2E3D4C5B6A79880716253443526170";  // an unrelated family
inline const std::wstring P1 = L"A1B2C3D4E5F60718293A4B5C6D7E8F90";  // family products
inline const std::wstring P2 = L"B2C3D4E5F60718293A4B5C6D7E8F90A1";
inline const std::wstring OTHER = L"C3D4E5F60718293A4B5C6D7E8F90A1B2";  // an unrelated product
inline const std::wstring Q1 = L"D4E5F60718293A4B5C6D7E8F90A1B2C3";  // patches
inline const std::wstring Q2 = L"E5F60718293A4B5C6D7E8F90A1B2C3D4";

// Class data of a product: Products\P (with SourceList), Products\P\Patches listing the
// patches (plus the installer's own "Patches" REG_MULTI_SZ value), Patches\Q, Features\P.
struct ClassProduct {
    std::wstring code;
    std::vector<std::wstring> patches;
    bool patchesKey = true;
    bool featureKey = true;
};
void AddClassProduct(const ClassProduct& p);

// Machine data of a product: UserData\S-1-5-18\Products\P with InstallProperties and
// Patches\AllPatches, UserData\S-1-5-18\Patches\Q, and the uninstall entry.
struct UserDataProduct {
    std::wstring code;
    std::vector<std::wstring> patches;
    bool uninstall32 = false;  // entry in the 32-bit view of a 64-bit machine
};
void AddUserDataProduct(const UserDataProduct& p);

// A component key with one REG_SZ value per client product.
void AddComponent(const std::wstring& component, const std::vector<std::wstring>& clients);

// The upgrade-code entries under both installer roots.
void AddUpgradeCode(const std::wstring& upgrade, const std::vector<std::wstring>& products);

std::wstring ComponentPath(const std::wstring& component);
std::wstring UninstallPath(const std::wstring& packedProduct, bool view32);

}  // namespace fx

namespace fx {

// Component names, sorted in this order.
inline const std::wstring C_FAMILY = L"0A11223344556677889900AABBCCDDEE";  // P1 and P2
inline const std::wstring C_SHARED = L"1B11223344556677889900AABBCCDDEE";  // P1 and OTHER
inline const std::wstring C_P2 = L"2C11223344556677889900AABBCCDDEE";      // P2 only
inline const std::wstring C_OTHER = L"3D11223344556677889900AABBCCDDEE";   // OTHER only

// A machine with the family (P1 with patch Q1, P2) and an unrelated product (OTHER with
// patch Q2) installed; uninstall entries in the 32-bit view when `wow64`.
void AddFamilyMachine(bool wow64);

// What a successful run removes from that machine.
std::vector<std::wstring> FamilyKeys(bool wow64);
std::vector<std::pair<std::wstring, std::wstring>> FamilyValues();

}  // namespace fx
