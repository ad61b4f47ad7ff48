#include "fixtures.h"

#include "guid/guid.h"

namespace {

using fx::OTHER;
using fx::P1;
using fx::Q1;
using fx::Q2;
const std::string p1 = Narrow(P1);
const std::wstring C_A = L"0A11223344556677889900AABBCCDDEE";

// A packed patch code of 32 characters for patch number i.
std::wstring PatchCode(int i) {
    wchar_t buf[40];
    std::swprintf(buf, 40, L"F%031X", i);
    return buf;
}

class UserDataTest : public MachineTest {
protected:
    LONG Run(const std::wstring& product = P1, int flag = 0) {
        HKEY root = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, paths::MACHINE.c_str(), 0, DELETE | KEY_READ | ViewBits(flag), &root),
                  ERROR_SUCCESS);
        LONG status = RemoveCurrentVersionRegistory(root, product, flag);
        RegCloseKey(root);
        EXPECT_EQ(stub::OpenHandleCount(), 0);
        return status;
    }
    static std::wstring Product(const std::wstring& p) { return paths::USERDATA + L"\\Products\\" + p; }
    static std::wstring Patch(const std::wstring& q) { return paths::USERDATA + L"\\Patches\\" + q; }
    // Every line of the trace that starts RegDeleteKeyNT, without its tabs.
    std::vector<std::string> Deletions() const {
        std::vector<std::string> out;
        for (auto& line : Trace()) {
            auto at = line.find_first_not_of('\t');
            if (line.compare(at, 15, "RegDeleteKeyNT(") == 0 && line.find("began.") != std::string::npos)
                out.push_back(line.substr(at));
        }
        return out;
    }
};

TEST_F(UserDataTest, CompleteRemovalOfOneProduct) {
    fx::AddComponent(C_A, {P1});
    fx::AddUserDataProduct({P1, {Q1, Q2}});
    fx::AddUserDataProduct({OTHER, {}});
    auto before = stub::Snapshot();
    EXPECT_EQ(Run(), ERROR_SUCCESS);
    EXPECT_EQ(stub::Snapshot(), Without(before, {fx::ComponentPath(C_A), Product(P1), Patch(Q1), Patch(Q2),
                                                 fx::UninstallPath(P1, false)}));
    // Patches in list order under the user-data key, then the product key, then the entry.
    EXPECT_EQ(Deletions(), (std::vector<std::string>{
                               "RegDeleteKeyNT(H3, \"" + Narrow(C_A) + "\", 0) began.",
                               "RegDeleteKeyNT(H2, \"Patches\\" + Narrow(Q1) + "\", 0) began.",
                               "RegDeleteKeyNT(H2, \"Patches\\" + Narrow(Q2) + "\", 0) began.",
                               "RegDeleteKeyNT(H2, \"Products\\" + p1 + "\", 0) began.",
                               "RegDeleteKeyNT(H10, \"Features\", 0) began.",
                               "RegDeleteKeyNT(H10, \"InstallProperties\", 0) began.",
                               "RegDeleteKeyNT(H10, \"Patches\", 0) began.",
                               "RegDeleteKeyNT(H13, \"" + Narrow(Q1) + "\", 0) began.",
                               "RegDeleteKeyNT(H13, \"" + Narrow(Q2) + "\", 0) began.",
                               "RegDeleteKeyNT(80000002, \"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
                                   Narrow(UnpackGuid(P1)) + "\", 0) began.",
                           }));
}

TEST_F(UserDataTest, ProductStepReadsAllPatchesAndRemovesThemInOrder) {
    stub::CreateKey(paths::USERDATA + L"\\Components");
    fx::AddUserDataProduct({P1, {Q1, Q2}});
    auto before = stub::Snapshot();
    EXPECT_EQ(Run(), ERROR_SUCCESS);
    EXPECT_EQ(stub::Snapshot(), Without(before, {Product(P1), Patch(Q1), Patch(Q2), fx::UninstallPath(P1, false)}));
    auto trace = Trace();
    ASSERT_GT(trace.size(), 17u);
    EXPECT_EQ(std::vector<std::string>(trace.begin(), trace.begin() + 18),
              (std::vector<std::string>{
                  "RemoveCurrentVersionRegistory(H1, \"" + p1 + "\", 0) began.",
                  "\tRegOpenKeyEx(H1, \"UserData\\S-1-5-18\", 0, 9, ?)",
                  "\t\tSucceeded! [H2]",
                  "\tRemoveCurrentVersionComponentsRegistory(H2, \"" + p1 + "\", 0) began.",
                  "\t\tRegOpenKeyEx(H2, \"Components\", 0, 9, ?)",
                  "\t\t\tSucceeded! [H3]",
                  "\t\tRegEnumKeyEx(H3, 0, ?, 256, NULL, NULL, NULL, NULL)",
                  "\t\t\tFinished.",
                  "\tRemoveCurrentVersionComponentsRegistory() ended. [0]",
                  "\tRemoveCurrentVersionProductsRegistory(H2, \"" + p1 + "\", 0) began.",
                  "\t\tRegOpenKeyEx(H2, \"Products\\" + p1 + "\", 0, 20019, ?)",
                  "\t\t\tSucceeded! [H4]",
                  "\t\tRegOpenKeyEx(H4, \"Patches\", 0, 1, ?)",
                  "\t\t\tSucceeded! [H5]",
                  "\t\tRegQueryValueEx(H5, \"AllPatches\", NULL, ?, ?, 1024)",
                  "\t\t\tSucceeded! [" + Narrow(Q1) + "][7]",
                  "\t\tRegDeleteKeyNT(H2, \"Patches\\" + Narrow(Q1) + "\", 0) began.",
                  "\t\t\tRegOpenKeyEx(H2, \"Patches\\" + Narrow(Q1) + "\", 0, 10008, ?)",
              }));
    EXPECT_EQ(trace.back(), "RemoveCurrentVersionRegistory() ended. [0]");
}

// More than 15 patches do not fit 1024 bytes: the list is read again at its full size.
class AllPatchesCountTest : public UserDataTest, public ::testing::WithParamInterface<int> {};

TEST_P(AllPatchesCountTest, EveryListedPatchIsRemoved) {
    const int count = GetParam();
    std::vector<std::wstring> patches;
    for (int i = 0; i < count; ++i) patches.push_back(PatchCode(i));
    stub::CreateKey(paths::USERDATA + L"\\Components");
    fx::AddUserDataProduct({P1, patches});
    auto before = stub::Snapshot();
    EXPECT_EQ(Run(), ERROR_SUCCESS);
    std::vector<std::wstring> gone = {Product(P1), fx::UninstallPath(P1, false)};
    for (auto& q : patches) gone.push_back(Patch(q));
    EXPECT_EQ(stub::Snapshot(), Without(before, gone));

    auto trace = Trace();
    auto query = std::find(trace.begin(), trace.end(), "\t\tRegQueryValueEx(H5, \"AllPatches\", NULL, ?, ?, 1024)");
    ASSERT_NE(query, trace.end());
    const int bytes = (count * 33 + 1) * 2;
    if (bytes <= 1024) {
        EXPECT_EQ(query[1], "\t\t\tSucceeded! [" + Narrow(PatchCode(0)) + "][7]");
    } else {
        EXPECT_EQ(query[1], "\t\t\tFailed. [234]");
        EXPECT_EQ(query[2], "\t\tRegQueryValueEx(H5, \"AllPatches\", NULL, ?, ?, " + std::to_string(bytes) + ")");
        EXPECT_EQ(query[3], "\t\t\tSucceeded! [" + Narrow(PatchCode(0)) + "][7]");
    }
}

INSTANTIATE_TEST_SUITE_P(Counts, AllPatchesCountTest, ::testing::Values(15, 16, 40));

// AllPatches data that is empty, of another type, or not ended as a list should be.
struct AllPatchesDataCase {
    const char* name;
    DWORD type;
    std::vector<BYTE> data;
    std::vector<std::wstring> removed;
    const char* shown;  // the success line's text
};

class AllPatchesDataTest : public UserDataTest, public ::testing::WithParamInterface<AllPatchesDataCase> {};

TEST_P(AllPatchesDataTest, WalkStaysWithinTheReturnedBytes) {
    const auto& c = GetParam();
    stub::CreateKey(paths::USERDATA + L"\\Components");
    fx::AddUserDataProduct({P1, {}});
    for (auto& q : {Q1, Q2}) stub::CreateKey(Patch(q));
    stub::SetValue(Product(P1) + L"\\Patches", L"AllPatches", c.type, c.data);
    auto before = stub::Snapshot();
    EXPECT_EQ(Run(), ERROR_SUCCESS);
    std::vector<std::wstring> gone = {Product(P1), fx::UninstallPath(P1, false)};
    for (auto& q : c.removed) gone.push_back(Patch(q));
    EXPECT_EQ(stub::Snapshot(), Without(before, gone));
    auto trace = Trace();
    EXPECT_NE(std::find(trace.begin(), trace.end(),
                        "\t\t\tSucceeded! [" + std::string(c.shown) + "][" + std::to_string(c.type) + "]"),
              trace.end());
}

std::vector<BYTE> Bytes(const std::wstring& text) { return stub::Utf16Bytes(text); }
std::vector<BYTE> Odd(std::vector<BYTE> b) {
    b.push_back(0x41);
    return b;
}
const std::wstring NUL(1, L'\0');
// A list too long for the first read and not terminated at all: its last byte is the
// last byte of the buffer, so a read past it is caught by AddressSanitizer.
std::vector<BYTE> LongUnterminated() {
    std::wstring text;
    for (int i = 0; i < 20; ++i) text += PatchCode(100 + i) + NUL;
    return Bytes(text + Q1);
}

INSTANTIATE_TEST_SUITE_P(
    Data, AllPatchesDataTest,
    ::testing::Values(
        AllPatchesDataCase{"EmptyList", REG_MULTI_SZ, Bytes(NUL), {}, ""},
        AllPatchesDataCase{"SizeZero", REG_MULTI_SZ, {}, {}, ""},
        AllPatchesDataCase{"WrongType", REG_SZ, Bytes(Q1 + NUL), {}, "D4E5F60718293A4B5C6D7E8F90A1B2C3"},
        AllPatchesDataCase{"NoFinalEmptyString", REG_MULTI_SZ, Bytes(Q1 + NUL + Q2 + NUL), {Q1, Q2},
                           "D4E5F60718293A4B5C6D7E8F90A1B2C3"},
        AllPatchesDataCase{"UnterminatedLastString", REG_MULTI_SZ, Bytes(Q1 + NUL + Q2), {Q1, Q2},
                           "D4E5F60718293A4B5C6D7E8F90A1B2C3"},
        AllPatchesDataCase{"UnterminatedOnlyString", REG_MULTI_SZ, Bytes(Q1), {Q1},
                           "D4E5F60718293A4B5C6D7E8F90A1B2C3"},
        AllPatchesDataCase{"OddByteCount", REG_MULTI_SZ, Odd(Bytes(Q1 + NUL + Q2)), {Q1, Q2},
                           "D4E5F60718293A4B5C6D7E8F90A1B2C3"},
        AllPatchesDataCase{"LongAndUnterminated", REG_MULTI_SZ, LongUnterminated(), {Q1},
                           "F0000000000000000000000000000064"}),
    [](const ::testing::TestParamInfo<AllPatchesDataCase>& info) { return info.param.name; });

TEST_F(UserDataTest, UninstallEntryIsDeletedInTheProcessViewWhateverTheFlag) {
    Reset(true);
    g_pfnRegDeleteKeyEx = &RegDeleteKeyExW;
    stub::CreateKey(paths::USERDATA + L"\\Components");
    fx::AddUserDataProduct({P1, {}, true});
    stub::SetString(fx::UninstallPath(P1, false), L"DisplayName", L"64-bit twin");
    auto before = stub::Snapshot();
    EXPECT_EQ(Run(P1, 1), ERROR_SUCCESS);
    EXPECT_EQ(stub::Snapshot(), Without(before, {Product(P1), fx::UninstallPath(P1, true)}));
    auto trace = Trace();
    const std::string entry = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + Narrow(UnpackGuid(P1));
    EXPECT_NE(std::find(trace.begin(), trace.end(), "\tRegDeleteKeyNT(80000002, \"" + entry + "\", 0) began."),
              trace.end());
    EXPECT_NE(std::find(trace.begin(), trace.end(), "\t\tRegOpenKeyEx(80000002, \"" + entry + "\", 0, 10008, ?)"),
              trace.end());
    EXPECT_NE(std::find(trace.begin(), trace.end(), "\t\tRegDeleteKey(80000002, \"" + entry + "\")"), trace.end());
}

// A code that is not a packed product code names no product's keys: nothing is touched,
// above all not "Products\\" or the Uninstall key itself.
class BadProductCodeTest : public UserDataTest, public ::testing::WithParamInterface<std::wstring> {};

TEST_P(BadProductCodeTest, NothingIsDeleted) {
    fx::AddComponent(C_A, {});
    fx::AddUserDataProduct({P1, {Q1}});
    auto before = stub::Snapshot();
    EXPECT_EQ(Run(GetParam()), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(stub::Snapshot(), before);
    EXPECT_EQ(RemoveUninstallRegistory(L""), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(stub::Snapshot(), before);
}

INSTANTIATE_TEST_SUITE_P(Codes, BadProductCodeTest,
                         ::testing::Values(std::wstring(), P1.substr(0, 31), P1 + L"0"));

TEST_F(UserDataTest, MissingUserDataKeyFailsWithTwo) {
    stub::CreateKey(paths::MACHINE);
    auto before = stub::Snapshot();
    EXPECT_EQ(Run(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(stub::Snapshot(), before);
    EXPECT_EQ(Trace(), (std::vector<std::string>{
                           "RemoveCurrentVersionRegistory(H1, \"" + p1 + "\", 0) began.",
                           "\tRegOpenKeyEx(H1, \"UserData\\S-1-5-18\", 0, 9, ?)",
                           "\t\tFailed. [2]",
                           "RemoveCurrentVersionRegistory() ended. [2]",
                       }));
}

TEST_F(UserDataTest, MissingProductKeyReturnsTwoAndKeepsTheUninstallEntry) {
    fx::AddComponent(C_A, {P1});
    stub::SetString(fx::UninstallPath(P1, false), L"DisplayName", L"x");
    auto before = stub::Snapshot();
    EXPECT_EQ(Run(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(stub::Snapshot(), Without(before, {fx::ComponentPath(C_A)}));
    auto trace = Trace();
    EXPECT_EQ(trace.end()[-2], "\tRemoveCurrentVersionProductsRegistory() ended. [2]");
}

}  // namespace
