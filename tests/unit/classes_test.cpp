#include "fixtures.h"

namespace {

using fx::P1;
using fx::Q1;
using fx::Q2;
const std::string p1 = Narrow(P1);
const std::string q1 = Narrow(Q1);

class ClassesTest : public MachineTest {
protected:
    // Runs the handler on the class-data root opened as the driver opens it.
    LONG Run(const std::wstring& product, int flag) {
        HKEY root = nullptr;
        EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, paths::CLASSES.c_str(), 0, DELETE | KEY_READ | ViewBits(flag),
                                &root),
                  ERROR_SUCCESS);
        LONG status = RemoveClassesRegistory(root, product, flag);
        RegCloseKey(root);
        EXPECT_EQ(stub::OpenHandleCount(), 0);
        return status;
    }
    std::wstring Products(const std::wstring& p) { return paths::CLASSES + L"\\Products\\" + p; }
    std::wstring Features(const std::wstring& p) { return paths::CLASSES + L"\\Features\\" + p; }
    std::wstring Patches(const std::wstring& q) { return paths::CLASSES + L"\\Patches\\" + q; }
};

TEST_F(ClassesTest, ProductWithOnePatchLeavesInTheTracedOrder) {
    fx::AddClassProduct({P1, {Q1}});
    fx::AddClassProduct({fx::OTHER, {Q2}});
    auto before = stub::Snapshot();
    EXPECT_EQ(Run(P1, 0), ERROR_SUCCESS);

    std::vector<std::string> expected = {
        "RemoveClassesRegistory(H1, \"" + p1 + "\", 0) began.",
        "\tRemoveClassesProductsRegistory(H1, \"" + p1 + "\", 0) began.",
        "\t\tRegOpenKeyEx(H1, \"Products\\" + p1 + "\", 0, 1, ?)",
        "\t\t\tSucceeded! [H2]",
        "\t\tRegOpenKeyEx(H2, \"Patches\", 0, 1, ?)",
        "\t\t\tSucceeded! [H3]",
        "\t\tRegEnumValue(H3, 0, ?, 256, NULL, ?, NULL, NULL)",
        "\t\t\tSucceeded! [Patches][7]",
        "\t\tRegEnumValue(H3, 1, ?, 256, NULL, ?, NULL, NULL)",
        "\t\t\tSucceeded! [" + q1 + "][1]",
        "\t\tRegDeleteKeyNT(H1, \"Patches\\" + q1 + "\", 0) began.",
        "\t\t\tRegOpenKeyEx(H1, \"Patches\\" + q1 + "\", 0, 10008, ?)",
        "\t\t\t\tSucceeded! [H4]",
        "\t\t\tRegEnumKeyEx(H4, 0, ?, 256, NULL, NULL, NULL, NULL)",
        "\t\t\t\tSucceeded! [SourceList]",
    };
    Add(expected, LeafDeletion(3, "H4", "SourceList", "H5", 0));
    Add(expected, {
                      "\t\t\tRegEnumKeyEx(H4, 0, ?, 256, NULL, NULL, NULL, NULL)",
                      "\t\t\t\tFinished.",
                      "\t\t\tRegDeleteKey(H1, \"Patches\\" + q1 + "\")",
                      "\t\t\t\tSucceeded!",
                      "\t\tRegDeleteKeyNT() ended. [0]",
                      "\t\tRegEnumValue(H3, 2, ?, 256, NULL, ?, NULL, NULL)",
                      "\t\t\tFinished.",
                      "\t\tRegDeleteKeyNT(H1, \"Products\\" + p1 + "\", 0) began.",
                      "\t\t\tRegOpenKeyEx(H1, \"Products\\" + p1 + "\", 0, 10008, ?)",
                      "\t\t\t\tSucceeded! [H6]",
                      "\t\t\tRegEnumKeyEx(H6, 0, ?, 256, NULL, NULL, NULL, NULL)",
                      "\t\t\t\tSucceeded! [Patches]",
                  });
    Add(expected, LeafDeletion(3, "H6", "Patches", "H7", 0));
    Add(expected, {
                      "\t\t\tRegEnumKeyEx(H6, 0, ?, 256, NULL, NULL, NULL, NULL)",
                      "\t\t\t\tSucceeded! [SourceList]",
                  });
    Add(expected, LeafDeletion(3, "H6", "SourceList", "H8", 0));
    Add(expected, {
                      "\t\t\tRegEnumKeyEx(H6, 0, ?, 256, NULL, NULL, NULL, NULL)",
                      "\t\t\t\tFinished.",
                      "\t\t\tRegDeleteKey(H1, \"Products\\" + p1 + "\")",
                      "\t\t\t\tSucceeded!",
                      "\t\tRegDeleteKeyNT() ended. [0]",
                      "\tRemoveClassesProductsRegistory() ended. [0]",
                  });
    Add(expected, LeafDeletion(1, "H1", "Features\\" + p1, "H9", 0));
    expected.push_back("RemoveClassesRegistory() ended. [0]");
    EXPECT_EQ(Trace(), expected);
    EXPECT_EQ(stub::Snapshot(), Without(before, {Products(P1), Features(P1), Patches(Q1)}));
}

TEST_F(ClassesTest, ProductWithoutPatchesSubkeyIsRemovedWithItsFeatures) {
    fx::AddClassProduct({P1, {}, false});
    auto before = stub::Snapshot();
    EXPECT_EQ(Run(P1, 0), ERROR_SUCCESS);
    auto trace = Trace();
    EXPECT_EQ(trace[4], "\t\tRegOpenKeyEx(H2, \"Patches\", 0, 1, ?)");
    EXPECT_EQ(trace[5], "\t\t\tFailed. [ERROR_FILE_NOT_FOUND]");
    EXPECT_EQ(trace[6], "\t\tRegDeleteKeyNT(H1, \"Products\\" + p1 + "\", 0) began.");
    EXPECT_EQ(stub::Snapshot(), Without(before, {Products(P1), Features(P1)}));
}

TEST_F(ClassesTest, OnlyRegSzValuesOfThirtyTwoCharactersNamePatches) {
    fx::AddClassProduct({P1, {}});
    const std::wstring patches = Products(P1) + L"\\Patches";
    const std::wstring q31 = Q1.substr(0, 31), q33 = Q1 + L"0";
    stub::SetString(patches, q31, L"");
    stub::SetString(patches, q33, L"");
    stub::SetValue(patches, Q1, REG_BINARY, {1, 2});
    stub::SetString(patches, Q2, L"");
    for (const auto& q : {q31, q33, Q1, Q2}) stub::CreateKey(Patches(q));
    auto before = stub::Snapshot();
    EXPECT_EQ(Run(P1, 0), ERROR_SUCCESS);
    auto trace = Trace();
    for (const auto& line : {"\t\t\tSucceeded! [" + Narrow(q31) + "][1]", "\t\t\tSucceeded! [" + Narrow(q33) + "][1]",
                             "\t\t\tSucceeded! [" + q1 + "][3]", std::string("\t\tRegEnumValue(H3, 5, ?, 256, NULL, ?, NULL, NULL)")})
        EXPECT_NE(std::find(trace.begin(), trace.end(), line), trace.end()) << line;
    EXPECT_EQ(stub::Snapshot(), Without(before, {Products(P1), Features(P1), Patches(Q2)}));
}

TEST_F(ClassesTest, PatchKeyAlreadyGoneDoesNotStopTheRemoval) {
    fx::AddClassProduct({P1, {Q2}});
    stub::SetString(Products(P1) + L"\\Patches", Q1, L"");  // listed, but its key is gone
    auto before = stub::Snapshot();
    EXPECT_EQ(Run(P1, 0), ERROR_SUCCESS);
    auto trace = Trace();
    auto at = std::find(trace.begin(), trace.end(), "\t\t\tRegOpenKeyEx(H1, \"Patches\\" + q1 + "\", 0, 10008, ?)");
    ASSERT_NE(at, trace.end());
    EXPECT_EQ(*(at + 1), "\t\t\t\tFailed. [2]");
    EXPECT_EQ(*(at + 2), "\t\tRegDeleteKeyNT() ended. [2]");
    EXPECT_EQ(stub::Snapshot(), Without(before, {Products(P1), Features(P1), Patches(Q2)}));
}

TEST_F(ClassesTest, MissingProductKeyFailsWithTwoAndTouchesNothing) {
    stub::SetString(Features(P1), L"Main", L"");
    auto before = stub::Snapshot();
    EXPECT_EQ(Run(P1, 0), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Trace(), (std::vector<std::string>{
                           "RemoveClassesRegistory(H1, \"" + p1 + "\", 0) began.",
                           "\tRemoveClassesProductsRegistory(H1, \"" + p1 + "\", 0) began.",
                           "\t\tRegOpenKeyEx(H1, \"Products\\" + p1 + "\", 0, 1, ?)",
                           "\t\t\tFailed. [2]",
                           "\tRemoveClassesProductsRegistory() ended. [2]",
                           "RemoveClassesRegistory() ended. [2]",
                       }));
    EXPECT_EQ(stub::Snapshot(), before);
}

TEST_F(ClassesTest, MissingFeatureKeyStillRemovesTheProductAndReturnsTwo) {
    fx::AddClassProduct({P1, {}, true, false});
    auto before = stub::Snapshot();
    EXPECT_EQ(Run(P1, 0), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(stub::Snapshot(), Without(before, {Products(P1)}));
    EXPECT_EQ(Trace().back(), "RemoveClassesRegistory() ended. [2]");
}

TEST_F(ClassesTest, FlagOneAddsTheSixtyFourBitViewToEveryOpen) {
    Reset(true);
    fx::AddClassProduct({P1, {Q1}});
    g_pfnRegDeleteKeyEx = &RegDeleteKeyExW;
    auto before = stub::Snapshot();
    EXPECT_EQ(Run(P1, 1), ERROR_SUCCESS);
    auto trace = Trace();
    EXPECT_EQ(trace[2], "\t\tRegOpenKeyEx(H1, \"Products\\" + p1 + "\", 0, 101, ?)");
    EXPECT_EQ(trace[4], "\t\tRegOpenKeyEx(H2, \"Patches\", 0, 101, ?)");
    EXPECT_EQ(trace.end()[-4], "\t\tRegDeleteKeyEx(H1, \"Features\\" + p1 + "\", KEY_WOW64_64KEY, 0)");
    EXPECT_EQ(stub::Snapshot(), Without(before, {Products(P1), Features(P1), Patches(Q1)}));
}

TEST_F(ClassesTest, ValueNameTooLongForTheBufferKeepsProductAndFeatures) {
    fx::AddClassProduct({P1, {Q1}});
    stub::SetString(Products(P1) + L"\\Patches", std::wstring(256, L'x'), L"");
    auto before = stub::Snapshot();
    EXPECT_EQ(Run(P1, 0), ERROR_MORE_DATA);
    // The patch listed before the long name is gone; the rest stays.
    EXPECT_EQ(stub::Snapshot(), Without(before, {Patches(Q1)}));
}

}  // namespace
