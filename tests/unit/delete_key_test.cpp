#include "support.h"

namespace {

const std::wstring BASE = L"SOFTWARE\\Test";

class DeleteKeyTest : public MachineTest {
protected:
    HKEY OpenBase(REGSAM sam = KEY_READ) {
        HKEY h = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, BASE.c_str(), 0, sam, &h), ERROR_SUCCESS);
        return h;
    }
};

TEST_F(DeleteKeyTest, MissingKeyFailsWithTwoAndMakesNoOtherCall) {
    stub::CreateKey(BASE);
    HKEY base = OpenBase();
    auto before = stub::Snapshot();
    EXPECT_EQ(RegDeleteKeyNT(base, L"Missing", 0), ERROR_FILE_NOT_FOUND);
    RegCloseKey(base);
    EXPECT_EQ(Trace(), (std::vector<std::string>{
                           "RegDeleteKeyNT(H1, \"Missing\", 0) began.",
                           "\tRegOpenKeyEx(H1, \"Missing\", 0, 10008, ?)",
                           "\t\tFailed. [2]",
                           "RegDeleteKeyNT() ended. [2]",
                       }));
    EXPECT_EQ(stub::Snapshot(), before);
    EXPECT_EQ(stub::OpenHandleCount(), 0);
}

TEST_F(DeleteKeyTest, TreeIsEmptiedDepthFirstAlwaysAtIndexZero) {
    stub::CreateKey(BASE + L"\\Keep");
    stub::CreateKey(BASE + L"\\Doomed\\A\\A1");
    stub::CreateKey(BASE + L"\\Doomed\\B");
    stub::SetString(BASE + L"\\Doomed\\A", L"v", L"data");
    HKEY base = OpenBase();
    auto before = stub::Snapshot();
    EXPECT_EQ(RegDeleteKeyNT(base, L"Doomed", 0), ERROR_SUCCESS);
    RegCloseKey(base);
    EXPECT_EQ(Trace(), (std::vector<std::string>{
                           "RegDeleteKeyNT(H1, \"Doomed\", 0) began.",
                           "\tRegOpenKeyEx(H1, \"Doomed\", 0, 10008, ?)",
                           "\t\tSucceeded! [H2]",
                           "\tRegEnumKeyEx(H2, 0, ?, 256, NULL, NULL, NULL, NULL)",
                           "\t\tSucceeded! [A]",
                           "\tRegDeleteKeyNT(H2, \"A\", 0) began.",
                           "\t\tRegOpenKeyEx(H2, \"A\", 0, 10008, ?)",
                           "\t\t\tSucceeded! [H3]",
                           "\t\tRegEnumKeyEx(H3, 0, ?, 256, NULL, NULL, NULL, NULL)",
                           "\t\t\tSucceeded! [A1]",
                           "\t\tRegDeleteKeyNT(H3, \"A1\", 0) began.",
                           "\t\t\tRegOpenKeyEx(H3, \"A1\", 0, 10008, ?)",
                           "\t\t\t\tSucceeded! [H4]",
                           "\t\t\tRegEnumKeyEx(H4, 0, ?, 256, NULL, NULL, NULL, NULL)",
                           "\t\t\t\tFinished.",
                           "\t\t\tRegDeleteKey(H3, \"A1\")",
                           "\t\t\t\tSucceeded!",
                           "\t\tRegDeleteKeyNT() ended. [0]",
                           "\t\tRegEnumKeyEx(H3, 0, ?, 256, NULL, NULL, NULL, NULL)",
                           "\t\t\tFinished.",
                           "\t\tRegDeleteKey(H2, \"A\")",
                           "\t\t\tSucceeded!",
                           "\tRegDeleteKeyNT() ended. [0]",
                           "\tRegEnumKeyEx(H2, 0, ?, 256, NULL, NULL, NULL, NULL)",
                           "\t\tSucceeded! [B]",
                           "\tRegDeleteKeyNT(H2, \"B\", 0) began.",
                           "\t\tRegOpenKeyEx(H2, \"B\", 0, 10008, ?)",
                           "\t\t\tSucceeded! [H5]",
                           "\t\tRegEnumKeyEx(H5, 0, ?, 256, NULL, NULL, NULL, NULL)",
                           "\t\t\tFinished.",
                           "\t\tRegDeleteKey(H2, \"B\")",
                           "\t\t\tSucceeded!",
                           "\tRegDeleteKeyNT() ended. [0]",
                           "\tRegEnumKeyEx(H2, 0, ?, 256, NULL, NULL, NULL, NULL)",
                           "\t\tFinished.",
                           "\tRegDeleteKey(H1, \"Doomed\")",
                           "\t\tSucceeded!",
                           "RegDeleteKeyNT() ended. [0]",
                       }));
    EXPECT_EQ(stub::Snapshot(), Without(before, {BASE + L"\\Doomed"}));
    EXPECT_EQ(stub::OpenHandleCount(), 0);
}

// Which view the key is opened in, and which call deletes it. Under HKLM the default
// view of a WOW64 process is the Wow6432Node twin.
struct ViewCase {
    const char* name;
    bool pointerSet;
    int flag;
    const char* mask;
    const char* deleteLine;
    LONG status;
    bool nativeLeft;
    bool twinLeft;
};

class DeleteKeyViewTest : public MachineTest, public ::testing::WithParamInterface<ViewCase> {};

TEST_P(DeleteKeyViewTest, MaskAndDeleteCallFollowFlagAndPointer) {
    const ViewCase& c = GetParam();
    Reset(true);
    stub::CreateKey(L"SOFTWARE\\Vendor\\Entry\\Child");
    stub::CreateKey(L"SOFTWARE\\Wow6432Node\\Vendor\\Entry\\Child");
    if (c.pointerSet) g_pfnRegDeleteKeyEx = &RegDeleteKeyExW;
    EXPECT_EQ(RegDeleteKeyNT(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Vendor\\Entry", c.flag), c.status);
    auto trace = Trace();
    ASSERT_GE(trace.size(), 3u);
    EXPECT_EQ(trace[1], "\tRegOpenKeyEx(80000002, \"SOFTWARE\\Vendor\\Entry\", 0, " + std::string(c.mask) + ", ?)");
    EXPECT_EQ(trace[trace.size() - 3], std::string("\t") + c.deleteLine);
    // The child goes through the same call as its parent, relative to the parent's handle.
    const std::string childLine = c.pointerSet && c.flag == 1 ? "\t\tRegDeleteKeyEx(H1, \"Child\", KEY_WOW64_64KEY, 0)"
                                                              : "\t\tRegDeleteKey(H1, \"Child\")";
    EXPECT_NE(std::find(trace.begin(), trace.end(), childLine), trace.end());
    EXPECT_EQ(stub::KeyExists(L"SOFTWARE\\Vendor\\Entry"), c.nativeLeft);
    EXPECT_EQ(stub::KeyExists(L"SOFTWARE\\Wow6432Node\\Vendor\\Entry"), c.twinLeft);
    EXPECT_EQ(stub::OpenHandleCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Views, DeleteKeyViewTest,
    ::testing::Values(
        ViewCase{"Flag1WithPointer", true, 1, "10108",
                 "RegDeleteKeyEx(80000002, \"SOFTWARE\\Vendor\\Entry\", KEY_WOW64_64KEY, 0)", 0, false, true},
        // Without RegDeleteKeyExW the 64-bit key is emptied but RegDeleteKeyW addresses the
        // default view, whose twin still has its child.
        ViewCase{"Flag1WithoutPointer", false, 1, "10108", "RegDeleteKey(80000002, \"SOFTWARE\\Vendor\\Entry\")",
                 ERROR_ACCESS_DENIED, true, true},
        ViewCase{"Flag0WithoutPointer", false, 0, "10008", "RegDeleteKey(80000002, \"SOFTWARE\\Vendor\\Entry\")", 0,
                 true, false},
        // The key opened and emptied in the default view is the one deleted.
        ViewCase{"Flag0WithPointer", true, 0, "10008", "RegDeleteKey(80000002, \"SOFTWARE\\Vendor\\Entry\")", 0,
                 true, false},
        ViewCase{"Flag2CountsAsZero", true, 2, "10008", "RegDeleteKey(80000002, \"SOFTWARE\\Vendor\\Entry\")", 0,
                 true, false}),
    [](const ::testing::TestParamInfo<ViewCase>& info) { return info.param.name; });

TEST_F(DeleteKeyTest, TwoLevelPathRemovesOnlyTheLastKey) {
    stub::CreateKey(BASE + L"\\Features\\P1\\Sub");
    stub::CreateKey(BASE + L"\\Features\\P2");
    HKEY base = OpenBase();
    auto before = stub::Snapshot();
    EXPECT_EQ(RegDeleteKeyNT(base, L"Features\\P1", 0), ERROR_SUCCESS);
    RegCloseKey(base);
    EXPECT_EQ(stub::Snapshot(), Without(before, {BASE + L"\\Features\\P1"}));
}

TEST_F(DeleteKeyTest, FailedDeletionOfTheKeyItselfClosesItsHandleAndKeepsRemovedChildren) {
    stub::CreateKey(BASE + L"\\Doomed\\Child");
    stub::FailCall(stub::Api::DeleteKey, BASE + L"\\Doomed", ERROR_ACCESS_DENIED);
    HKEY base = OpenBase();
    EXPECT_EQ(RegDeleteKeyNT(base, L"Doomed", 0), ERROR_ACCESS_DENIED);
    RegCloseKey(base);
    auto trace = Trace();
    ASSERT_GE(trace.size(), 2u);
    EXPECT_EQ(trace[trace.size() - 3], "\tRegDeleteKey(H1, \"Doomed\")");
    EXPECT_EQ(trace[trace.size() - 2], "\t\tFailed. [5]");
    EXPECT_EQ(trace.back(), "RegDeleteKeyNT() ended. [5]");
    EXPECT_TRUE(stub::KeyExists(BASE + L"\\Doomed"));
    EXPECT_FALSE(stub::KeyExists(BASE + L"\\Doomed\\Child"));
    EXPECT_EQ(stub::OpenHandleCount(), 0);
}

TEST_F(DeleteKeyTest, EnumerationFailureKeepsTheKey) {
    stub::CreateKey(BASE + L"\\Doomed\\Child");
    stub::FailCall(stub::Api::EnumKey, BASE + L"\\Doomed", ERROR_MORE_DATA);
    HKEY base = OpenBase();
    EXPECT_EQ(RegDeleteKeyNT(base, L"Doomed", 0), ERROR_MORE_DATA);
    RegCloseKey(base);
    EXPECT_EQ(Trace(), (std::vector<std::string>{
                           "RegDeleteKeyNT(H1, \"Doomed\", 0) began.",
                           "\tRegOpenKeyEx(H1, \"Doomed\", 0, 10008, ?)",
                           "\t\tSucceeded! [H2]",
                           "\tRegEnumKeyEx(H2, 0, ?, 256, NULL, NULL, NULL, NULL)",
                           "\t\tFailed. [234]",
                           "RegDeleteKeyNT() ended. [234]",
                       }));
    EXPECT_TRUE(stub::KeyExists(BASE + L"\\Doomed\\Child"));
    EXPECT_EQ(stub::OpenHandleCount(), 0);
}

// A child that cannot be deleted comes back at index 0: the parent stops with its status.
TEST_F(DeleteKeyTest, SurvivingChildEndsTheLevelWithItsStatus) {
    stub::CreateKey(BASE + L"\\Doomed\\A");
    stub::CreateKey(BASE + L"\\Doomed\\B");
    stub::FailCall(stub::Api::DeleteKey, BASE + L"\\Doomed\\A", ERROR_ACCESS_DENIED);
    HKEY base = OpenBase();
    EXPECT_EQ(RegDeleteKeyNT(base, L"Doomed", 0), ERROR_ACCESS_DENIED);
    RegCloseKey(base);
    auto trace = Trace();
    ASSERT_GE(trace.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(trace.end() - 4, trace.end()),
              (std::vector<std::string>{
                  "\tRegEnumKeyEx(H2, 0, ?, 256, NULL, NULL, NULL, NULL)",
                  "\t\tSucceeded! [A]",
                  "\t\tFailed. [5]",
                  "RegDeleteKeyNT() ended. [5]",
              }));
    EXPECT_TRUE(stub::KeyExists(BASE + L"\\Doomed\\A"));
    EXPECT_TRUE(stub::KeyExists(BASE + L"\\Doomed\\B"));
    EXPECT_EQ(stub::OpenHandleCount(), 0);
}

TEST_F(DeleteKeyTest, ChildThatCannotBeOpenedDoesNotLoop) {
    stub::CreateKey(BASE + L"\\Doomed\\A\\Deep");
    stub::FailCall(stub::Api::OpenKey, BASE + L"\\Doomed\\A", ERROR_ACCESS_DENIED);
    HKEY base = OpenBase();
    EXPECT_EQ(RegDeleteKeyNT(base, L"Doomed", 1), ERROR_ACCESS_DENIED);
    RegCloseKey(base);
    EXPECT_LT(stub::RegistryCallCount(), 20);
    EXPECT_EQ(Trace().back(), "RegDeleteKeyNT() ended. [5]");
    EXPECT_EQ(stub::OpenHandleCount(), 0);
}

}  // namespace
