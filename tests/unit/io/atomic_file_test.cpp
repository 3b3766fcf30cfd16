// Files replaced whole: a failed write keeps the old file, a link at the target is
// replaced and never followed, and concurrent writers never mix their contents.
#include "io/atomic_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace quorvel {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("atomic_file_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
  }
  void TearDown() override { fs::remove_all(folder_); }

  // Everything in the folder but the named files.
  std::size_t OtherEntries(std::initializer_list<const char*> names) const {
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      bool named = false;
      for (const char* name : names) named = named || entry.path().filename() == name;
      count += named ? 0 : 1;
    }
    return count;
  }

  fs::path folder_;
};

TEST_F(AtomicFileTest, ReplacesTheFileWholeWithTheUsualMode) {
  const fs::path target = folder_ / "result.txt";
  std::ofstream(target) << "old";
  std::string error;
  ASSERT_TRUE(WriteFileAtomically(target.string(), "new content\r\n", &error)) << error;
  EXPECT_EQ(Read(target), "new content\r\n");
  const mode_t mask = ::umask(022);
  ::umask(mask);
  struct stat info {};
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
  EXPECT_EQ(OtherEntries({"result.txt"}), 0u) << "no temporary file is left";
}

TEST_F(AtomicFileTest, ReplacesALinkInsteadOfFollowingIt) {
  const fs::path victim = folder_ / "victim.txt";
  std::ofstream(victim) << "precious";
  const fs::path target = folder_ / "result.txt";
  fs::create_symlink(victim, target);
  ASSERT_TRUE(WriteFileAtomically(target.string(), "report"));
  EXPECT_EQ(Read(victim), "precious");
  EXPECT_FALSE(fs::is_symlink(target));
  EXPECT_EQ(Read(target), "report");

  // A dangling link does not create its target either.
  const fs::path nowhere = folder_ / "nowhere.txt";
  const fs::path echo = folder_ / "tmp.txt";
  fs::create_symlink(nowhere, echo);
  ASSERT_TRUE(WriteFileAtomically(echo.string(), "echo"));
  EXPECT_FALSE(fs::exists(nowhere));
  EXPECT_EQ(Read(echo), "echo");
}

TEST_F(AtomicFileTest, AFailedWriteKeepsTheOldFileWhole) {
  const fs::path target = folder_ / "result.txt";
  std::ofstream(target) << "the previous report";
  // A child process whose files may not grow beyond 1 KiB: the write of 64 KiB fails as
  // on a full disk.
  const pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {
      1024, 1024
    };
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::string error;
    const bool written = WriteFileAtomically(target.string(), std::string(65536, 'x'), &error);
    ::_exit(written ? 1 : error.find("cannot write") != std::string::npos ? 0 : 2);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: reported success; 2: another error";
  EXPECT_EQ(Read(target), "the previous report");
  EXPECT_EQ(OtherEntries({"result.txt"}), 0u) << "the temporary file is removed";
}

TEST_F(AtomicFileTest, FailsCleanlyWhereNoFileCanBeMade) {
  std::string error;
  EXPECT_FALSE(WriteFileAtomically((folder_ / "missing" / "result.txt").string(), "x", &error));
  EXPECT_FALSE(error.empty());
  fs::create_directories(folder_ / "result.txt");  // a folder where the file should go
  EXPECT_FALSE(WriteFileAtomically((folder_ / "result.txt").string(), "x", &error));
  EXPECT_TRUE(fs::is_directory(folder_ / "result.txt"));
  EXPECT_EQ(OtherEntries({"result.txt"}), 0u);

  AtomicFile discarded;
  ASSERT_TRUE(discarded.Create((folder_ / "other.txt").string()));
  discarded.Discard();
  EXPECT_FALSE(discarded.Commit("late"));
  EXPECT_EQ(OtherEntries({"result.txt"}), 0u);
}

TEST_F(AtomicFileTest, ConcurrentWritersNeverMixTheirContents) {
  const fs::path target = folder_ / "result.txt";
  const std::string a(200000, 'a');
  const std::string b(300000, 'b');
  ASSERT_TRUE(WriteFileAtomically(target.string(), a));
  std::atomic<bool> done{false};
  std::thread writerA([&] {
    for (int k = 0; k < 40; ++k) WriteFileAtomically(target.string(), a);
  });
  std::thread writerB([&] {
    for (int k = 0; k < 40; ++k) WriteFileAtomically(target.string(), b);
  });
  int reads = 0;
  std::thread reader([&] {
    while (!done) {
      const std::string seen = Read(target);
      EXPECT_TRUE(seen == a || seen == b) << "a read saw " << seen.size() << " mixed bytes";
      ++reads;
    }
  });
  writerA.join();
  writerB.join();
  done = true;
  reader.join();
  EXPECT_GT(reads, 0);
  EXPECT_EQ(OtherEntries({"result.txt"}), 0u);
}

}  // namespace
}  // namespace quorvel
