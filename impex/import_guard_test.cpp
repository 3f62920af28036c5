#include "impex/import_guard.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <utility>

using ImportGuard::Check;
using ImportGuard::kMaxAttributes;
using ImportGuard::kMaxBytes;
using ImportGuard::kMaxNamespaces;

namespace {

constexpr char kTooManyAttributes[] = "too many attributes on one element";

// A server with `count` attributes, the last its subject_cn. Extra goes
// first into the tag.
std::string ServerWithAttributes(size_t count, const std::string &extra = "") {
  std::string xml = "<?xml version='1.0'?><Sections><Section Action='Add'><Server " + extra;
  for (size_t i = 1; i < count; ++i) xml += " a" + std::to_string(i) + "=''";
  return xml + " subject_cn='x'>gate</Server></Section></Sections>";
}

}  // namespace

TEST(ImportGuard, AttributesOnOneElementLimited) {
  EXPECT_EQ(Check(ServerWithAttributes(kMaxAttributes)).refusal, "");
  EXPECT_EQ(Check(ServerWithAttributes(kMaxAttributes + 1)).refusal, kTooManyAttributes);
  // Neither a '>' nor a stray quote in a value ends the count early.
  EXPECT_EQ(Check(ServerWithAttributes(kMaxAttributes, "q='\">' ")).refusal, kTooManyAttributes);
  // Defaults declared for an element count for it as well.
  std::string defaults = "<!DOCTYPE Sections [<!ATTLIST Server";
  for (size_t i = 0; i <= kMaxAttributes; ++i) defaults += " d" + std::to_string(i) + " CDATA 'v'";
  defaults += ">]><Sections><Section Action='Add'><Server>s</Server></Section></Sections>";
  EXPECT_EQ(Check(defaults).refusal, kTooManyAttributes);
}

TEST(ImportGuard, NamespaceDeclarationsLimited) {
  std::string xml = "<Sections><Section Action='Add'>";
  for (size_t i = 0; i <= kMaxNamespaces; ++i) xml += "<e xmlns:p" + std::to_string(i) + "='urn:x'>";
  xml += "<Server>s</Server>";
  for (size_t i = 0; i <= kMaxNamespaces; ++i) xml += "</e>";
  EXPECT_EQ(Check(xml + "</Section></Sections>").refusal, "too many namespace declarations");
}

TEST(ImportGuard, DocumentSizeLimited) {
  const std::string xml = "<Sections><Section Action='Add'><Server>s</Server></Section></Sections>";
  const std::string full = xml + std::string(kMaxBytes - xml.size(), '\n');
  EXPECT_EQ(Check(full).refusal, "");
  EXPECT_EQ(Check(full + "\n").refusal, "too large");
}

TEST(ImportGuard, EncodingsNamedOrRefused) {
  EXPECT_EQ(Check("<Sections/>").encoding, "UTF-8");
  for (const char *encoding : {"KOI8-R", "koi8-r", "windows-1251", "ISO-8859-5"}) {
    const ImportGuard::Verdict verdict =
        Check(std::string("<?xml version='1.0' encoding='") + encoding + "'?><Sections/>");
    EXPECT_EQ(verdict.refusal, "") << encoding;
    EXPECT_EQ(verdict.encoding, encoding);
  }
  // Encodings that can write '<' or '=' without its ASCII byte.
  EXPECT_EQ(Check("<?xml version='1.0' encoding='UTF-7'?><Sections/>").refusal, "unsupported encoding UTF-7");
  EXPECT_EQ(Check("<?xml version='1.0' encoding='UTF-16'?><Sections/>").refusal, "unsupported encoding UTF-16");
}

namespace {

class ImportGuardFile : public testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/import_guardXXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir = name;
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  struct Outcome {
    std::string failure;
    std::string bytes;
  };

  // Reads in a thread of its own, so that a read that blocks fails the test
  // instead of stalling it (the stuck thread is left behind).
  static std::optional<Outcome> ReadWithin(std::chrono::seconds limit, const std::string &path) {
    std::packaged_task<Outcome()> task([path] {
      Outcome outcome;
      outcome.failure = ImportGuard::ReadRegularFile(path, outcome.bytes);
      return outcome;
    });
    std::future<Outcome> outcome = task.get_future();
    std::thread(std::move(task)).detach();
    if (outcome.wait_for(limit) != std::future_status::ready) return std::nullopt;
    return outcome.get();
  }

  std::string dir;
};

}  // namespace

TEST_F(ImportGuardFile, OnlyRegularFilesAreRead) {
  const std::string fifo = dir + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string socket_path = dir + "/socket";
  const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  socket_path.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(bind(sock, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
  for (const std::string &path : {fifo, dir, std::string("/dev/null"), socket_path}) {
    const std::optional<Outcome> outcome = ReadWithin(std::chrono::seconds(10), path);
    ASSERT_TRUE(outcome) << path << " stalled the read";
    EXPECT_EQ(outcome->failure, "not a regular file") << path;
    EXPECT_EQ(outcome->bytes, "") << path;
  }
  close(sock);
  const std::string text = "<Sections/>";
  std::ofstream(dir + "/good.xml", std::ios::binary) << text;
  const std::optional<Outcome> good = ReadWithin(std::chrono::seconds(10), dir + "/good.xml");
  ASSERT_TRUE(good);
  EXPECT_EQ(good->failure, "");
  EXPECT_EQ(good->bytes, text);
}

// A huge file is read no further than the size limit needs.
TEST_F(ImportGuardFile, ReadingStopsPastTheSizeLimit) {
  const std::string path = dir + "/huge.xml";
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 64 * static_cast<off_t>(kMaxBytes)), 0);
  close(fd);
  std::string bytes;
  EXPECT_EQ(ImportGuard::ReadRegularFile(path, bytes), "");
  EXPECT_GT(bytes.size(), kMaxBytes);
  EXPECT_LT(bytes.size(), 2 * kMaxBytes);
  EXPECT_EQ(Check(bytes).refusal, "too large");
}
