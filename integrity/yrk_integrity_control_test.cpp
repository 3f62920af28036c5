#include "integrity/yrk_integrity_control.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <functional>
#include <stdexcept>

#include "integrity/integrity_control.h"
#include "integrity/integrity_testing.h"

using namespace integrity_test;

namespace {

constexpr std::size_t kChunk = YRKIntegrityControl::kChunk;

class Integrity : public ::testing::Test {
 protected:
  // Writes the files (name, contents) and a list naming them in order.
  void List(const std::vector<std::pair<std::string, std::string>> &files) {
    std::string list;
    for (const auto &[name, text] : files) {
      WriteFile(dir / name, text);
      list += dir / name + "\n";
    }
    WriteFile(filelist, list);
  }
  YRKIntegrityControl Control() { return YRKIntegrityControl(filelist, checksum); }
  Bytes Hash() { return ToBytes(Control().ComputeHash()); }

  TestDir dir;
  const std::string filelist = dir / "filelist";
  const std::string checksum = dir / ".csum";
};

// The exception text of `body`, or "" when it throws none.
std::string Thrown(const std::function<void()> &body) {
  try {
    body();
  } catch (const std::runtime_error &e) {
    return e.what();
  }
  return "";
}

std::vector<std::string> Names(const std::string &path) {
  std::vector<std::string> names;
  for (const auto &entry : std::filesystem::directory_iterator(path)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

// One running hash over the contents in list order, nothing between them;
// files that span the read chunks are fed whole.
TEST_F(Integrity, DigestIsTheHashOfTheConcatenation) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"a", RandomText(1, 1)},          {"empty", ""},
      {"b", RandomText(31, 2)},         {"c", RandomText(kChunk + 33, 3)},
      {"d", RandomText(2 * kChunk, 4)}, {"e", RandomText(kChunk - 1, 5)}};
  List(files);
  std::string all;
  for (const auto &file : files) all += file.second;
  IntegrityControl own;
  own.Compute(all.data(), all.size());
  const Bytes digest = Hash();
  EXPECT_EQ(digest, ToBytes(own.Result()));
  EXPECT_EQ(digest, GcryptDigest(all));
}

TEST_F(Integrity, OrderCountsButFileBoundariesDoNot) {
  List({{"one", "first file\n"}, {"two", "second file\n"}});
  const Bytes original = Hash();
  WriteFile(filelist, dir / "two\n" + dir / "one\n");
  EXPECT_NE(Hash(), original);

  // The end of "one" moved to the start of "two".
  List({{"one", "first"}, {"two", " file\nsecond file\n"}});
  EXPECT_EQ(Hash(), original);
}

TEST_F(Integrity, ListLinesAreTakenAsTheyAre) {
  List({{"one", "1"}, {"two", "2"}});
  const Bytes digest = Hash();
  // Empty lines are skipped, a last line needs no newline.
  WriteFile(filelist, "\n\n" + dir / "one\n\n\n" + dir / "two");
  EXPECT_EQ(Hash(), digest);
  // No trimming: a trailing blank or carriage return is part of the name.
  WriteFile(filelist, dir / "one \n");
  EXPECT_EQ(Thrown([&] { Hash(); }), "file not found " + dir / "one ");
  WriteFile(filelist, dir / "one\r\n");
  EXPECT_EQ(Thrown([&] { Hash(); }), "file not found " + dir / "one\r");
  // A line longer than any path names no file and is not held whole.
  WriteFile(filelist, std::string(3 * 65536, 'x') + "\n");
  const std::string message = Thrown([&] { Hash(); });
  EXPECT_EQ(message, "file not found " + std::string(PATH_MAX, 'x'));
}

TEST_F(Integrity, ListWithoutPaths) {
  EXPECT_EQ(Thrown([&] { Hash(); }), "filelist not found");
  WriteFile(filelist, "");
  EXPECT_EQ(Thrown([&] { Hash(); }), "error while building filelist");
  WriteFile(filelist, "\n\n\n");
  EXPECT_EQ(Thrown([&] { Hash(); }), "error while building filelist");
  std::filesystem::remove(filelist);
  std::filesystem::create_directory(filelist);
  EXPECT_EQ(Thrown([&] { Hash(); }), "filelist not found");
}

TEST_F(Integrity, EmptyFileAddsNothingButMustExist) {
  List({{"one", "data"}});
  const Bytes digest = Hash();
  List({{"one", "data"}, {"empty", ""}});
  EXPECT_EQ(Hash(), digest);
  EXPECT_EQ(Hash(), GcryptDigest("data"));
  std::filesystem::remove(dir / "empty");
  EXPECT_EQ(Thrown([&] { Hash(); }), "file not found " + dir / "empty");
}

// Anything but a regular file is no listed file: refused by its type, never
// waited on (a FIFO without a writer, a terminal) or read without end.
TEST_F(Integrity, OnlyRegularFilesAreHashed) {
  List({{"one", "data"}});
  std::filesystem::create_directory(dir / "sub");
  ASSERT_EQ(0, mkfifo((dir / "fifo").c_str(), 0644));
  alarm(60);  // a hang fails the run
  for (const std::string &path : {dir / "sub", dir / "fifo", std::string("/dev/zero"), std::string("/dev/null")}) {
    WriteFile(filelist, dir / "one\n" + path + "\n");
    EXPECT_EQ(Thrown([&] { Hash(); }), "file not found " + path);
  }
  alarm(0);
  // A link to a regular file counts as the file.
  std::filesystem::create_symlink(dir / "one", dir / "link");
  WriteFile(filelist, dir / "link\n");
  EXPECT_EQ(Hash(), GcryptDigest("data"));
}

TEST_F(Integrity, UnreadableFileIsNotFound) {
  List({{"one", "data"}});
  chmod((dir / "one").c_str(), 0);
  chmod(dir.path().c_str(), 0755);
  chmod(filelist.c_str(), 0644);
  EXPECT_TRUE(RunInChild([&] {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return false;
    return Thrown([&] { Hash(); }) == "file not found " + dir / "one";
  }));
}

// A file changed while it is read: bytes added after the size was taken are
// left out; bytes taken away make the read fail instead of a digest of part.
class Changing : public YRKIntegrityControl {
 public:
  Changing(const std::string &list, const std::string &sum, std::function<void(const std::string &)> change)
      : YRKIntegrityControl(list, sum), change_(std::move(change)) {}

 protected:
  void Opened(const std::string &path) override { change_(path); }

 private:
  std::function<void(const std::string &)> change_;
};

TEST_F(Integrity, FileChangedWhileRead) {
  const std::string text = RandomText(kChunk + 100, 9);
  List({{"one", text}, {"two", "tail"}});
  Changing growing(filelist, checksum, [](const std::string &path) {
    std::ofstream(path, std::ios::binary | std::ios::app) << "appended";
  });
  EXPECT_EQ(ToBytes(growing.ComputeHash()), GcryptDigest(text + "tail"));

  for (off_t size : {off_t(0), off_t(50), off_t(kChunk), off_t(kChunk + 99)}) {
    SCOPED_TRACE(size);
    List({{"one", text}, {"two", "tail"}});
    Changing shrinking(filelist, checksum, [&](const std::string &path) {
      if (path == dir / "one") truncate(path.c_str(), size);
    });
    EXPECT_EQ(Thrown([&] { shrinking.ComputeHash(); }), "error reading file");
  }
}

TEST_F(Integrity, ComputeThenCheck) {
  List({{"one", "alpha"}, {"two", "beta"}});
  const mode_t old_mask = umask(077);
  Control().Compute();
  umask(old_mask);
  EXPECT_EQ(ReadFile(checksum).size(), 32u);
  EXPECT_EQ(ToBytes(ReadFile(checksum)), GcryptDigest("alphabeta"));
  struct stat st;
  ASSERT_EQ(0, stat(checksum.c_str(), &st));
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_EQ(ToBytes(Control().LoadHash()), GcryptDigest("alphabeta"));
  EXPECT_TRUE(Control().Check());

  WriteFile(dir / "two", "betA");
  EXPECT_FALSE(Control().Check());
  Control().Compute();
  EXPECT_TRUE(Control().Check());
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{".csum", "filelist", "one", "two"}));
}

TEST_F(Integrity, ReferenceOfAnotherSizeNeverMatches) {
  List({{"one", "alpha"}});
  const Bytes digest = GcryptDigest("alpha");
  // The right digest with one byte more.
  WriteFile(checksum, std::string(digest.begin(), digest.end()) + "x");
  EXPECT_EQ(Control().LoadHash().size(), 33u);
  EXPECT_FALSE(Control().Check());
  WriteFile(checksum, std::string(digest.begin(), digest.end() - 1));
  EXPECT_FALSE(Control().Check());
  WriteFile(checksum, "");
  EXPECT_FALSE(Control().Check());
  WriteFile(checksum, std::string(digest.begin(), digest.end()) + "x");
  Control().Compute();
  EXPECT_EQ(ToBytes(ReadFile(checksum)), digest);
  EXPECT_TRUE(Control().Check());
}

// A 1 GiB reference (sparse) is never read: it cannot be a digest.
TEST_F(Integrity, HugeReferenceIsAMismatch) {
  List({{"one", "alpha"}});
  WriteFile(checksum, "");
  ASSERT_EQ(0, truncate(checksum.c_str(), off_t(1) << 30));
  EXPECT_FALSE(Control().Check());
  EXPECT_EQ(Thrown([&] { Control().LoadHash(); }), "error reading file");
  ASSERT_EQ(0, truncate(checksum.c_str(), YRKIntegrityControl::kMaxReference));
  EXPECT_EQ(Control().LoadHash().size(), YRKIntegrityControl::kMaxReference);
  EXPECT_FALSE(Control().Check());
}

TEST_F(Integrity, ReferenceMissingOrNoFile) {
  List({{"one", "alpha"}});
  EXPECT_EQ(Thrown([&] { Control().LoadHash(); }), "file not found");
  EXPECT_EQ(Thrown([&] { Control().Check(); }), "file not found");
  ASSERT_EQ(0, mkfifo(checksum.c_str(), 0644));
  alarm(60);
  EXPECT_EQ(Thrown([&] { Control().Check(); }), "file not found");
  alarm(0);
  // A listed file missing is reported before the reference.
  std::filesystem::remove(dir / "one");
  EXPECT_EQ(Thrown([&] { Control().Check(); }), "file not found " + dir / "one");
}

TEST_F(Integrity, SaveWhereNoFileCanBeMade) {
  List({{"one", "alpha"}});
  YRKIntegrityControl control(filelist, dir / "missing/.csum");
  EXPECT_EQ(Thrown([&] { control.Compute(); }), "file not found");
  // A directory the caller may not write (root is made nobody for that).
  std::filesystem::create_directory(dir / "ro");
  chmod((dir / "ro").c_str(), 0555);
  EXPECT_TRUE(RunInChild([&] {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return false;
    YRKIntegrityControl readonly(filelist, dir / "ro/.csum");
    return Thrown([&] { readonly.SaveHash(shared_membuf(32)); }) == "file not found";
  }));
}

// A write that fails half way (here: a file size limit) leaves the old
// reference as it was and no temporary file behind.
TEST_F(Integrity, FailedSaveKeepsTheOldReference) {
  List({{"one", "alpha"}});
  Control().Compute();
  const std::string old = ReadFile(checksum);
  WriteFile(dir / "one", "changed");
  for (rlim_t limit : {rlim_t(0), rlim_t(10)}) {
    EXPECT_TRUE(RunInChild([&] {
      signal(SIGXFSZ, SIG_IGN);
      const struct rlimit small = {limit, limit};
      if (setrlimit(RLIMIT_FSIZE, &small) != 0) return false;
      return Thrown([&] { Control().Compute(); }) == "error writing file";
    }));
    EXPECT_EQ(ReadFile(checksum), old);
    EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{".csum", "filelist", "one"}));
  }
}

// The reference replaces whatever is at the path, a link included, and is
// never written through it.
TEST_F(Integrity, SaveReplacesALinkItself) {
  List({{"one", "alpha"}});
  WriteFile(dir / "elsewhere", "keep");
  std::filesystem::create_symlink(dir / "elsewhere", checksum);
  Control().Compute();
  EXPECT_EQ(ReadFile(dir / "elsewhere"), "keep");
  EXPECT_FALSE(std::filesystem::is_symlink(checksum));
  EXPECT_TRUE(Control().Check());
}
