#include "fixtures.h"

namespace {

using fx::OTHER;
using fx::P1;
const std::string p1 = Narrow(P1);
const std::string other = Narrow(OTHER);
// Component names sort in this order.
const std::wstring C_A = L"0A11223344556677889900AABBCCDDEE";
const std::wstring C_B = L"1B11223344556677889900AABBCCDDEE";
const std::wstring C_C = L"2C11223344556677889900AABBCCDDEE";
const std::string c_a = Narrow(C_A);
const std::string c_b = Narrow(C_B);

class ComponentsTest : public MachineTest {
protected:
    LONG Run(const std::wstring& product = P1, int flag = 0) {
        HKEY userData = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, paths::USERDATA.c_str(), 0,
                                KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | ViewBits(flag), &userData),
                  ERROR_SUCCESS);
        LONG status = RemoveCurrentVersionComponentsRegistory(userData, product, flag);
        RegCloseKey(userData);
        EXPECT_EQ(stub::OpenHandleCount(), 0);
        return status;
    }
};

TEST_F(ComponentsTest, ExclusiveComponentGoesAndSharedOneKeepsTheOtherProduct) {
    fx::AddComponent(C_A, {P1});
    fx::AddComponent(C_B, {OTHER, P1});
    auto before = stub::Snapshot();
    EXPECT_EQ(Run(), ERROR_SUCCESS);
    std::vector<std::string> expected = {
        "RemoveCurrentVersionComponentsRegistory(H1, \"" + p1 + "\", 0) began.",
        "\tRegOpenKeyEx(H1, \"Components\", 0, 9, ?)",
        "\t\tSucceeded! [H2]",
        "\tRegEnumKeyEx(H2, 0, ?, 256, NULL, NULL, NULL, NULL)",
        "\t\tSucceeded! [" + c_a + "]",
        "\tRegEnumKeyEx(H2, 1, ?, 256, NULL, NULL, NULL, NULL)",
        "\t\tSucceeded! [" + c_b + "]",
        "\tRegEnumKeyEx(H2, 2, ?, 256, NULL, NULL, NULL, NULL)",
        "\t\tFinished.",
        "\tRegOpenKeyEx(H2, \"" + c_a + "\", 0, 3, ?)",
        "\t\tSucceeded! [H3]",
        "\tRegEnumValue(H3, 0, ?, 256, NULL, ?, NULL, NULL)",
        "\t\tSucceeded! [" + p1 + "][1]",
        "\tRegEnumValue(H3, 1, ?, 256, NULL, ?, NULL, NULL)",
        "\t\tFinished.",
        "\tRegDeleteValue(H3, \"" + p1 + "\")",
        "\t\tSucceeded!",
    };
    Add(expected, LeafDeletion(1, "H2", c_a, "H4", 0));
    Add(expected, {
                      "\tRegOpenKeyEx(H2, \"" + c_b + "\", 0, 3, ?)",
                      "\t\tSucceeded! [H5]",
                      "\tRegEnumValue(H5, 0, ?, 256, NULL, ?, NULL, NULL)",
                      "\t\tSucceeded! [" + other + "][1]",
                      "\tRegEnumValue(H5, 1, ?, 256, NULL, ?, NULL, NULL)",
                      "\t\tSucceeded! [" + p1 + "][1]",
                      "\tRegEnumValue(H5, 2, ?, 256, NULL, ?, NULL, NULL)",
                      "\t\tFinished.",
                      "\tRegDeleteValue(H5, \"" + p1 + "\")",
                      "\t\tSucceeded!",
                      "RemoveCurrentVersionComponentsRegistory() ended. [0]",
                  });
    EXPECT_EQ(Trace(), expected);
    EXPECT_EQ(stub::Snapshot(), Without(before, {fx::ComponentPath(C_A)}, {{fx::ComponentPath(C_B), P1}}));
}

// Values that are not the product's own keep the component and themselves.
struct KeepCase {
    const char* name;
    std::wstring value;
    DWORD type;
};

class ComponentKeepTest : public ComponentsTest, public ::testing::WithParamInterface<KeepCase> {};

TEST_P(ComponentKeepTest, ComponentAndValueStay) {
    stub::SetValue(fx::ComponentPath(C_A), GetParam().value, GetParam().type, stub::Utf16Bytes(L"x"));
    auto before = stub::Snapshot();
    EXPECT_EQ(Run(), ERROR_SUCCESS);
    EXPECT_EQ(stub::Snapshot(), before);
}

INSTANTIATE_TEST_SUITE_P(Values, ComponentKeepTest,
                         ::testing::Values(KeepCase{"ProductNameButMultiSz", P1, REG_MULTI_SZ},
                                           KeepCase{"ProductNameInOtherCase", L"a1b2c3d4e5f60718293a4b5c6d7e8f90", REG_SZ},
                                           KeepCase{"OtherProduct", OTHER, REG_SZ},
                                           KeepCase{"ProductNameWithSuffix", P1 + L"0", REG_SZ}),
                         [](const ::testing::TestParamInfo<KeepCase>& info) { return info.param.name; });

TEST_F(ComponentsTest, ComponentWithoutValuesIsDeletedWithItsSubkeys) {
    stub::CreateKey(fx::ComponentPath(C_A) + L"\\Sub");
    auto before = stub::Snapshot();
    EXPECT_EQ(Run(), ERROR_SUCCESS);
    EXPECT_EQ(stub::Snapshot(), Without(before, {fx::ComponentPath(C_A)}));
}

TEST_F(ComponentsTest, MissingComponentsKeyFailsWithTwo) {
    stub::CreateKey(paths::USERDATA);
    auto before = stub::Snapshot();
    EXPECT_EQ(Run(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(stub::Snapshot(), before);
    EXPECT_EQ(Trace(), (std::vector<std::string>{
                           "RemoveCurrentVersionComponentsRegistory(H1, \"" + p1 + "\", 0) began.",
                           "\tRegOpenKeyEx(H1, \"Components\", 0, 9, ?)",
                           "\t\tFailed. [2]",
                           "RemoveCurrentVersionComponentsRegistory() ended. [2]",
                       }));
}

TEST_F(ComponentsTest, LastComponentFailingToOpenDecidesTheResult) {
    fx::AddComponent(C_A, {P1});
    fx::AddComponent(C_B, {P1});
    stub::FailCall(stub::Api::OpenKey, fx::ComponentPath(C_B), ERROR_ACCESS_DENIED);
    auto before = stub::Snapshot();
    EXPECT_EQ(Run(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(stub::Snapshot(), Without(before, {fx::ComponentPath(C_A)}));
}

TEST_F(ComponentsTest, FailureInOneComponentIsOverwrittenByTheNext) {
    fx::AddComponent(C_A, {P1});
    fx::AddComponent(C_B, {OTHER, P1});
    stub::FailCall(stub::Api::OpenKey, fx::ComponentPath(C_A), ERROR_ACCESS_DENIED);
    auto before = stub::Snapshot();
    EXPECT_EQ(Run(), ERROR_SUCCESS);
    EXPECT_EQ(stub::Snapshot(), Without(before, {}, {{fx::ComponentPath(C_B), P1}}));
}

TEST_F(ComponentsTest, FailedValueDeletionStillDeletesTheExclusiveKey) {
    fx::AddComponent(C_A, {P1});
    stub::FailCall(stub::Api::DeleteValue, fx::ComponentPath(C_A), ERROR_ACCESS_DENIED);
    auto before = stub::Snapshot();
    EXPECT_EQ(Run(), ERROR_SUCCESS);
    auto trace = Trace();
    EXPECT_NE(std::find(trace.begin(), trace.end(), "\t\tFailed. [5]"), trace.end());
    EXPECT_EQ(stub::Snapshot(), Without(before, {fx::ComponentPath(C_A)}));
}

// A name too long for the buffer ends the gathering; what came before is still treated.
TEST_F(ComponentsTest, OverlongSubkeyNameStopsTheGathering) {
    fx::AddComponent(C_A, {P1});
    stub::CreateKeyUnchecked(paths::USERDATA + L"\\Components", L"1" + std::wstring(255, L'F'));
    fx::AddComponent(C_C, {P1});
    auto before = stub::Snapshot();
    EXPECT_EQ(Run(), ERROR_SUCCESS);
    auto trace = Trace();
    EXPECT_EQ(trace[5], "\tRegEnumKeyEx(H2, 1, ?, 256, NULL, NULL, NULL, NULL)");
    EXPECT_EQ(trace[6], "\t\tFailed. [234]");
    EXPECT_EQ(stub::Snapshot(), Without(before, {fx::ComponentPath(C_A)}));
}

TEST_F(ComponentsTest, OverlongFirstSubkeyNameReturns234) {
    stub::CreateKeyUnchecked(paths::USERDATA + L"\\Components", std::wstring(256, L'0'));
    fx::AddComponent(C_C, {P1});
    auto before = stub::Snapshot();
    EXPECT_EQ(Run(), ERROR_MORE_DATA);
    EXPECT_EQ(stub::Snapshot(), before);
}

// Values after a failed enumeration were never read: the key may hold other products.
TEST_F(ComponentsTest, ValueEnumerationFailingPartWayKeepsTheKey) {
    fx::AddComponent(C_A, {P1, OTHER});
    stub::FailCall(stub::Api::EnumValue, fx::ComponentPath(C_A), ERROR_MORE_DATA, 2);
    auto before = stub::Snapshot();
    EXPECT_EQ(Run(), ERROR_SUCCESS);  // the value deletion sets the result last
    auto trace = Trace();
    EXPECT_NE(std::find(trace.begin(), trace.end(), "\t\tFailed. [234]"), trace.end());
    EXPECT_EQ(stub::Snapshot(), Without(before, {}, {{fx::ComponentPath(C_A), P1}}));
}

TEST_F(ComponentsTest, FlagOneMasks) {
    Reset(true);
    fx::AddComponent(C_A, {P1});
    auto before = stub::Snapshot();
    Run(P1, 1);
    EXPECT_EQ(stub::Snapshot(), Without(before, {fx::ComponentPath(C_A)}));
    auto trace = Trace();
    EXPECT_EQ(trace[1], "\tRegOpenKeyEx(H1, \"Components\", 0, 109, ?)");
    EXPECT_EQ(trace[7], "\tRegOpenKeyEx(H2, \"" + c_a + "\", 0, 103, ?)");
}

}  // namespace
