#include "fixtures.h"

#include "guid/guid.h"

namespace fx {


void AddClassProduct(const ClassProduct& p) {
    const std::wstring product = paths::CLASSES + L"\\Products\\" + p.code;
    stub::SetString(product, L"ProductName", L"Product " + p.code.substr(0, 4));
    stub::SetString(product + L"\\SourceList", L"PackageName", L"product.msi");
    if (p.patchesKey) {
        stub::SetMultiString(product + L"\\Patches", L"Patches", p.patches);
        for (const auto& q : p.patches) {
            stub::SetString(product + L"\\Patches", q, L"");
            stub::SetString(paths::CLASSES + L"\\Patches\\" + q, L"PackageName", L"patch.msp");
            stub::SetString(paths::CLASSES + L"\\Patches\\" + q + L"\\SourceList", L"LastUsedSource", L"n;1;C:\\");
        }
    }
    if (p.featureKey) stub::SetString(paths::CLASSES + L"\\Features\\" + p.code, L"Main", L"");
}

void AddUserDataProduct(const UserDataProduct& p) {
    const std::wstring product = paths::USERDATA + L"\\Products\\" + p.code;
    stub::SetString(product + L"\\InstallProperties", L"DisplayName", L"Product " + p.code.substr(0, 4));
    stub::SetString(product + L"\\Features", L"Main", L"");
    stub::SetMultiString(product + L"\\Patches", L"AllPatches", p.patches);
    for (const auto& q : p.patches) {
        stub::CreateKey(product + L"\\Patches\\" + q);
        stub::SetString(paths::USERDATA + L"\\Patches\\" + q, L"LocalPackage", L"C:\\Windows\\Installer\\x.msp");
    }
    stub::SetString(UninstallPath(p.code, p.uninstall32), L"DisplayName", L"Product " + p.code.substr(0, 4));
}

void AddComponent(const std::wstring& component, const std::vector<std::wstring>& clients) {
    stub::CreateKey(ComponentPath(component));
    for (const auto& c : clients) stub::SetString(ComponentPath(component), c, L"C:\\Program Files\\file.dll");
}

void AddUpgradeCode(const std::wstring& upgrade, const std::vector<std::wstring>& products) {
    for (const auto& root : {paths::CLASSES, paths::MACHINE}) {
        stub::CreateKey(root + L"\\UpgradeCodes\\" + upgrade);
        for (const auto& p : products) stub::SetString(root + L"\\UpgradeCodes\\" + upgrade, p, L"");
    }
}

std::wstring ComponentPath(const std::wstring& component) { return paths::USERDATA + L"\\Components\\" + component; }

std::wstring UninstallPath(const std::wstring& packedProduct, bool view32) {
    return (view32 ? paths::UNINSTALL32 : paths::UNINSTALL) + L"\\" + UnpackGuid(packedProduct);
}

}  // namespace fx

namespace fx {

void AddFamilyMachine(bool wow64) {
    AddUpgradeCode(UPGRADE, {P1, P2});
    AddUpgradeCode(OTHER_UPGRADE, {OTHER});
    AddClassProduct({P1, {Q1}});
    AddClassProduct({P2, {}});
    AddClassProduct({OTHER, {Q2}});
    AddUserDataProduct({P1, {Q1}, wow64});
    AddUserDataProduct({P2, {}, wow64});
    AddUserDataProduct({OTHER, {Q2}, wow64});
    AddComponent(C_FAMILY, {P1, P2});
    AddComponent(C_SHARED, {P1, OTHER});
    AddComponent(C_P2, {P2});
    AddComponent(C_OTHER, {OTHER});
}

std::vector<std::wstring> FamilyKeys(bool wow64) {
    std::vector<std::wstring> keys;
    for (const auto& root : {paths::CLASSES, paths::MACHINE}) keys.push_back(root + L"\\UpgradeCodes\\" + UPGRADE);
    for (const auto& p : {P1, P2}) {
        keys.push_back(paths::CLASSES + L"\\Products\\" + p);
        keys.push_back(paths::CLASSES + L"\\Features\\" + p);
        keys.push_back(paths::USERDATA + L"\\Products\\" + p);
        keys.push_back(UninstallPath(p, wow64));
    }
    keys.push_back(paths::CLASSES + L"\\Patches\\" + Q1);
    keys.push_back(paths::USERDATA + L"\\Patches\\" + Q1);
    keys.push_back(ComponentPath(C_FAMILY));
    keys.push_back(ComponentPath(C_P2));
    return keys;
}

std::vector<std::pair<std::wstring, std::wstring>> FamilyValues() { return {{ComponentPath(C_SHARED), P1}}; }

}  // namespace fx
