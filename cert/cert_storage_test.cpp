#include "cert/cert_storage.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <list>
#include <memory>
#include <string>

#include "cert/cert_storage_fs.h"
#include "config/test_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr uid_t kUser = 4321;

struct Closer {
  void operator()(CertStorage *storage) const { CertStorage::Close(storage); }
};
using Storage = std::unique_ptr<CertStorage, Closer>;

std::string StorePath(const Storage &storage) {
  std::string path;
  dynamic_cast<const CertStorageFS &>(*storage).MakeCPath(path);
  return path;
}

class CertStorageOpen : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::create_directory(home);
    if (geteuid() == 0) {
      ASSERT_EQ(chown(home.c_str(), kUser, kUser), 0);
    }
    WriteFile(template_path, Template());
  }

  Personals User() {
    passwd entry{};
    entry.pw_name = const_cast<char *>("someone");
    entry.pw_dir = home.data();
    entry.pw_uid = entry.pw_gid = geteuid() == 0 ? kUser : getuid();
    return Personals(entry, template_path);
  }
  Storage Open(CertStorage::CertType type) {
    const Personals user = User();
    const Config config(user.CfgPath(), dir / "system", template_path, user.Owner());
    return Storage(CertStorage::Open(user, config, type));
  }

  TestDir dir;
  std::string home = dir / "home";
  const std::string template_path = dir / "defconfig";
};

TEST_F(CertStorageOpen, SystemStoresAreTheDirectoriesOfTheParameters) {
  EXPECT_EQ(StorePath(Open(CertStorage::CERT_CA)), "/etc/yrk/cert/ca");
  EXPECT_EQ(StorePath(Open(CertStorage::CERT_CRL)), "/etc/yrk/cert/crl");
}

TEST_F(CertStorageOpen, UserStoreIsBelowTheHomeDirectory) {
  const Storage storage = Open(CertStorage::CERT_USER);
  EXPECT_EQ(StorePath(storage), home + "/.yrk/cert/user");
  EXPECT_EQ(storage->Add(Cert()), 0);  // the user's tree was made on the way
}

TEST_F(CertStorageOpen, UnknownTypeGivesNoStore) {
  EXPECT_EQ(Open(static_cast<CertStorage::CertType>(3)), nullptr);
  CertStorage::Close(nullptr);
}

TEST_F(CertStorageOpen, AnUnreadableConfigurationPropagates) {
  const Personals user = User();
  fs::remove(user.CfgPath());
  const Config config(user.CfgPath(), dir / "system", template_path, user.Owner());
  EXPECT_THROW(CertStorage::Open(user, config, CertStorage::CERT_CA), std::runtime_error);
}

// A user who owns ".yrk" may swap any directory below it for a link.
TEST_F(CertStorageOpen, LinksBelowTheHomeDirectoryLeadNowhere) {
  const Storage storage = Open(CertStorage::CERT_USER);
  const std::string elsewhere = dir / "elsewhere";
  fs::create_directories(elsewhere + "/user");
  for (const std::string &link : {home + "/.yrk/cert/user", home + "/.yrk/cert"}) {
    fs::remove_all(link);
    fs::create_directory_symlink(link == home + "/.yrk/cert" ? elsewhere : elsewhere + "/user", link);
    std::list<int> numbers;
    EXPECT_EQ(storage->Add(Cert()), -14) << link;
    EXPECT_EQ(storage->List(numbers), -1) << link;
  }
  EXPECT_TRUE(fs::is_empty(elsewhere + "/user"));
}

}  // namespace
