#include "fixtures.h"

#include "guid/guid.h"

namespace {

using fx::P1;
const std::string p1 = Narrow(P1);
const std::string uc = Narrow(fx::UPGRADE);

class DriverTest : public MachineTest {
protected:
    static std::vector<std::string> Lines(const std::vector<std::string>& trace, const std::string& needle) {
        std::vector<std::string> out;
        for (auto& l : trace)
            if (l.find(needle) != std::string::npos) out.push_back(l);
        return out;
    }
    static bool Has(const std::vector<std::string>& trace, const std::string& line) {
        return std::find(trace.begin(), trace.end(), line) != trace.end();
    }
};

// The smallest registration of one product: no patches, no components.
void AddBareProduct(bool wow64) {
    for (const auto& root : {paths::CLASSES, paths::MACHINE})
        stub::SetString(root + L"\\UpgradeCodes\\" + fx::UPGRADE, P1, L"");
    stub::SetString(paths::CLASSES + L"\\Products\\" + P1, L"ProductName", L"Velkaro");
    stub::SetString(paths::CLASSES + L"\\Features\\" + P1, L"Main", L"");
    stub::CreateKey(paths::USERDATA + L"\\Components");
    stub::SetString(paths::USERDATA + L"\\Products\\" + P1, L"x", L"");
    stub::SetString(fx::UninstallPath(P1, wow64), L"DisplayName", L"Velkaro");
}

TEST_F(DriverTest, FullRunUnderWow64) {
    Reset(true);
    AddBareProduct(true);
    auto before = stub::Snapshot();
    EXPECT_EQ(RemoveInstaller(), 1);

    const std::string entry =
        "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + Narrow(UnpackGuid(P1));
    std::vector<std::string> expected = {
        "RemoveInstaller(\"{4C2A7D90-6E1B-4F35-9A08-B7D3E51C62F4}\") began.",
        "\tIsWow64() began.",
        "\t\tGetModuleHandle(\"kernel32.dll\")",
        "\t\t\tSucceeded! [H1]",
        "\t\tGetProcAddress(H1, \"IsWow64Process\")",
        "\t\t\tSucceeded! [H2]",
        "\t\tIsWow64Process(H3, ?)",
        "\t\t\tSucceeded! [1]",
        "\tIsWow64() ended. [1]",
        "\tLoadLibrary(\"advapi32.dll\")",
        "\t\tSucceeded! [H4]",
        "\tGetProcAddress(H4, \"RegDeleteKeyEx\")",
        "\t\tSucceeded! [H5]",
        "\tRegOpenKeyEx(HKEY_LOCAL_MACHINE, \"SOFTWARE\\Classes\\Installer\", 0, 30119, ?)",
        "\t\tSucceeded! [H6]",
        "\tRemoveUpgradeCodesRegistory(H6, \"" + uc + "\", 1, H7) began.",
        "\t\tRegOpenKeyEx(H6, \"UpgradeCodes\\" + uc + "\", 0, 101, ?)",
        "\t\t\tSucceeded! [H8]",
        "\t\tRegEnumValue(H8, 0, ?, 256, NULL, ?, NULL, NULL)",
        "\t\t\tSucceeded! [" + p1 + "][1]",
        "\t\tRemoveClassesRegistory(H6, \"" + p1 + "\", 1) began.",
        "\t\t\tRemoveClassesProductsRegistory(H6, \"" + p1 + "\", 1) began.",
        "\t\t\t\tRegOpenKeyEx(H6, \"Products\\" + p1 + "\", 0, 101, ?)",
        "\t\t\t\t\tSucceeded! [H9]",
        "\t\t\t\tRegOpenKeyEx(H9, \"Patches\", 0, 101, ?)",
        "\t\t\t\t\tFailed. [ERROR_FILE_NOT_FOUND]",
    };
    Add(expected, LeafDeletion(4, "H6", "Products\\" + p1, "H10", 1, true));
    expected.push_back("\t\t\tRemoveClassesProductsRegistory() ended. [0]");
    Add(expected, LeafDeletion(3, "H6", "Features\\" + p1, "H11", 1, true));
    Add(expected, {
                      "\t\tRemoveClassesRegistory() ended. [0]",
                      "\t\tRegEnumValue(H8, 1, ?, 256, NULL, ?, NULL, NULL)",
                      "\t\t\tFinished.",
                  });
    Add(expected, LeafDeletion(2, "H6", "UpgradeCodes\\" + uc, "H12", 1, true));
    Add(expected, {
                      "\tRemoveUpgradeCodesRegistory() ended. [0]",
                      "\tRegOpenKeyEx(HKEY_LOCAL_MACHINE, \"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\", 0, "
                      "30119, ?)",
                      "\t\tSucceeded! [H13]",
                      "\tRemoveUpgradeCodesRegistory(H13, \"" + uc + "\", 1, H14) began.",
                      "\t\tRegOpenKeyEx(H13, \"UpgradeCodes\\" + uc + "\", 0, 101, ?)",
                      "\t\t\tSucceeded! [H15]",
                      "\t\tRegEnumValue(H15, 0, ?, 256, NULL, ?, NULL, NULL)",
                      "\t\t\tSucceeded! [" + p1 + "][1]",
                      "\t\tRemoveCurrentVersionRegistory(H13, \"" + p1 + "\", 1) began.",
                      "\t\t\tRegOpenKeyEx(H13, \"UserData\\S-1-5-18\", 0, 109, ?)",
                      "\t\t\t\tSucceeded! [H16]",
                      "\t\t\tRemoveCurrentVersionComponentsRegistory(H16, \"" + p1 + "\", 1) began.",
                      "\t\t\t\tRegOpenKeyEx(H16, \"Components\", 0, 109, ?)",
                      "\t\t\t\t\tSucceeded! [H17]",
                      "\t\t\t\tRegEnumKeyEx(H17, 0, ?, 256, NULL, NULL, NULL, NULL)",
                      "\t\t\t\t\tFinished.",
                      "\t\t\tRemoveCurrentVersionComponentsRegistory() ended. [0]",
                      "\t\t\tRemoveCurrentVersionProductsRegistory(H16, \"" + p1 + "\", 1) began.",
                      "\t\t\t\tRegOpenKeyEx(H16, \"Products\\" + p1 + "\", 0, 20119, ?)",
                      "\t\t\t\t\tSucceeded! [H18]",
                      "\t\t\t\tRegOpenKeyEx(H18, \"Patches\", 0, 101, ?)",
                      "\t\t\t\t\tFailed. [2]",
                  });
    Add(expected, LeafDeletion(4, "H16", "Products\\" + p1, "H19", 1, true));
    expected.push_back("\t\t\tRemoveCurrentVersionProductsRegistory() ended. [0]");
    // The uninstall entry: flag 0, the process's own view, RegDeleteKey.
    Add(expected, LeafDeletion(3, "80000002", entry, "H20", 0, false));
    Add(expected, {
                      "\t\tRemoveCurrentVersionRegistory() ended. [0]",
                      "\t\tRegEnumValue(H15, 1, ?, 256, NULL, ?, NULL, NULL)",
                      "\t\t\tFinished.",
                  });
    Add(expected, LeafDeletion(2, "H13", "UpgradeCodes\\" + uc, "H21", 1, true));
    Add(expected, {
                      "\tRemoveUpgradeCodesRegistory() ended. [0]",
                      "RemoveInstaller() ended. [0]",
                  });
    EXPECT_EQ(Trace(), expected);

    EXPECT_EQ(g_pfnRegDeleteKeyEx, &RegDeleteKeyExW);
    EXPECT_EQ(stub::shell().librariesLoaded, 0);
    EXPECT_EQ(stub::OpenHandleCount(), 0);
    EXPECT_EQ(stub::Snapshot(),
              Without(before, {paths::CLASSES + L"\\UpgradeCodes\\" + fx::UPGRADE,
                               paths::MACHINE + L"\\UpgradeCodes\\" + fx::UPGRADE, paths::CLASSES + L"\\Products\\" + P1,
                               paths::CLASSES + L"\\Features\\" + P1, paths::USERDATA + L"\\Products\\" + P1,
                               fx::UninstallPath(P1, true)}));
}

TEST_F(DriverTest, OutsideWow64NoViewBitsAndNoLoadLibrary) {
    AddBareProduct(false);
    EXPECT_EQ(RemoveInstaller(), 1);
    auto trace = Trace();
    EXPECT_TRUE(Lines(trace, "LoadLibrary").empty());
    EXPECT_TRUE(Lines(trace, "RegDeleteKeyEx(").empty());
    EXPECT_EQ(Lines(trace, "30019, ?)").size(), 2u);
    EXPECT_EQ(Lines(trace, "\"UpgradeCodes\\" + uc + "\", 0, 1, ?)").size(), 2u);
    EXPECT_EQ(Lines(trace, "RegDeleteKey(").size(), Lines(trace, "RegDeleteKeyNT(").size() / 2);
    EXPECT_EQ(g_pfnRegDeleteKeyEx, nullptr);
    EXPECT_TRUE(Has(trace, "\tIsWow64() ended. [0]"));
}

// How IsWow64 ends when the look-up or the call fails: the cleanup goes on with flag 0.
struct Wow64FailureCase {
    const char* name;
    stub::Wow64Query query;
    std::vector<std::string> lines;  // from "IsWow64() began." to its end
};

class IsWow64FailureTest : public DriverTest, public ::testing::WithParamInterface<Wow64FailureCase> {};

TEST_P(IsWow64FailureTest, FailureIsTracedAndTheFlagIsZero) {
    stub::shell().wow64 = GetParam().query;
    EXPECT_EQ(IsWow64(), 0);
    EXPECT_EQ(Trace(), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, IsWow64FailureTest,
    ::testing::Values(
        Wow64FailureCase{"NoKernel32", stub::Wow64Query::NoKernel32,
                         {"IsWow64() began.", "\tGetModuleHandle(\"kernel32.dll\")", "\t\tFailed. [126]",
                          "IsWow64() ended. [0]"}},
        Wow64FailureCase{"NoIsWow64Process", stub::Wow64Query::NoIsWow64Process,
                         {"IsWow64() began.", "\tGetModuleHandle(\"kernel32.dll\")", "\t\tSucceeded! [H1]",
                          "\tGetProcAddress(H1, \"IsWow64Process\")", "\t\tFailed. [127]", "IsWow64() ended. [0]"}},
        Wow64FailureCase{"CallFails", stub::Wow64Query::CallFails,
                         {"IsWow64() began.", "\tGetModuleHandle(\"kernel32.dll\")", "\t\tSucceeded! [H1]",
                          "\tGetProcAddress(H1, \"IsWow64Process\")", "\t\tSucceeded! [H2]", "\tIsWow64Process(H3, ?)",
                          "\t\tFailed. [5]", "IsWow64() ended. [0]"}}),
    [](const ::testing::TestParamInfo<Wow64FailureCase>& info) { return info.param.name; });

TEST_F(DriverTest, WithoutAdvapi32TheViewBitsStayAndDeletionsFallBack) {
    Reset(true);
    stub::shell().advapiLoads = false;
    AddBareProduct(true);
    RemoveInstaller();
    auto trace = Trace();
    EXPECT_TRUE(Has(trace, "\tLoadLibrary(\"advapi32.dll\")"));
    EXPECT_TRUE(Has(trace, "\t\tFailed. [126]"));
    EXPECT_EQ(Lines(trace, "30119, ?)").size(), 2u);
    EXPECT_TRUE(Lines(trace, "RegDeleteKeyEx(").empty());
    EXPECT_EQ(g_pfnRegDeleteKeyEx, nullptr);
    EXPECT_EQ(stub::shell().librariesLoaded, 0);
}

TEST_F(DriverTest, WithoutRegDeleteKeyExTheLookUpFailureIsTraced) {
    Reset(true);
    stub::shell().hasRegDeleteKeyEx = false;
    AddBareProduct(true);
    RemoveInstaller();
    auto trace = Trace();
    EXPECT_EQ(trace[11], "\tGetProcAddress(H4, \"RegDeleteKeyEx\")");
    EXPECT_EQ(trace[12], "\t\tFailed. [127]");
    EXPECT_EQ(stub::shell().librariesLoaded, 0);
}

TEST_F(DriverTest, SecondRunFailsAtTheClassDataAndSkipsTheMachineData) {
    AddBareProduct(false);
    EXPECT_EQ(RemoveInstaller(), 1);
    auto after = stub::Snapshot();
    InitLog(Widen(logPath_).c_str());  // a fresh trace for the second run
    EXPECT_EQ(RemoveInstaller(), 0);
    auto trace = Trace();
    EXPECT_TRUE(Lines(trace, "CurrentVersion\\Installer").empty());
    EXPECT_EQ(stub::Snapshot(), after);
    EXPECT_EQ(trace.end()[-4], "\t\tRegOpenKeyEx(H4, \"UpgradeCodes\\" + uc + "\", 0, 1, ?)");
    EXPECT_EQ(trace.end()[-3], "\t\t\tFailed. [2]");
    EXPECT_EQ(trace.end()[-2], "\tRemoveUpgradeCodesRegistory() ended. [2]");
    EXPECT_EQ(trace.back(), "RemoveInstaller() ended. [2]");
}

TEST_F(DriverTest, MissingMachineDataUpgradeCodeStillCleansTheClassData) {
    fx::AddClassProduct({P1, {}});
    stub::SetString(paths::CLASSES + L"\\UpgradeCodes\\" + fx::UPGRADE, P1, L"");
    stub::CreateKey(paths::MACHINE);
    auto before = stub::Snapshot();
    EXPECT_EQ(RemoveInstaller(), 0);
    EXPECT_EQ(stub::Snapshot(),
              Without(before, {paths::CLASSES + L"\\UpgradeCodes\\" + fx::UPGRADE,
                               paths::CLASSES + L"\\Products\\" + P1, paths::CLASSES + L"\\Features\\" + P1}));
    EXPECT_EQ(Trace().back(), "RemoveInstaller() ended. [2]");
}

TEST_F(DriverTest, OnlyRegSzValuesOfThirtyTwoCharactersAreProducts) {
    const std::wstring key = paths::CLASSES + L"\\UpgradeCodes\\" + fx::UPGRADE;
    stub::SetValue(key, P1, REG_BINARY, {1});
    stub::SetString(key, P1.substr(1), L"");
    stub::SetString(key, P1 + L"0", L"");
    EXPECT_EQ(RemoveUpgradeCodesRegistory(
                  [](HKEY, const std::wstring&, int) -> LONG {
                      ADD_FAILURE() << "no value names a product";
                      return 0;
                  },
                  fx::UPGRADE, HKEY_LOCAL_MACHINE, 0),
              ERROR_FILE_NOT_FOUND);  // the path is relative to the root passed: not under HKLM
    HKEY root;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, paths::CLASSES.c_str(), 0, KEY_READ | DELETE, &root);
    EXPECT_EQ(RemoveUpgradeCodesRegistory(
                  [](HKEY, const std::wstring&, int) -> LONG {
                      ADD_FAILURE() << "no value names a product";
                      return 0;
                  },
                  fx::UPGRADE, root, 0),
              ERROR_SUCCESS);
    RegCloseKey(root);
    EXPECT_FALSE(stub::KeyExists(key));
}

TEST_F(DriverTest, HandlerFailureChangesNeitherTheWalkNorTheResult) {
    // P1's class product key is missing: its handler returns 2.
    fx::AddUpgradeCode(fx::UPGRADE, {P1, fx::P2});
    fx::AddClassProduct({fx::P2, {}});
    fx::AddUserDataProduct({P1, {}});
    fx::AddUserDataProduct({fx::P2, {}});
    stub::CreateKey(paths::USERDATA + L"\\Components");
    EXPECT_EQ(RemoveInstaller(), 1);
    auto trace = Trace();
    EXPECT_TRUE(Has(trace, "\t\tRemoveClassesRegistory() ended. [2]"));
    EXPECT_FALSE(stub::KeyExists(paths::CLASSES + L"\\Products\\" + fx::P2));
    EXPECT_FALSE(stub::KeyExists(paths::CLASSES + L"\\UpgradeCodes\\" + fx::UPGRADE));
    EXPECT_FALSE(stub::KeyExists(paths::USERDATA + L"\\Products\\" + P1));
}

TEST_F(DriverTest, OverlongValueNameStopsTheEnumerationAndKeepsTheUpgradeCode) {
    fx::AddFamilyMachine(false);
    stub::SetString(paths::CLASSES + L"\\UpgradeCodes\\" + fx::UPGRADE, std::wstring(256, L'A'), L"");
    auto before = stub::Snapshot();
    EXPECT_EQ(RemoveInstaller(), 0);
    auto trace = Trace();
    EXPECT_TRUE(Has(trace, "\t\tRegEnumValue(H6, 2, ?, 256, NULL, ?, NULL, NULL)"));
    EXPECT_TRUE(Has(trace, "\t\t\tFailed. [234]"));
    EXPECT_TRUE(Lines(trace, "CurrentVersion\\Installer").empty());
    // P1 and P2 were listed before the long name: their class data is gone, nothing else.
    std::vector<std::wstring> gone;
    for (const auto& p : {P1, fx::P2}) {
        gone.push_back(paths::CLASSES + L"\\Products\\" + p);
        gone.push_back(paths::CLASSES + L"\\Features\\" + p);
    }
    gone.push_back(paths::CLASSES + L"\\Patches\\" + fx::Q1);
    EXPECT_EQ(stub::Snapshot(), Without(before, gone));
}

// An upgrade code that does not pack to 32 hex digits never reaches a key path.
TEST_F(DriverTest, MalformedUpgradeCodeIsRefusedBeforeAnyKeyIsOpened) {
    fx::AddFamilyMachine(false);
    auto before = stub::Snapshot();
    EXPECT_EQ(RemoveInstallerFor(L"{4C2A7D90-6E1B-4F35-9A08}"), 0);
    EXPECT_EQ(stub::RegistryCallCount(), 0);
    auto trace = Trace();
    EXPECT_EQ(std::vector<std::string>(trace.end() - 3, trace.end()),
              (std::vector<std::string>{"\tPackGuid(\"{4C2A7D90-6E1B-4F35-9A08}\")", "\t\tFailed. [87]",
                                        "RemoveInstaller() ended. [87]"}));

    HKEY root;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, paths::CLASSES.c_str(), 0, KEY_READ | DELETE, &root);
    long calls = stub::RegistryCallCount();
    EXPECT_EQ(RemoveUpgradeCodesRegistory(RemoveClassesRegistory, L"", root, 0), ERROR_INVALID_PARAMETER);
    RegCloseKey(root);
    EXPECT_EQ(stub::RegistryCallCount(), calls);
    EXPECT_EQ(stub::Snapshot(), before);
}

}  // namespace
