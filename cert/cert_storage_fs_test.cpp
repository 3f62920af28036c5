#include "cert/cert_storage_fs.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "config/test_dir.h"
#include "cert/cert_testing.h"

namespace {

using CertTesting::Bytes;
using CertTesting::Text;

namespace fs = std::filesystem;

Cert CertOf(const std::string &der) { return Cert(Bytes(der)); }

mode_t Mode(const std::string &path) {
  struct stat st {};
  lstat(path.c_str(), &st);
  return st.st_mode & 07777;
}

class CertStorageFSTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_umask = umask(022);
    fs::create_directory(store_path);
  }
  void TearDown() override { umask(saved_umask); }

  std::string Entry(const std::string &name) const { return store_path + "/" + name; }
  void MakeEntry(const std::string &name, const std::string &cert) const {
    fs::create_directory(Entry(name));
    WriteFile(Entry(name) + "/cert", cert);
  }
  std::list<int> Listed() {
    std::list<int> numbers;
    store.List(numbers);
    return numbers;
  }

  TestDir dir;
  const std::string store_path = dir / "store";
  CertStorageFS store{store_path};
  mode_t saved_umask = 0;
};

TEST_F(CertStorageFSTest, EmptyStoreListsNothingAndAddsEntryZero) {
  std::list<int> numbers{7};
  EXPECT_EQ(store.List(numbers), 0);
  EXPECT_TRUE(numbers.empty());
  EXPECT_EQ(store.Add(CertOf("der bytes")), 0);
  EXPECT_EQ(ReadFile(Entry("0000/cert")), "der bytes");
  EXPECT_EQ(Listed(), std::list<int>{0});
}

TEST_F(CertStorageFSTest, ModesAreThoseAskedForLessTheUmask) {
  umask(027);
  ASSERT_EQ(store.Add(CertOf("x")), 0);
  ASSERT_EQ(store.SetMeta(CertMetadata(), 0), 0);
  EXPECT_EQ(Mode(Entry("0000")), 0750u);
  EXPECT_EQ(Mode(Entry("0000/cert")), 0640u);
  EXPECT_EQ(Mode(Entry("0000/meta")), 0640u);
}

TEST_F(CertStorageFSTest, AddTakesTheLowestFreeNumber) {
  for (const char *name : {"0000", "0001", "0003"}) MakeEntry(name, "c");
  EXPECT_EQ(store.Add(CertOf("new")), 2);
  EXPECT_EQ(ReadFile(Entry("0002/cert")), "new");
  EXPECT_EQ(Listed(), (std::list<int>{0, 1, 2, 3}));
}

TEST_F(CertStorageFSTest, NumbersAreReusedAfterDel) {
  for (int i = 0; i < 4; ++i) ASSERT_EQ(store.Add(CertOf(std::to_string(i))), i);
  EXPECT_EQ(store.Del(1), 0);
  EXPECT_FALSE(fs::exists(Entry("0001")));
  EXPECT_EQ(store.Add(CertOf("again")), 1);
  EXPECT_EQ(store.Add(CertOf("next")), 4);
}

TEST_F(CertStorageFSTest, EqualCertificatesGetTwoEntries) {
  EXPECT_EQ(store.Add(CertOf("same")), 0);
  EXPECT_EQ(store.Add(CertOf("same")), 1);
}

TEST_F(CertStorageFSTest, NumbersAreHexadecimalDirectoryNames) {
  MakeEntry("0010", "sixteen");
  MakeEntry("03e7", "last");
  Cert out;
  EXPECT_EQ(store.Get(out, 16), 0);
  EXPECT_EQ(Text(out.Get()), "sixteen");
  EXPECT_EQ(store.Get(out, 999), 0);
  EXPECT_EQ(Text(out.Get()), "last");
  EXPECT_EQ(Listed(), (std::list<int>{16, 999}));
}

TEST_F(CertStorageFSTest, GetOfAMissingOrIncompleteEntryIsNotFound) {
  fs::create_directory(Entry("0000"));
  MakeEntry("03e8", "beyond the numbers");
  Cert out(Bytes("kept"));
  EXPECT_EQ(store.Get(out, 0), -1);
  EXPECT_EQ(store.Get(out, 1), -1);
  EXPECT_EQ(store.Get(out, 1000), -1);
  EXPECT_EQ(store.Get(out, -1), -1);
  EXPECT_EQ(Text(out.Get()), "kept");
  EXPECT_EQ(Listed(), std::list<int>{0});  // an entry exists without its "cert"
}

TEST_F(CertStorageFSTest, OtherNamesAreNeverLookedAt) {
  MakeEntry("10", "short");
  MakeEntry("000A", "upper case");
  MakeEntry("00000", "long");
  EXPECT_EQ(Listed(), std::list<int>{});
  EXPECT_EQ(store.Add(CertOf("x")), 0);
}

TEST_F(CertStorageFSTest, DelOfAMissingEntryIsNotFound) {
  EXPECT_EQ(store.Del(0), -1);
  EXPECT_EQ(store.Del(1000), -1);
}

TEST_F(CertStorageFSTest, DelRemovesCertAndMetaAndLeavesOtherFiles) {
  MakeEntry("0000", "no meta");
  EXPECT_EQ(store.Del(0), 0);
  EXPECT_FALSE(fs::exists(Entry("0000")));
  MakeEntry("0001", "with meta and more");
  WriteFile(Entry("0001/meta"), "m");
  WriteFile(Entry("0001/other"), "o");
  EXPECT_EQ(store.Del(1), 0);
  EXPECT_FALSE(fs::exists(Entry("0001/cert")));
  EXPECT_FALSE(fs::exists(Entry("0001/meta")));
  EXPECT_TRUE(fs::exists(Entry("0001/other")));
}

TEST_F(CertStorageFSTest, AMissingStoreIsReportedByEveryOperation) {
  CertStorageFS missing(dir / "missing");
  std::list<int> numbers{1};
  Cert cert;
  CertMetadata meta;
  EXPECT_EQ(missing.List(numbers), -1);
  EXPECT_TRUE(numbers.empty());
  EXPECT_EQ(missing.Get(cert, 0), -1);
  EXPECT_EQ(missing.GetMeta(meta, 0), -1);
  EXPECT_EQ(missing.Del(0), -1);
  EXPECT_EQ(missing.Add(CertOf("x")), -14);
  EXPECT_EQ(missing.SetMeta(meta, 0), -14);
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST_F(CertStorageFSTest, AFullStoreRefusesAnotherEntry) {
  for (int number = 0; number < 1000; ++number) {
    char name[8];
    snprintf(name, sizeof name, "%04x", number);
    fs::create_directory(Entry(name));
  }
  EXPECT_EQ(store.Add(CertOf("x")), -1);
  EXPECT_EQ(Listed().size(), 1000u);
  EXPECT_EQ(std::distance(fs::directory_iterator(store_path), fs::directory_iterator()), 1000);
}

TEST_F(CertStorageFSTest, MetadataRoundTrip) {
  ASSERT_EQ(store.Add(CertOf("c")), 0);
  CertMetadata meta;
  meta.Records().push_back({1, Bytes("abc")});
  meta.Records().push_back({2, {}});
  ASSERT_EQ(store.SetMeta(meta, 0), 0);
  EXPECT_EQ(fs::file_size(Entry("0000/meta")), 19u);
  CertMetadata read;
  ASSERT_EQ(store.GetMeta(read, 0), 0);
  ASSERT_EQ(read.Records().size(), 2u);
  EXPECT_EQ(read.Records()[0].type, 1u);
  EXPECT_EQ(Text(read.Records()[0].data), "abc");
  EXPECT_EQ(read.Records()[1].type, 2u);
  EXPECT_EQ(read.Records()[1].data.Size(), 0);
}

TEST_F(CertStorageFSTest, ShorterMetadataLeavesNoOldBytes) {
  ASSERT_EQ(store.Add(CertOf("c")), 0);
  CertMetadata longer;
  longer.Records().push_back({1, Bytes(std::string(100, 'L'))});
  ASSERT_EQ(store.SetMeta(longer, 0), 0);
  CertMetadata shorter;
  shorter.Records().push_back({2, Bytes("s")});
  ASSERT_EQ(store.SetMeta(shorter, 0), 0);
  EXPECT_EQ(ReadFile(Entry("0000/meta")), std::string("\x02\0\0\0\x01\0\0\0s", 9));
  EXPECT_EQ(std::distance(fs::directory_iterator(Entry("0000")), fs::directory_iterator()), 2);
}

TEST_F(CertStorageFSTest, MetadataNeedsTheEntry) {
  CertMetadata meta;
  EXPECT_EQ(store.SetMeta(meta, 0), -1);
  EXPECT_EQ(store.SetMeta(meta, 1000), -1);
  EXPECT_EQ(store.GetMeta(meta, 0), -1);
  MakeEntry("0000", "c");
  EXPECT_EQ(store.GetMeta(meta, 0), -1);  // no "meta" yet
}

TEST_F(CertStorageFSTest, TruncatedMetadataFileKeepsTheWholeRecords) {
  MakeEntry("0000", "c");
  WriteFile(Entry("0000/meta"), std::string("\x05\0\0\0\x02\0\0\0ok\x06\0\0\0\x10\0\0\0cut", 21));
  CertMetadata meta;
  ASSERT_EQ(store.GetMeta(meta, 0), 0);
  ASSERT_EQ(meta.Records().size(), 1u);
  EXPECT_EQ(meta.Records()[0].type, 5u);
  EXPECT_EQ(Text(meta.Records()[0].data), "ok");
}

TEST_F(CertStorageFSTest, LeftoverTemporaryEntryIsNeitherListedNorCounted) {
  MakeEntry(".new-1-0", "half");
  EXPECT_EQ(Listed(), std::list<int>{});
  EXPECT_EQ(store.Add(CertOf("x")), 0);
  EXPECT_EQ(Listed(), std::list<int>{0});
}

// Adds a certificate larger than the file-size limit in a child process;
// how the child ended.
int AddOverSizeLimit(CertStorageFS &store, bool survive) {
  const pid_t pid = fork();
  if (pid == 0) {
    const rlimit no_core{0, 0};
    const rlimit tiny{16, 16};
    setrlimit(RLIMIT_CORE, &no_core);
    if (survive) signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &tiny);
    _exit(store.Add(CertOf(std::string(4096, 'D'))) == -14 ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

TEST_F(CertStorageFSTest, ACrashWhileWritingLeavesNoNumberedEntry) {
  const int status = AddOverSizeLimit(store, false);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
  EXPECT_EQ(Listed(), std::list<int>{});
  EXPECT_FALSE(fs::exists(Entry("0000")));
  EXPECT_EQ(store.Add(CertOf("whole")), 0);
  Cert out;
  EXPECT_EQ(store.Get(out, 0), 0);
  EXPECT_EQ(Text(out.Get()), "whole");
}

TEST_F(CertStorageFSTest, AFailedWriteLeavesNothing) {
  const int status = AddOverSizeLimit(store, true);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(fs::is_empty(store_path));
}

TEST_F(CertStorageFSTest, LinksInTheStoreAreNotFollowed) {
  const std::string elsewhere = dir / "elsewhere";
  fs::create_directory(elsewhere);
  WriteFile(elsewhere + "/cert", "outside");
  WriteFile(elsewhere + "/meta", "outside");
  fs::create_directory_symlink(elsewhere, Entry("0000"));
  Cert out;
  CertMetadata meta;
  EXPECT_EQ(store.Get(out, 0), -1);
  EXPECT_EQ(store.GetMeta(meta, 0), -1);
  EXPECT_EQ(store.SetMeta(meta, 0), -1);
  EXPECT_EQ(store.Del(0), -1);
  EXPECT_EQ(store.Add(CertOf("x")), 1);  // the name is taken all the same

  fs::remove(Entry("0001/cert"));
  fs::create_symlink(elsewhere + "/cert", Entry("0001/cert"));
  fs::create_symlink(elsewhere + "/meta", Entry("0001/meta"));
  EXPECT_EQ(store.Get(out, 1), -1);
  EXPECT_EQ(store.GetMeta(meta, 1), -1);
  EXPECT_EQ(store.SetMeta(meta, 1), 0);  // replaces the link, not its target
  EXPECT_FALSE(fs::is_symlink(Entry("0001/meta")));
  EXPECT_EQ(store.Del(1), 0);
  EXPECT_EQ(ReadFile(elsewhere + "/cert"), "outside");
  EXPECT_EQ(ReadFile(elsewhere + "/meta"), "outside");
}

TEST_F(CertStorageFSTest, OnlyRegularFilesAreRead) {
  fs::create_directory(Entry("0000"));
  ASSERT_EQ(mkfifo(Entry("0000/cert").c_str(), 0600), 0);
  fs::create_directory(Entry("0000/meta"));
  Cert out;
  CertMetadata meta;
  EXPECT_EQ(store.Get(out, 0), -1);
  EXPECT_EQ(store.GetMeta(meta, 0), -1);
  EXPECT_EQ(store.SetMeta(meta, 0), -14);
}

TEST_F(CertStorageFSTest, AFileWithAnotherNameIsNotRead) {
  MakeEntry("0000", "c");
  fs::create_hard_link(Entry("0000/cert"), dir / "other-name");
  Cert out;
  EXPECT_EQ(store.Get(out, 0), -1);
}

TEST_F(CertStorageFSTest, MakeCPathGivesTheStoreDirectory) {
  std::string out;
  EXPECT_EQ(store.MakeCPath(out), 0);
  EXPECT_EQ(out, store_path);
}

}  // namespace
