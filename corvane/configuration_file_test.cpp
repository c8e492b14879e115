#include "configuration_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace corvane {
namespace {

namespace fs = std::filesystem;

class ConfigurationFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("corvane-test-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        file = std::make_unique<ConfigurationFile>((dir / kConfigurationFileName).string());
    }
    void TearDown() override {
        fs::permissions(dir, fs::perms::owner_all);
        fs::remove_all(dir);
    }

    std::string Contents() const {
        std::ifstream in(file->Path(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void Write(const std::string& text) const {
        std::ofstream(file->Path(), std::ios::binary) << text;
    }

    fs::path dir;
    std::unique_ptr<ConfigurationFile> file;
    ControlTable table;
};

constexpr const char* kUntouched = " -1 0 50 100 0";

TEST_F(ConfigurationFileTest, SavedLineHasTheExactFormat) {
    table[kXAxis] = ControlAssignment(1, 0, 50, 100);
    ASSERT_TRUE(file->SaveConfiguration("Lead", table));
    std::string expected = "\"Lead\" 1 0 50 100 0";
    for (int i = 0; i < 6; ++i) {
        expected += kUntouched;
    }
    EXPECT_EQ(Contents(), expected + "\n");
}

TEST_F(ConfigurationFileTest, MissingFileIsAnEmptyList) {
    EXPECT_TRUE(file->ReadNames().empty());
    EXPECT_FALSE(file->LoadConfiguration("Lead", table));
    EXPECT_TRUE(file->RemoveConfiguration("Lead"));
    EXPECT_FALSE(fs::exists(file->Path()));
}

TEST_F(ConfigurationFileTest, SavingAgainReplacesAtTheEndAndNeverDuplicates) {
    ASSERT_TRUE(file->SaveConfiguration("Foo", table));
    ASSERT_TRUE(file->SaveConfiguration("Foobar", table));
    ASSERT_TRUE(file->SaveConfiguration("Pad", table));
    table[kZAxis] = ControlAssignment(7, 10, 20, 30);
    ASSERT_TRUE(file->SaveConfiguration("Foo", table));
    EXPECT_EQ(file->ReadNames(), (std::vector<std::string>{"Foobar", "Pad", "Foo"}));

    ControlTable loaded;
    ASSERT_TRUE(file->LoadConfiguration("Foo", loaded));
    EXPECT_EQ(loaded[kZAxis], ControlAssignment(7, 10, 20, 30));
    ASSERT_TRUE(file->LoadConfiguration("Foobar", loaded));
    EXPECT_EQ(loaded[kZAxis], ControlAssignment());  // Foo's save did not touch Foobar

    ASSERT_TRUE(file->RemoveConfiguration("Foo"));
    EXPECT_EQ(file->ReadNames(), (std::vector<std::string>{"Foobar", "Pad"}));
    EXPECT_FALSE(file->LoadConfiguration("Foo", loaded));
}

TEST_F(ConfigurationFileTest, HandEditedFilesReadAsTheyAlwaysHave) {
    // CR LF line ends, a duplicated name, octal and hexadecimal numbers, a short line, a blank
    // line and a last line without its line end.
    Write(
        "\"Bass\" 1 0 50 100 0 2 0 50 100 0\r\n"
        "\r\n"
        "\"Bass\" 9 9 9 9 9\r\n"
        "\"Odd\" 010 0x10 -0x2 077 3 -1 0 50 100 0\r\n"
        "\"Wild\" 500 0 50 100 0 -7 1 2 3 0\n"
        "\"Last\" 5 6 7 8 0");
    EXPECT_EQ(file->ReadNames(), (std::vector<std::string>{"Bass", "Bass", "Odd", "Wild", "Last"}));

    table[kZAxis] = ControlAssignment(64, 1, 2, 3);
    ASSERT_TRUE(file->LoadConfiguration("Bass", table));  // the first of the two
    EXPECT_EQ(table[kXAxis], ControlAssignment(1, 0, 50, 100));
    EXPECT_EQ(table[kYAxis], ControlAssignment(2, 0, 50, 100));
    EXPECT_EQ(table[kZAxis], ControlAssignment(64, 1, 2, 3));  // past the short line's end

    ASSERT_TRUE(file->LoadConfiguration("Odd", table));
    EXPECT_EQ(table[kXAxis], ControlAssignment(8, 16, -2, 63, 3));

    // Types no list offers are left unassigned rather than sent as some other controller.
    ASSERT_TRUE(file->LoadConfiguration("Wild", table));
    EXPECT_EQ(table[kXAxis].type, kTypeUnassigned);
    EXPECT_EQ(table[kYAxis].type, kTypeUnassigned);
    EXPECT_EQ(table[kYAxis].max, 3);

    ASSERT_TRUE(file->LoadConfiguration("Last", table));
    EXPECT_EQ(table[kXAxis], ControlAssignment(5, 6, 7, 8));

    // Removing both Bass lines keeps every other line byte for byte.
    ASSERT_TRUE(file->RemoveConfiguration("Bass"));
    EXPECT_EQ(Contents(),
              "\r\n"
              "\"Odd\" 010 0x10 -0x2 077 3 -1 0 50 100 0\r\n"
              "\"Wild\" 500 0 50 100 0 -7 1 2 3 0\n"
              "\"Last\" 5 6 7 8 0\n");
}

TEST_F(ConfigurationFileTest, OverlongLineIsOneLineAndKeptIntact) {
    const std::string longLine = "\"" + std::string(400, 'n') + "\" 1 2 3 4 0";
    Write(longLine + "\n\"Keep\" 7 0 50 100 0\n");
    EXPECT_EQ(file->ReadNames(), (std::vector<std::string>{std::string(400, 'n'), "Keep"}));
    ASSERT_TRUE(file->RemoveConfiguration("Keep"));
    EXPECT_EQ(Contents(), longLine + "\n");
}

TEST_F(ConfigurationFileTest, NamesThatCannotBeStoredAreRefusedWithAReason) {
    EXPECT_EQ(CheckConfigurationName("Lead", table), "");
    EXPECT_NE(CheckConfigurationName("", table), "");
    EXPECT_NE(CheckConfigurationName("say \"hi\"", table).find("double quote"), std::string::npos);
    const std::size_t groups = FormatConfigurationLine("", table).size();
    const std::string longest(kMaxLineLength - groups, 'a');
    EXPECT_EQ(CheckConfigurationName(longest, table), "");
    EXPECT_NE(CheckConfigurationName(longest + "a", table).find("too long"), std::string::npos);
}

TEST_F(ConfigurationFileTest, FailedWriteIsReportedAndTheOldFileStays) {
    if (geteuid() == 0) {
        // Root writes through folder permissions; a file name that is a folder fails the same way.
        ASSERT_TRUE(file->SaveConfiguration("Keep", table));
        const std::string before = Contents();
        ConfigurationFile blocked((dir / "sub").string());
        fs::create_directories(dir / "sub");
        EXPECT_FALSE(blocked.SaveConfiguration("Lead", table));
        EXPECT_NE(blocked.LastError().find("nothing was changed"), std::string::npos);
        EXPECT_TRUE(fs::is_directory(dir / "sub"));
        fs::remove(dir / "sub");
        EXPECT_EQ(Contents(), before);
    }
    ASSERT_TRUE(file->SaveConfiguration("Keep", table));
    const std::string before = Contents();
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    if (geteuid() != 0) {
        EXPECT_FALSE(file->SaveConfiguration("Lead", table));
        EXPECT_FALSE(file->RemoveConfiguration("Keep"));
        EXPECT_NE(file->LastError().find("corvane.txt"), std::string::npos);
    }
    fs::permissions(dir, fs::perms::owner_all);
    EXPECT_EQ(Contents(), before);
    for (const auto& entry : fs::directory_iterator(dir)) {
        EXPECT_EQ(entry.path().filename(), kConfigurationFileName);  // no temporary left behind
    }
}

TEST_F(ConfigurationFileTest, LinesWithoutANameOfferNothingAndLoadNothing) {
    // A last line of only quotes once let the load read before the start of its buffer.
    table[kXAxis] = ControlAssignment(5, 1, 2, 3);
    for (const char* text : {"\"Keep\" 1 0 50 100 0\n\"\"", "\"\"\"", "\"\" 7 7 7 7 0\n", "\""}) {
        Write(text);
        const std::vector<std::string> names = file->ReadNames();
        EXPECT_EQ(std::count(names.begin(), names.end(), ""), 0) << text;
        EXPECT_FALSE(file->LoadConfiguration("", table)) << text;
        EXPECT_EQ(table[kXAxis], ControlAssignment(5, 1, 2, 3)) << text;
    }
}

TEST_F(ConfigurationFileTest, LinesBeyondTheReadBoundAreSkippedSaidAndKept) {
    const std::string huge = "\"Huge\"" + std::string(kMaxReadLineLength, ' ') + "1";
    Write(huge + "\n\"Keep\" 1 0 50 100 0\n");
    EXPECT_EQ(file->ReadNames(), (std::vector<std::string>{"Keep"}));
    EXPECT_NE(file->LastError().find("1 line(s)"), std::string::npos) << file->LastError();
    EXPECT_FALSE(file->LoadConfiguration("Huge", table));
    ASSERT_TRUE(file->SaveConfiguration("New", table));
    EXPECT_EQ(Contents().substr(0, huge.size() + 1), huge + "\n");
    EXPECT_EQ(file->ReadNames(), (std::vector<std::string>{"Keep", "New"}));
}

TEST_F(ConfigurationFileTest, FilesThatAreNotRegularOrTooLargeAreRefusedAndNeverWrittenOver) {
    auto refused = [&](const char* what) {
        EXPECT_TRUE(file->ReadNames().empty()) << what;
        EXPECT_NE(file->LastError().find("corvane.txt"), std::string::npos) << what;
        EXPECT_FALSE(file->LoadConfiguration("Keep", table)) << what;
        EXPECT_FALSE(file->SaveConfiguration("Keep", table)) << what;
        EXPECT_FALSE(file->RemoveConfiguration("Keep")) << what;
        return file->LastError();
    };
    // A FIFO would block every read for good; none of these calls may wait on it.
    ASSERT_EQ(mkfifo(file->Path().c_str(), 0600), 0);
    EXPECT_NE(refused("fifo").find("not a regular file"), std::string::npos);
    EXPECT_TRUE(fs::is_fifo(file->Path()));
    fs::remove(file->Path());

    fs::create_symlink("/dev/zero", file->Path());
    refused("link to /dev/zero");
    fs::remove(file->Path());

    Write("\"Keep\" 1 0 50 100 0\n");
    fs::resize_file(file->Path(), kMaxFileSize + 1);  // sparse: nothing is really written
    EXPECT_NE(refused("too large").find("larger than 32 MB"), std::string::npos);
    EXPECT_EQ(fs::file_size(file->Path()), kMaxFileSize + 1);
}

}  // namespace
}  // namespace corvane
