#include "support.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        stub::ResetAll();
        g_szLogPath[0] = 0;
        g_nLogIndent = 0;
        dir_ = MakeTempDir();
        path_ = dir_ + "/RemoveVelkaro.log";
    }
    void TearDown() override {
        g_szLogPath[0] = 0;
        g_nLogIndent = 0;
        RemoveTree(dir_);
    }
    void Start() { InitLog(Widen(path_).c_str()); }
    std::string Bytes() const { return ReadFile(path_); }
    std::string dir_;
    std::string path_;
};

TEST_F(LogTest, HandleAtDepthTwoIsThreeTabsEightUppercaseDigitsAndCrLf) {
    Start();
    g_nLogIndent = 2;
    WriteLog(L"\tSucceeded! [%p]", reinterpret_cast<void*>(0xA4));
    EXPECT_EQ(Bytes(), "\t\t\tSucceeded! [000000A4]\r\n");
    EXPECT_EQ(g_nLogIndent, 2);
}

TEST_F(LogTest, ConversionsWriteFixedBytes) {
    Start();
    WriteLog(L"RegOpenKeyEx(%p, \"%s\", 0, %x, ?)", HKEY_LOCAL_MACHINE, L"SOFTWARE\\Classes", 0x30119u);
    WriteLog(L"\tFailed. [%d]", -5);
    WriteLog(L"%x %x %d %d 100%%", 0x101u, 0u, 0, 2147483647);
    WriteLog(L"\tSucceeded! [%s][%d]", L"", 7);
    EXPECT_EQ(Bytes(),
              "RegOpenKeyEx(80000002, \"SOFTWARE\\Classes\", 0, 30119, ?)\r\n"
              "\tFailed. [-5]\r\n"
              "101 0 0 2147483647 100%\r\n"
              "\tSucceeded! [][7]\r\n");
}

TEST_F(LogTest, UnitsAboveFFBecomeQuestionMarksAndLatin1StaysOneByte) {
    Start();
    WriteLog(L"\tSucceeded! [%s]", L"A\u3042B\u00e9C\U0001F600D");
    // One '?' per unit above 0xFF; U+00E9 is the single byte 0xE9.
    std::string expected = "\tSucceeded! [A?B\xE9" "C";
    expected += sizeof(wchar_t) == 2 ? "??" : "?";
    expected += "D]\r\n";
    EXPECT_EQ(Bytes(), expected);
}

TEST_F(LogTest, DepthFollowsMarkerWordsOfTheFormatAndMayGoNegative) {
    Start();
    WriteLog(L"Outer() began.");
    WriteLog(L"Inner(\"%s\") began.", L"name with ended. inside");
    WriteLog(L"call");
    WriteLog(L"\tFinished.");
    WriteLog(L"Inner() ended. [%d]", 0);
    WriteLog(L"Empty() began.");
    WriteLog(L"Empty() ended. [%d]", 0);
    WriteLog(L"Outer() ended. [%d]", 0);
    WriteLog(L"Stray() ended. [%d]", 2);  // no matching entry: depth -1
    WriteLog(L"after stray");
    WriteLog(L"Again() began.");
    WriteLog(L"Again() began.");
    WriteLog(L"deep");
    WriteLog(L"both began. and ended.");
    EXPECT_EQ(Bytes(),
              "Outer() began.\r\n"
              "\tInner(\"name with ended. inside\") began.\r\n"
              "\t\tcall\r\n"
              "\t\t\tFinished.\r\n"
              "\tInner() ended. [0]\r\n"
              "\tEmpty() began.\r\n"
              "\tEmpty() ended. [0]\r\n"
              "Outer() ended. [0]\r\n"
              "Stray() ended. [2]\r\n"
              "after stray\r\n"
              "Again() began.\r\n"
              "Again() began.\r\n"
              "\tdeep\r\n"
              "both began. and ended.\r\n");
    EXPECT_EQ(g_nLogIndent, 1);
}

TEST_F(LogTest, NothingIsWrittenBeforeInitLogOrWithAnEmptyPath) {
    WriteLog(L"X() began.");
    EXPECT_EQ(g_nLogIndent, 0);
    InitLog(L"");
    WriteLog(L"X() began.");
    EXPECT_EQ(g_nLogIndent, 0);
    EXPECT_FALSE(FileExists(path_));
}

TEST_F(LogTest, InitLogDeletesTheTraceOfAnEarlierRun) {
    { std::FILE* f = std::fopen(path_.c_str(), "wb"); std::fputs("old run\r\n", f); std::fclose(f); }
    Start();
    EXPECT_FALSE(FileExists(path_));
    WriteLog(L"first");
    EXPECT_EQ(Bytes(), "first\r\n");
}

TEST_F(LogTest, WithoutAPathTheTraceGoesToTheTemporaryDirectory) {
    stub::shell().tempDirectory = Widen(dir_) + L"\\";
    std::string expected = dir_ + "/VelkaroSetup.log";
    { std::FILE* f = std::fopen(expected.c_str(), "wb"); std::fputs("old", f); std::fclose(f); }
    InitLog(nullptr);
    EXPECT_FALSE(FileExists(expected));
    WriteLog(L"line");
    EXPECT_EQ(ReadFile(expected), "line\r\n");
}

TEST_F(LogTest, WithoutAPathAndWithoutTemporaryDirectoryLoggingStaysOff) {
    InitLog(nullptr);
    EXPECT_EQ(g_szLogPath[0], 0);
    WriteLog(L"X() began.");
    EXPECT_EQ(g_nLogIndent, 0);
}

TEST_F(LogTest, APathThatDoesNotFitLeavesLoggingOffAndDeletesNothing) {
    std::string longPath = dir_ + "/" + std::string(260, 'a') + ".log";
    InitLog(Widen(longPath).c_str());
    EXPECT_EQ(g_szLogPath[0], 0);
    std::string fits = dir_ + "/" + std::string(259 - dir_.size() - 1, 'b');
    ASSERT_EQ(Widen(fits).size(), 259u);
    InitLog(Widen(fits).c_str());
    WriteLog(L"fits");
    EXPECT_EQ(ReadFile(fits), "fits\r\n");
}

TEST_F(LogTest, ALineWhoseOpenFailsIsLostButTheDepthIsKept) {
    Start();
    WriteLog(L"before");
    int fd = ::open(path_.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);  // another program holds the file
    WriteLog(L"Lost() began.");
    ::flock(fd, LOCK_UN);
    ::close(fd);
    WriteLog(L"after");
    EXPECT_EQ(Bytes(), "before\r\n\tafter\r\n");
}

}  // namespace
