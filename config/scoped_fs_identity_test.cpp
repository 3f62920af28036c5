#include "config/scoped_fs_identity.h"

#include <grp.h>
#include <sys/fsuid.h>
#include <unistd.h>

#include <stdexcept>

#include "config/config.h"
#include "config/test_dir.h"

namespace {

constexpr uid_t kUser = 65534;
const FsIdentity kOwner{kUser, kUser, {kUser}};

std::vector<gid_t> Groups() {
  std::vector<gid_t> groups(static_cast<size_t>(getgroups(0, nullptr)));
  groups.resize(static_cast<size_t>(getgroups(static_cast<int>(groups.size()), groups.data())));
  return groups;
}

uid_t FsUid() { return static_cast<uid_t>(setfsuid(static_cast<uid_t>(-1))); }
gid_t FsGid() { return static_cast<gid_t>(setfsgid(static_cast<gid_t>(-1))); }

// What() of the exception `body` throws, or "" when it throws none.
template <typename Body>
std::string Thrown(Body body) {
  try {
    body();
  } catch (const std::runtime_error &e) {
    return e.what();
  }
  return "";
}

class AsOwner : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "taking another identity needs root";
    chmod(dir.path().c_str(), 0755);  // the user reaches its own files
  }

  // A directory of root's that only root may enter, holding a document.
  std::string RootOnly(const std::string &name, mode_t mode) {
    const std::string path = dir / name;
    mkdir(path.c_str(), mode);
    WriteFile(path + "/cfg", kRootDocument);
    return path;
  }

  // The user's home with ".yrk" a link to `target`.
  std::string LinkedHome(const std::string &target) {
    const std::string home = dir / "home";
    mkdir(home.c_str(), 0755);
    chown(home.c_str(), kUser, kUser);
    symlink(target.c_str(), (home + "/.yrk").c_str());
    return home + "/.yrk/cfg";
  }

  Config UserConfig(const std::string &path) {
    return Config(path, dir / "system.cfg", dir / "defconfig", kOwner);
  }

  static constexpr const char *kRootDocument = "<YRK><ACCOUNTS></ACCOUNTS></YRK>";
  TestDir dir;
};

TEST_F(AsOwner, IdentityHoldsForTheScopeAndIsGivenBackOnEveryExit) {
  const std::vector<gid_t> groups = Groups();
  {
    const ScopedFsIdentity as_owner(kOwner);
    EXPECT_EQ(FsUid(), kUser);
    EXPECT_EQ(FsGid(), kUser);
    EXPECT_EQ(Groups(), kOwner.groups);
  }
  EXPECT_EQ(FsUid(), 0u);
  EXPECT_EQ(FsGid(), 0u);
  EXPECT_EQ(Groups(), groups);

  EXPECT_EQ(Thrown([] {
              const ScopedFsIdentity as_owner(kOwner);
              throw std::runtime_error("inside");
            }),
            "inside");
  EXPECT_EQ(FsUid(), 0u);
  EXPECT_EQ(FsGid(), 0u);
}

TEST_F(AsOwner, NoOwnerAndTheSuperusersOwnFilesChangeNothing) {
  {
    const ScopedFsIdentity none(std::nullopt);
    EXPECT_EQ(FsUid(), 0u);
  }
  {
    const ScopedFsIdentity root(FsIdentity{0, kUser, {kUser}});
    EXPECT_EQ(FsUid(), 0u);
    EXPECT_EQ(FsGid(), 0u);
  }
}

TEST_F(AsOwner, SupplementaryGroupsOfTheProcessLendNoAccess) {
  constexpr gid_t kRootsGroup = 4321;
  const std::string group_dir = RootOnly("group", 0770);
  chown(group_dir.c_str(), 0, kRootsGroup);
  const Config config = UserConfig(LinkedHome(group_dir));
  EXPECT_TRUE(RunInChild([&] {
    if (setgroups(1, &kRootsGroup) != 0) return false;  // the process may enter the directory
    YrkParamsStruct params;
    return Thrown([&] { config.GetParams(params); }) == "file not found" && Groups().size() == 1 &&
           Groups().front() == kRootsGroup;
  }));
  EXPECT_EQ(ReadFile(group_dir + "/cfg"), kRootDocument);
}

TEST_F(AsOwner, LinkToADirectoryOnlyRootMayEnterIsNeitherReadNorReplaced) {
  const std::string secret = RootOnly("secret", 0700);
  const Config config = UserConfig(LinkedHome(secret));
  YrkParamsStruct params;
  _Account account;
  account.name = "planted";
  EXPECT_EQ(Thrown([&] { config.GetParams(params); }), "file not found");
  EXPECT_EQ(Thrown([&] { config.SetParams(params); }), "file not found");
  EXPECT_EQ(Thrown([&] { config.AddAccount(account); }), "file not found");
  EXPECT_EQ(ReadFile(secret + "/cfg"), kRootDocument);
  EXPECT_EQ(FsUid(), 0u);
}

TEST_F(AsOwner, LinkToADirectoryRootAloneMayWriteIsReadButNotReplaced) {
  const std::string shared = RootOnly("shared", 0755);
  chmod((shared + "/cfg").c_str(), 0644);
  const Config config = UserConfig(LinkedHome(shared));
  _Account account;
  account.name = "planted";
  EXPECT_EQ(Thrown([&] { config.AddAccount(account); }), "open failed");
  EXPECT_EQ(Thrown([&] { config.DelAccount(account); }), "open failed");
  EXPECT_EQ(ReadFile(shared + "/cfg"), kRootDocument);
  EXPECT_EQ(FsUid(), 0u);
}

TEST_F(AsOwner, UsersOwnDocumentIsStoredAndKeepsOwnerAndMode) {
  const std::string yrk = dir / ".yrk";
  mkdir(yrk.c_str(), 0700);
  chown(yrk.c_str(), kUser, kUser);
  const std::string path = yrk + "/cfg";
  WriteFile(path, kRootDocument);
  chown(path.c_str(), kUser, kUser);
  chmod(path.c_str(), 0600);
  const ino_t before = Inode(path);

  _Account account;
  account.name = "office";
  EXPECT_EQ(UserConfig(path).AddAccount(account), 0);
  EXPECT_EQ(ReadFile(path),
            "<YRK>\n\t<ACCOUNTS>\n\t\t<ACCOUNT>\n\t\t\t<NAME>office</NAME>\n\t\t</ACCOUNT>\n"
            "\t</ACCOUNTS>\n</YRK>\n");
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_NE(st.st_ino, before);  // replaced, not written in place
  EXPECT_EQ(st.st_uid, kUser);
  EXPECT_EQ(st.st_gid, kUser);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(AsOwner, SystemDocumentIsStillCreatedByTheSuperuser) {
  const std::string system_dir = dir / "etc";
  mkdir(system_dir.c_str(), 0700);
  WriteFile(dir / "defconfig", Template());
  const Config config(dir / "user.cfg", system_dir + "/cfg", dir / "defconfig", kOwner);
  struct stat st {};
  ASSERT_EQ(stat((system_dir + "/cfg").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(ReadFile(system_dir + "/cfg"), Template());
  EXPECT_EQ(config.GetRngType(), 0);
}

}  // namespace
