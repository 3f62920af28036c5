#include "config/personals.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr uid_t kUser = 4321;

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct stat LStat(const std::string &path) {
  struct stat st {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st;
}

class PersonalsSetup : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = fs::temp_directory_path() / "yrk-personals-XXXXXX";
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root = pattern;
    home = root + "/home";
    fs::create_directory(home);
    if (Privileged()) {
      ASSERT_EQ(chown(home.c_str(), kUser, kUser), 0);
    }
    outside = root + "/outside";
    fs::create_directory(outside);
    template_path = root + "/defconfig";
    std::ofstream(template_path) << "<TEMPLATE>\n";
    victim = outside + "/victim";
    std::ofstream(victim) << "not yours\n";
  }
  void TearDown() override { fs::remove_all(root); }

  Personals Build(const std::string &tmpl) {
    passwd entry{};
    entry.pw_name = const_cast<char *>("someone");
    entry.pw_dir = home.data();
    entry.pw_uid = Privileged() ? kUser : getuid();  // the home is the user's own
    return Personals(entry, tmpl);
  }
  Personals Build() { return Build(template_path); }
  std::string Yrk(const std::string &rest = "") const { return home + "/.yrk" + rest; }
  static bool Privileged() { return geteuid() == 0; }

  // The victim and the outside directory keep their owner and content.
  void ExpectOutsideUntouched() {
    EXPECT_EQ(LStat(victim).st_uid, geteuid());
    EXPECT_EQ(LStat(outside).st_uid, geteuid());
    EXPECT_EQ(ReadFile(victim), "not yours\n");
    EXPECT_FALSE(fs::exists(outside + "/cfg"));
    EXPECT_FALSE(fs::exists(outside + "/user"));
    EXPECT_FALSE(fs::exists(outside + "/key"));
  }

  std::string root, home, outside, template_path, victim;
};

TEST_F(PersonalsSetup, FirstUseBuildsTheTree) {
  const Personals p = Build();
  EXPECT_EQ(p.Username(), "someone");
  EXPECT_EQ(p.HomeDir(), home);
  EXPECT_EQ(p.CfgPath(), Yrk("/cfg"));
  EXPECT_EQ(p.KeyDir(), Yrk("/key"));

  EXPECT_EQ(LStat(Yrk()).st_mode & 07777, 0700u);
  EXPECT_TRUE(S_ISDIR(LStat(Yrk("/cert/user")).st_mode));
  EXPECT_TRUE(S_ISDIR(LStat(Yrk("/key")).st_mode));
  EXPECT_EQ(ReadFile(Yrk("/cfg")), "<TEMPLATE>\n");
  if (!Privileged()) GTEST_SKIP() << "owner changes need root";
  EXPECT_EQ(LStat(Yrk()).st_uid, kUser);
  EXPECT_EQ(LStat(Yrk("/cfg")).st_uid, kUser);
  EXPECT_EQ(LStat(Yrk("/key")).st_uid, kUser);
  EXPECT_EQ(LStat(Yrk("/cert")).st_uid, kUser);
  EXPECT_EQ(LStat(Yrk("/cert/user")).st_uid, kUser);
  EXPECT_EQ(LStat(Yrk()).st_gid, 0u);         // group unchanged
}

TEST_F(PersonalsSetup, EditedConfigurationSurvivesAnotherSetup) {
  Build();
  std::ofstream(Yrk("/cfg")) << "<EDITED>\n";
  Build();
  EXPECT_EQ(ReadFile(Yrk("/cfg")), "<EDITED>\n");
}

TEST_F(PersonalsSetup, MissingTemplateGivesAnEmptyConfiguration) {
  Build(root + "/no-such-template");
  EXPECT_EQ(ReadFile(Yrk("/cfg")), "");
}

// A system account (a home that is a file, missing, or another's, like
// "/bin") is no user: no name, no paths, nothing created.
TEST_F(PersonalsSetup, AccountWithoutAHomeOfItsOwnIsNoUser) {
  const std::string real_home = home;
  std::ofstream(home + "/file") << "x";
  for (const std::string &other : {real_home + "/file", real_home + "/missing", outside}) {
    if (other == outside && !Privileged()) continue;  // needs a directory of another owner
    home = other;
    const Personals p = Build();
    EXPECT_EQ(p.Username(), "") << other;
    EXPECT_EQ(p.CfgPath(), "") << other;
    EXPECT_FALSE(p.Owner()) << other;
    EXPECT_FALSE(fs::exists(other + "/.yrk")) << other;
  }
  ExpectOutsideUntouched();
}

TEST_F(PersonalsSetup, RootNeedsNoHomeOfItsOwn) {
  passwd entry{};
  entry.pw_name = const_cast<char *>("root");
  entry.pw_dir = outside.data();
  entry.pw_uid = 0;
  if (!Privileged()) GTEST_SKIP() << "the directory must belong to another owner than uid 0";
  ASSERT_EQ(chown(outside.c_str(), kUser, kUser), 0);
  const Personals p(entry, template_path);
  EXPECT_EQ(p.Username(), "root");
  EXPECT_EQ(p.CfgPath(), outside + "/.yrk/cfg");
}

// Each run writes the template whole under a name of its own and links it
// into place only while there is no configuration: a run that finds one
// finds all of it, and the first one stays.
TEST_F(PersonalsSetup, FirstConfigurationAppearsWhole) {
  std::string big = "<YRK>\n";
  for (int i = 0; i < 20000; ++i) big += "\t<PARAMETERS>x</PARAMETERS>\n";
  big += "</YRK>\n";
  std::ofstream(template_path) << big;
  std::vector<pid_t> runs;
  for (int i = 0; i < 8; ++i) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      Build();
      _exit(ReadFile(Yrk("/cfg")) == big ? 0 : 1);
    }
    runs.push_back(child);
  }
  for (pid_t child : runs) {
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(ReadFile(Yrk("/cfg")), big);
  EXPECT_EQ(LStat(Yrk("/cfg")).st_nlink, 1u);
  size_t entries = 0;
  for ([[maybe_unused]] const auto &entry : fs::directory_iterator(Yrk())) ++entries;
  EXPECT_EQ(entries, 3u) << "cfg, cert, key and no temporary left";
}

TEST_F(PersonalsSetup, LinkedTemplateOfRootIsCopied) {
  const std::string real = root + "/real-template";
  fs::rename(template_path, real);
  fs::create_symlink(real, template_path);  // the caller's own, or root's
  Build();
  EXPECT_EQ(ReadFile(Yrk("/cfg")), "<TEMPLATE>\n");
}

// The paths handed out must not lead through the link either: the
// configuration store opens them by name.
TEST_F(PersonalsSetup, LinkedTopDirectoryIsLeftAloneAndGivesNoPaths) {
  fs::create_directory_symlink(outside, Yrk());
  const Personals p = Build();
  EXPECT_TRUE(fs::is_symlink(Yrk()));
  ExpectOutsideUntouched();
  EXPECT_EQ(p.Username(), "someone");
  EXPECT_EQ(p.HomeDir(), home);
  EXPECT_EQ(p.CfgPath(), "");
  EXPECT_EQ(p.KeyDir(), "");
}

TEST_F(PersonalsSetup, TopDirectoryThatIsAFileGivesNoPaths) {
  std::ofstream(Yrk()) << "not a directory";
  const Personals p = Build();
  EXPECT_EQ(p.CfgPath(), "");
  EXPECT_EQ(p.KeyDir(), "");
  EXPECT_EQ(ReadFile(Yrk()), "not a directory");
}

TEST_F(PersonalsSetup, LinkedConfigurationIsNeitherWrittenNorHandedOver) {
  fs::create_directory(Yrk());
  fs::create_symlink(victim, Yrk("/cfg"));
  Build();
  EXPECT_TRUE(fs::is_symlink(Yrk("/cfg")));
  ExpectOutsideUntouched();
  // A dangling link is not followed to create its target either.
  fs::remove(Yrk("/cfg"));
  fs::create_symlink(outside + "/cfg", Yrk("/cfg"));
  Build();
  ExpectOutsideUntouched();
}

TEST_F(PersonalsSetup, HardLinkedConfigurationKeepsItsOwner) {
  fs::create_directory(Yrk());
  fs::create_hard_link(victim, Yrk("/cfg"));
  Build();
  ExpectOutsideUntouched();
}

TEST_F(PersonalsSetup, LinkedSubdirectoriesAreLeftAlone) {
  fs::create_directory(Yrk());
  fs::create_directory_symlink(outside, Yrk("/cert"));
  fs::create_directory_symlink(outside, Yrk("/key"));
  const Personals p = Build();
  EXPECT_TRUE(fs::is_symlink(Yrk("/cert")));
  EXPECT_TRUE(fs::is_symlink(Yrk("/key")));
  ExpectOutsideUntouched();
  EXPECT_EQ(ReadFile(Yrk("/cfg")), "<TEMPLATE>\n");  // the rest is still set up
  EXPECT_EQ(p.CfgPath(), Yrk("/cfg"));
  EXPECT_EQ(p.KeyDir(), "") << "the key directory is not handed out through the link";
}

TEST_F(PersonalsSetup, LinkedUserStoreIsNotFollowed) {
  fs::create_directories(Yrk("/cert"));
  fs::create_directory_symlink(outside + "/user", Yrk("/cert/user"));  // dangling
  Build();
  EXPECT_TRUE(fs::is_symlink(Yrk("/cert/user")));
  ExpectOutsideUntouched();
}

TEST_F(PersonalsSetup, PlantedFifoDoesNotBlock) {
  fs::create_directory(Yrk());
  ASSERT_EQ(mkfifo(Yrk("/cfg").c_str(), 0600), 0);
  Build();
  EXPECT_TRUE(S_ISFIFO(LStat(Yrk("/cfg")).st_mode));
  EXPECT_TRUE(fs::is_directory(Yrk("/key")));
}

TEST(Personals, UnknownUserHasNoPaths) {
  const Personals p("no-such-user-for-yrk-tests");
  EXPECT_EQ(p.Username(), "");
  EXPECT_EQ(p.HomeDir(), "");
  EXPECT_EQ(p.CfgPath(), "");
  EXPECT_EQ(p.KeyDir(), "");
  EXPECT_FALSE(p.Owner());
}

TEST(Personals, KeyLocationClassifier) {
  EXPECT_FALSE(IsFS("RUTOKEN"));
  EXPECT_FALSE(IsFS("my ruToken 2"));
  EXPECT_FALSE(IsFS("/dev/rutoken0"));
  EXPECT_TRUE(IsFS("/home/alice/.yrk/key"));
  EXPECT_TRUE(IsFS("RuToken"));
  EXPECT_TRUE(IsFS(""));
}

TEST(Context, HandleReachesTheContext) {
  Context ctx("alice");
  PContext handle(&ctx);
  EXPECT_EQ(handle->Username(), "alice");
  ctx.SetUsername("bob");
  EXPECT_EQ(handle->Username(), "bob");
}

// These read and replace the user database: they run only inside
// tests/sandbox, whose /etc/passwd lists root, alice (500) and bob (1000).
class PersonalsSandbox : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("YRK_SANDBOX")) GTEST_SKIP() << "needs tests/sandbox";
  }

  // Runs `check` with /etc/passwd replaced by `users`.
  template <typename Check>
  void WithPasswd(const std::string &users, Check check) {
    const std::string file = "/tmp/personals-passwd";
    std::ofstream(file) << users;
    ASSERT_EQ(mount(file.c_str(), "/etc/passwd", nullptr, MS_BIND, nullptr), 0);
    check();
    umount("/etc/passwd");
  }
};

TEST_F(PersonalsSandbox, UsersListsRootAndTheLowRange) {
  std::list<std::string> users{"kept"};
  Personals::Users(users);
  EXPECT_EQ(users, (std::list<std::string>{"kept", "root", "alice"}));
}

TEST_F(PersonalsSandbox, UsersComeInUidOrder) {
  WithPasswd(
      "carol:x:999:999::/home/carol:/bin/sh\n"
      "bob:x:1000:1000::/home/bob:/bin/sh\n"
      "dave:x:500:500::/home/dave:/bin/sh\n"
      "daemon:x:1:1::/:/bin/sh\n"
      "root:x:0:0::/home/root:/bin/sh\n",
      [] {
        std::list<std::string> users;
        Personals::Users(users);
        EXPECT_EQ(users, (std::list<std::string>{"root", "dave", "carol"}));
      });
}

TEST_F(PersonalsSandbox, RootIsTheNameNotTheUid) {
  EXPECT_TRUE(Personals::IsRoot());
  WithPasswd("toor:x:0:0::/home/root:/bin/sh\n", [] { EXPECT_FALSE(Personals::IsRoot()); });
  WithPasswd("alice:x:500:500::/home/alice:/bin/sh\n", [] { EXPECT_TRUE(Personals::IsRoot()); });
}

TEST_F(PersonalsSandbox, NamedUserGetsTheTreeAndItsOwnership) {
  const Personals alice("alice");
  EXPECT_EQ(alice.HomeDir(), "/home/alice");
  EXPECT_EQ(alice.CfgPath(), "/home/alice/.yrk/cfg");
  EXPECT_EQ(LStat("/home/alice/.yrk").st_uid, 500u);
  EXPECT_EQ(LStat("/home/alice/.yrk/cfg").st_uid, 500u);
  EXPECT_EQ(LStat("/home/alice/.yrk/key").st_uid, 500u);
  EXPECT_EQ(ReadFile("/home/alice/.yrk/cfg"), ReadFile(Paths::kDefConfig));
  const std::optional<FsIdentity> owner = alice.Owner();
  ASSERT_TRUE(owner);
  EXPECT_EQ(owner->uid, 500u);
  EXPECT_EQ(owner->gid, 500u);
  EXPECT_NE(std::find(owner->groups.begin(), owner->groups.end(), 500u), owner->groups.end());
  const Context self;
  EXPECT_EQ(self.Username(), "root");
  EXPECT_TRUE(fs::is_directory("/home/root/.yrk/cert/user"));
}

}  // namespace
