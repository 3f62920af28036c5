#include "ui/store_as_owner.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "cert/cert_storage_fs.h"

using namespace UserInterface;
namespace fs = std::filesystem;

namespace {

constexpr uid_t kOwner = 54321;

uid_t OwnerOf(const fs::path &path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? st.st_uid : static_cast<uid_t>(-1);
}

Cert SomeCert() {
  SecContainer der;
  der.Init("\x30\x03\x02\x01\x01", 5);
  return Cert(der);
}

}  // namespace

TEST(StoreAsOwner, EntriesBelongToTheOwner) {
  if (geteuid() != 0) GTEST_SKIP() << "taking another identity needs the superuser";
  const fs::path dir = fs::temp_directory_path() / ("store_as_owner_test_" + std::to_string(getpid()));
  fs::create_directories(dir);
  fs::permissions(dir, fs::perms::all);
  {
    StoreAsOwner store(new CertStorageFS(dir.string()), FsIdentity{kOwner, kOwner, {kOwner}});
    ASSERT_EQ(store.Add(SomeCert()), 0);
    std::list<int> numbers;
    EXPECT_EQ(store.List(numbers), 1);
    Cert back;
    EXPECT_EQ(store.Get(back, 0), 0);
    EXPECT_TRUE(back == SomeCert());
  }
  EXPECT_EQ(OwnerOf(dir / "0000"), kOwner);
  EXPECT_EQ(OwnerOf(dir / "0000" / "cert"), kOwner);
  EXPECT_EQ(geteuid(), 0u) << "the identity is given back";
  {
    StoreAsOwner store(new CertStorageFS(dir.string()), std::nullopt);
    ASSERT_EQ(store.Add(SomeCert()), 1);
    EXPECT_EQ(store.Del(0), 0);
  }
  EXPECT_EQ(OwnerOf(dir / "0001"), 0u);
  fs::remove_all(dir);
}
