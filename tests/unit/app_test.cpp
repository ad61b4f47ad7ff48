#include "fixtures.h"

#include <filesystem>

namespace {

const std::wstring CONFIRM = L"Velkaroのインストール情報を削除します。";
const std::wstring SUCCESS = L"正常に終了しました。";
const std::wstring FAILURE = L"失敗しました。";
const std::wstring INFO = L"情報";
const std::wstring ERROR_CAPTION = L"エラー";

// The whole program as Windows would start it, with scripted dialog answers.
class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override { Machine(false); }
    void TearDown() override {
        g_szLogPath[0] = 0;
        g_nLogIndent = 0;
        g_pfnRegDeleteKeyEx = nullptr;
        RemoveTree(dir_);
    }
    void Machine(bool wow64) {
        if (!dir_.empty()) RemoveTree(dir_);
        stub::ResetAll(wow64);
        g_szLogPath[0] = 0;
        g_nLogIndent = 0;
        g_pfnRegDeleteKeyEx = nullptr;
        dir_ = MakeTempDir();
        std::filesystem::create_directories(dir_ + "/Desktop");
        std::filesystem::create_directories(dir_ + "/Temp");
        stub::shell().moduleFileName = L"C:\\Tools\\RemoveVelkaro.exe";
        stub::shell().desktopDirectory = Widen(dir_) + L"/Desktop";
        stub::shell().tempDirectory = Widen(dir_) + L"/Temp/";
    }
    int Run(std::initializer_list<int> answers) {
        stub::shell().messageBoxAnswers.assign(answers);
        stub::shell().messageBoxes.clear();
        return wWinMain(reinterpret_cast<HINSTANCE>(0x400000), nullptr, const_cast<LPWSTR>(L""), 1);
    }
    std::string LogPath(const std::string& name = "RemoveVelkaro.log") const { return dir_ + "/Desktop/" + name; }
    std::vector<std::string> Trace() const { return Normalize(SplitTrace(ReadFile(LogPath()))); }
    const std::vector<stub::MessageBoxRecord>& Boxes() const { return stub::shell().messageBoxes; }
    void ExpectBox(size_t i, const std::wstring& text, const std::wstring& caption, unsigned type) const {
        ASSERT_GT(Boxes().size(), i);
        EXPECT_TRUE(Boxes()[i].text == text) << "box " << i;
        EXPECT_TRUE(Boxes()[i].caption == caption) << "box " << i;
        EXPECT_EQ(Boxes()[i].type, type);
    }
    std::string dir_;
};

TEST_F(ProgramTest, CancelChangesNothing) {
    fx::AddFamilyMachine(false);
    { std::FILE* f = std::fopen(LogPath().c_str(), "wb"); std::fputs("older run\r\n", f); std::fclose(f); }
    auto before = stub::Snapshot();
    for (int answer : {IDCANCEL, 0}) {
        EXPECT_EQ(Run({answer}), -1);
        ASSERT_EQ(Boxes().size(), 1u);
        ExpectBox(0, CONFIRM, INFO, MB_OKCANCEL | MB_ICONINFORMATION);
        EXPECT_EQ(ReadFile(LogPath()), "older run\r\n");
        EXPECT_EQ(stub::RegistryCallCount(), 0);
        EXPECT_EQ(stub::Snapshot(), before);
    }
}

TEST_F(ProgramTest, OkRemovesExactlyTheFamilyAndReportsSuccess) {
    for (bool wow64 : {false, true}) {
        Machine(wow64);
        fx::AddFamilyMachine(wow64);
        auto before = stub::Snapshot();
        EXPECT_EQ(Run({IDOK, IDOK}), 0);
        ASSERT_EQ(Boxes().size(), 2u);
        ExpectBox(1, SUCCESS, INFO, MB_OK | MB_ICONINFORMATION);
        EXPECT_EQ(stub::Snapshot(), Without(before, fx::FamilyKeys(wow64), fx::FamilyValues()));
        EXPECT_EQ(stub::OpenHandleCount(), 0);
        EXPECT_EQ(stub::shell().librariesLoaded, 0);
        auto trace = Trace();
        EXPECT_EQ(trace.front(), "RemoveInstaller(\"{4C2A7D90-6E1B-4F35-9A08-B7D3E51C62F4}\") began.");
        EXPECT_EQ(trace.back(), "RemoveInstaller() ended. [0]");
        EXPECT_EQ(g_nLogIndent, 0);
    }
}

TEST_F(ProgramTest, SecondRunReportsFailureWithoutOpeningTheMachineData) {
    fx::AddFamilyMachine(false);
    ASSERT_EQ(Run({IDOK, IDOK}), 0);
    auto after = stub::Snapshot();
    EXPECT_EQ(Run({IDOK, IDOK}), 1);
    ExpectBox(1, FAILURE, ERROR_CAPTION, MB_OK | MB_ICONERROR);
    EXPECT_EQ(stub::Snapshot(), after);
    auto trace = Trace();
    EXPECT_EQ(trace.back(), "RemoveInstaller() ended. [2]");
    for (auto& line : trace) EXPECT_EQ(line.find("CurrentVersion"), std::string::npos) << line;
}

TEST_F(ProgramTest, WithoutDesktopOrModulePathNoTraceIsWrittenButTheCleanupRuns) {
    for (int which = 0; which < 2; ++which) {
        Machine(false);
        if (which == 0)
            stub::shell().desktopDirectory.clear();
        else
            stub::shell().moduleFileName.clear();
        fx::AddFamilyMachine(false);
        auto before = stub::Snapshot();
        EXPECT_EQ(Run({IDOK, IDOK}), 0);
        ExpectBox(1, SUCCESS, INFO, MB_OK | MB_ICONINFORMATION);
        EXPECT_EQ(stub::Snapshot(), Without(before, fx::FamilyKeys(false), fx::FamilyValues()));
        EXPECT_TRUE(std::filesystem::is_empty(dir_ + "/Desktop"));
        EXPECT_TRUE(std::filesystem::is_empty(dir_ + "/Temp"));
    }
}

TEST_F(ProgramTest, TraceIsNamedAfterTheExecutable) {
    struct Case {
        std::wstring exe;
        std::string log;
    };
    for (const Case& c : {Case{L"C:\\Tools\\RemoveVelkaro.exe", "RemoveVelkaro.log"},
                          Case{L"C:\\Tools\\RemoveVelkaro", "RemoveVelkaro.log"},
                          Case{L"C:\\My Tools.v2\\Clean up.exe", "Clean up.log"},
                          Case{L"C:\\Tools\\remove.velkaro.exe", "remove.velkaro.log"}}) {
        Machine(false);
        stub::shell().moduleFileName = c.exe;
        Run({IDOK, IDOK});
        EXPECT_TRUE(FileExists(LogPath(c.log))) << c.log;
    }
}

TEST_F(ProgramTest, AFailingCleanupStillShowsTheFailureBox) {
    fx::AddFamilyMachine(false);
    stub::FailCall(stub::Api::OpenKey, paths::CLASSES, ERROR_ACCESS_DENIED);
    auto before = stub::Snapshot();
    EXPECT_EQ(Run({IDOK, IDCANCEL}), 1);
    ExpectBox(1, FAILURE, ERROR_CAPTION, MB_OK | MB_ICONERROR);
    EXPECT_EQ(stub::Snapshot(), before);
    auto trace = Trace();
    EXPECT_EQ(trace.end()[-2], "\t\tFailed. [5]");
}

}  // namespace
