#include "platform/file_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

namespace platform {
namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void Put(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Sets a file's (or a link's own) modification time a day back, as if a save had been killed
// that long ago.
void MakeOld(const fs::path& path) {
    timespec times[2] = {};
    times[0].tv_sec = times[1].tv_sec = std::time(nullptr) - 24 * 60 * 60;
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

std::set<std::string> Names(const fs::path& folder) {
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

bool Save(const fs::path& path, const std::string& text) {
    int cause = 0;
    WriteStage stage = WriteStage::Create;
    const std::vector<std::uint8_t> bytes(text.begin(), text.end());
    return WriteFileAtomically(path.string(), bytes, cause, stage);
}

class FileIoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("file-io-" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(dir, fs::perms::owner_all, ignored);
        fs::remove_all(dir, ignored);
    }

    fs::path dir;
};

// Users keep copies beside their files under names of their own; a cleanup that took any
// "<file>.<six letters or digits>" for a leftover of ours deleted them at start and at each save.
TEST_F(FileIoTest, UsersCopiesBesideTheFilesSurviveSavesAndCleanupsWhateverTheirAge) {
    const std::map<std::string, std::string> copies = {{"Tamborex.bnk.backup", "bank backup"},
                                                       {"Tamborex.bnk.before", "bank before"},
                                                       {"Tamborex.bnk.Ab3xYz", "bank copy"},
                                                       {"Tamborex.ini.orig01", "ini original"},
                                                       {"corvane.txt.backup", "configurations"}};
    for (const auto& [name, text] : copies) {
        Put(dir / name, text);
        MakeOld(dir / name);
    }
    for (int round = 0; round < 3; ++round) {
        const std::string text = "round " + std::to_string(round);
        for (const char* target : {"Tamborex.bnk", "Tamborex.ini", "corvane.txt"}) {
            ASSERT_TRUE(Save(dir / target, text + target));
            EXPECT_EQ(RemoveStaleTemporaries((dir / target).string(), 0), 0);
            EXPECT_EQ(RemoveStaleTemporaries((dir / target).string()), 0);
            EXPECT_EQ(Contents(dir / target), text + target);
        }
    }
    for (const auto& [name, text] : copies) {
        EXPECT_EQ(Contents(dir / name), text) << name;
    }
    // And a save leaves nothing of its own behind.
    std::set<std::string> expected = {"Tamborex.bnk", "Tamborex.ini", "corvane.txt"};
    for (const auto& [name, text] : copies) {
        expected.insert(name);
    }
    EXPECT_EQ(Names(dir), expected);
}

// A link in place of the file: one whose target is missing (a drive not mounted) is said as
// such, not taken for a first run; a save replaces a link and never writes through it, and
// keeps the permissions it found but not their set-id bits.
TEST_F(FileIoTest, LinksAreNeverWrittenThroughAndADanglingOneIsNoFirstRun) {
    std::vector<std::uint8_t> bytes;
    int cause = 0;
    fs::create_symlink(dir / "unmounted" / "Tamborex.bnk", dir / "Tamborex.bnk");
    EXPECT_FALSE(ReadWholeFile((dir / "Tamborex.bnk").string(), bytes, cause));
    EXPECT_EQ(cause, kDanglingLink);
    EXPECT_EQ(ReadFailureText(cause), "a link to a file that does not exist");
    EXPECT_FALSE(ReadWholeFile((dir / "missing.bnk").string(), bytes, cause));
    EXPECT_EQ(cause, ENOENT);

    Put(dir / "target", "theirs");
    fs::permissions(dir / "target", static_cast<fs::perms>(04755));
    fs::create_symlink(dir / "target", dir / "Tamborex.ini");
    ASSERT_TRUE(Save(dir / "Tamborex.ini", "ours"));
    EXPECT_EQ(Contents(dir / "target"), "theirs");
    EXPECT_FALSE(fs::is_symlink(dir / "Tamborex.ini"));
    EXPECT_EQ(Contents(dir / "Tamborex.ini"), "ours");
    EXPECT_EQ(static_cast<int>(fs::status(dir / "Tamborex.ini").permissions()), 0755);
}

// What a save killed half-way leaves is still cleared, but only a regular file of this user's
// with the name only a save of ours makes, and only once it is old: a young one may be another
// instance's save in progress. A link or a folder with such a name is neither removed nor
// followed.
TEST_F(FileIoTest, OnlyOldLeftoversOfOurOwnSavesAreRemoved) {
    const fs::path leftover = dir / ".Tamborex.bnk.tmp-Ab3xYz";
    const fs::path inProgress = dir / ".Tamborex.bnk.tmp-Qw3rty";
    const fs::path link = dir / ".Tamborex.bnk.tmp-L1nk00";
    const fs::path folder = dir / ".Tamborex.bnk.tmp-D1r000";
    const fs::path otherTarget = dir / ".corvane.txt.tmp-Ab3xYz";
    const fs::path linkedFile = dir / "song.txp";
    const fs::path inFolder = folder / ".Tamborex.bnk.tmp-Zz9zz9";
    Put(leftover, "half a bank");
    Put(inProgress, "half a bank");
    Put(otherTarget, "half a configuration");
    Put(linkedFile, "a patch");
    fs::create_symlink(linkedFile, link);
    fs::create_directory(folder);
    Put(inFolder, "half a bank");
    for (const fs::path& p : {leftover, otherTarget, linkedFile, link, inFolder, folder}) {
        MakeOld(p);
    }
    const fs::path others = dir / ".Tamborex.bnk.tmp-0ther0";
    if (geteuid() == 0) {  // only root can give a file away
        Put(others, "someone else's");
        ASSERT_EQ(lchown(others.c_str(), 65534, 65534), 0);
        MakeOld(others);
    }

    EXPECT_EQ(RemoveStaleTemporaries((dir / "Tamborex.bnk").string()), 1);
    EXPECT_FALSE(fs::exists(fs::symlink_status(leftover)));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(inProgress)));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(link)));
    EXPECT_EQ(Contents(linkedFile), "a patch");
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(folder)));
    EXPECT_EQ(Contents(inFolder), "half a bank");
    EXPECT_EQ(Contents(otherTarget), "half a configuration");
    if (geteuid() == 0) {
        EXPECT_EQ(Contents(others), "someone else's");
    }

    // A save clears them too, and leaves none of its own.
    Put(leftover, "half a bank");
    MakeOld(leftover);
    ASSERT_TRUE(Save(dir / "Tamborex.bnk", "bank"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(leftover)));
    EXPECT_EQ(Contents(dir / "Tamborex.bnk"), "bank");
    std::set<std::string> expected = {"Tamborex.bnk",
                                      inProgress.filename().string(),
                                      link.filename().string(),
                                      folder.filename().string(),
                                      otherTarget.filename().string(),
                                      linkedFile.filename().string()};
    if (geteuid() == 0) {
        expected.insert(others.filename().string());
    }
    EXPECT_EQ(Names(dir), expected);
}

// Runs with XDG_RUNTIME_DIR and TMPDIR as given (nullptr: unset), and puts them back after.
class RuntimeFolderTest : public FileIoTest {
  protected:
    void SetUp() override {
        FileIoTest::SetUp();
        for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
            const char* value = std::getenv(name);
            saved.emplace_back(name,
                               value != nullptr ? std::optional<std::string>(value) : std::nullopt);
        }
        fallback = dir / ("midi-counters-" + std::to_string(geteuid()));
    }
    void TearDown() override {
        for (const auto& [name, value] : saved) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
        FileIoTest::TearDown();
    }

    FolderState Choose(const char* runtime, bool create, std::string& folder) {
        if (runtime != nullptr) {
            setenv("XDG_RUNTIME_DIR", runtime, 1);
        } else {
            unsetenv("XDG_RUNTIME_DIR");
        }
        setenv("TMPDIR", dir.c_str(), 1);
        return PrivateRuntimeFolder(kMidiCountersFolderName, create, folder);
    }

    fs::path fallback;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
};

// The session's runtime folder is used as it is when it is private; when it is missing, unset,
// open to others or a link, a folder of the user's own is made in TMPDIR with mode 0700, and only
// asked for, never made, by a reader.
TEST_F(RuntimeFolderTest, TheRuntimeFolderWhenPrivateElseAPrivateOneOfOurOwn) {
    const fs::path runtime = dir / "run";
    fs::create_directory(runtime);
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    std::string folder;
    EXPECT_EQ(Choose(runtime.c_str(), true, folder), FolderState::Private);
    EXPECT_EQ(folder, runtime.string());

    const fs::path linked = dir / "run-link";
    fs::create_directory_symlink(runtime, linked);
    for (const std::string& unusable :
         {std::string(), (dir / "none").string(), linked.string(), linked.string() + "/"}) {
        fs::remove_all(fallback);
        EXPECT_EQ(Choose(unusable.c_str(), false, folder), FolderState::Missing) << unusable;
        EXPECT_EQ(folder, fallback.string());
        EXPECT_FALSE(fs::exists(fs::symlink_status(fallback)));
        EXPECT_EQ(Choose(unusable.c_str(), true, folder), FolderState::Private) << unusable;
        EXPECT_EQ(folder, fallback.string());
        EXPECT_EQ(fs::status(fallback).permissions(), fs::perms::owner_all);
    }
    fs::permissions(runtime, fs::perms::all, fs::perm_options::replace);
    EXPECT_EQ(Choose(runtime.c_str(), true, folder), FolderState::Private);
    EXPECT_EQ(folder, fallback.string());
    fs::remove_all(fallback);
    EXPECT_EQ(Choose(nullptr, true, folder), FolderState::Private);
    EXPECT_EQ(folder, fallback.string());
}

// Whoever made the name in the shared temporary folder first, the folder is used only if it is
// the user's own and closed to others; nothing is changed on one that is not, and nothing is
// made through a link.
TEST_F(RuntimeFolderTest, AFolderPlantedUnderOurNameIsRefusedAndLeftAsItIs) {
    const fs::path elsewhere = dir / "elsewhere";
    fs::create_directory(elsewhere);
    fs::permissions(elsewhere, fs::perms::all, fs::perm_options::replace);
    fs::create_directory_symlink(elsewhere, fallback);
    std::string folder;
    EXPECT_EQ(Choose(nullptr, true, folder), FolderState::NotPrivate);
    EXPECT_EQ(folder, fallback.string());
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(fallback)));
    EXPECT_EQ(fs::status(elsewhere).permissions(), fs::perms::all);
    EXPECT_TRUE(fs::is_empty(elsewhere));

    fs::remove(fallback);
    Put(fallback, "a file");
    EXPECT_EQ(Choose(nullptr, true, folder), FolderState::NotPrivate);
    EXPECT_EQ(Contents(fallback), "a file");

    fs::remove(fallback);
    fs::create_directory(fallback);
    for (const fs::perms open : {fs::perms::group_read, fs::perms::others_write,
                                 fs::perms::others_exec, fs::perms::group_exec}) {
        fs::permissions(fallback, fs::perms::owner_all | open, fs::perm_options::replace);
        EXPECT_EQ(Choose(nullptr, true, folder), FolderState::NotPrivate);
        EXPECT_EQ(fs::status(fallback).permissions(), fs::perms::owner_all | open);
    }
    if (geteuid() == 0) {  // only root can give a folder away
        fs::permissions(fallback, fs::perms::owner_all, fs::perm_options::replace);
        ASSERT_EQ(lchown(fallback.c_str(), 65534, 65534), 0);
        EXPECT_EQ(Choose(nullptr, true, folder), FolderState::NotPrivate);
    }
}

}  // namespace
}  // namespace platform
