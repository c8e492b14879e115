#include "platform/file_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/file_io.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class FileLockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("file-lock-" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        path = (dir / ".Tamborex.lock").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    fs::path dir;
    std::string path;
    long holder = -1;
    int cause = -1;
};

// One holder at a time, and the one refused learns who holds it; once let go, the next one gets
// it.
TEST_F(FileLockTest, OneHolderAtATimeAndTheOthersLearnWho) {
    FileLock first;
    ASSERT_EQ(first.Take(path, holder, cause), FileLock::Result::Taken);
    EXPECT_TRUE(first.Holding());
    FileLock second;
    EXPECT_EQ(second.Take(path, holder, cause), FileLock::Result::Held);
    EXPECT_EQ(holder, getpid());
    EXPECT_FALSE(second.Holding());
    first.Release();
    EXPECT_EQ(second.Take(path, holder, cause), FileLock::Result::Taken);
}

// A copy that is killed holding the lock leaves its file, which must not keep the next start
// out. No sleep: the holder says through a pipe when it has the lock, and is killed.
TEST_F(FileLockTest, TheLockOfAKilledHolderIsGoneWithIt) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        FileLock lock;
        long who = 0;
        int why = 0;
        const char taken = lock.Take(path, who, why) == FileLock::Result::Taken ? 'y' : 'n';
        (void)!write(ready[1], &taken, 1);
        for (;;) {
            pause();
        }
    }
    close(ready[1]);
    char taken = 0;
    ASSERT_EQ(read(ready[0], &taken, 1), 1);
    close(ready[0]);
    ASSERT_EQ(taken, 'y');
    FileLock lock;
    EXPECT_EQ(lock.Take(path, holder, cause), FileLock::Result::Held);
    EXPECT_EQ(holder, child);
    kill(child, SIGKILL);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(lock.Take(path, holder, cause), FileLock::Result::Taken);
    std::string written;
    std::ifstream(path) >> written;
    EXPECT_EQ(written, std::to_string(getpid()));
}

// A link or a FIFO planted where the lock file belongs neither switches the lock off nor is
// written through or waited on: a fresh file takes the name, and the link's target is untouched.
TEST_F(FileLockTest, ALinkOrAFifoInPlaceOfTheFileIsReplacedNotUsed) {
    const fs::path target = dir / "notes.txt";
    std::ofstream(target) << "the user's own text\n";
    fs::create_symlink(target, path);
    FileLock lock;
    FileLock second;
    EXPECT_EQ(lock.Take(path, holder, cause), FileLock::Result::Taken);
    EXPECT_FALSE(fs::is_symlink(path));
    EXPECT_EQ(second.Take(path, holder, cause), FileLock::Result::Held);
    EXPECT_EQ(holder, getpid());
    std::string text;
    std::getline(std::ifstream(target), text);
    EXPECT_EQ(text, "the user's own text");
    lock.Release();
    fs::remove(path);
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(lock.Take(path, holder, cause), FileLock::Result::Taken);
    EXPECT_TRUE(fs::is_regular_file(path));
    EXPECT_EQ(second.Take(path, holder, cause), FileLock::Result::Held);
    lock.Release();
    // A folder by that name cannot be replaced: the lock is unavailable, and said so.
    fs::remove(path);
    fs::create_directory(path);
    EXPECT_EQ(lock.Take(path, holder, cause), FileLock::Result::Unavailable);
    EXPECT_FALSE(lock.Holding());
}

}  // namespace
}  // namespace platform
