#include "impex/parser.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace UserInterface;

namespace {

struct S {
  ParameterType type;
  std::string value;
  bool operator==(const _StringParameter &p) const { return p.type == type && p.value == value; }
};

std::vector<Parser::_Record> ParseText(const std::string &xml) {
  Parser parser;
  parser.ParseMemory(xml.data(), static_cast<int>(xml.size()));
  return {parser.Records().begin(), parser.Records().end()};
}

std::string FailureOf(const std::string &xml) {
  Parser parser;
  parser.ParseMemory(xml.data(), static_cast<int>(xml.size()));
  EXPECT_TRUE(parser.Records().empty());
  return parser.ReadFailure();
}

std::vector<_StringParameter> Strings(const Parser::_Record &r) { return {r.strings.begin(), r.strings.end()}; }

std::vector<std::pair<int, int>> Digitals(const Parser::_Record &r) {
  std::vector<std::pair<int, int>> out;
  for (const auto &d : r.digitals) out.emplace_back(d.type, d.value);
  return out;
}

std::string Account(const std::string &parameter) {
  return "<Sections><Section Action='Modify'><Account><Name>a</Name>" + parameter +
         "</Account></Section></Sections>";
}

void ExpectString(const _StringParameter &p, ParameterType type, const std::string &value) {
  EXPECT_EQ(p.type, type);
  EXPECT_EQ(p.value, value);
}

}  // namespace

TEST(Parser, AccountEntryInDocumentOrder) {
  const auto records = ParseText(R"(<?xml version="1.0"?>
<SECTIONS><!-- c --><section action="ADD">
  <Account><NAME>work</NAME><User>alice</User><CertPath>/tmp/c.pem</CertPath>
    <Server>10.0.0.1</Server><Parameter sp="4433" lp="0" mtu="1999" lt="on" rol="off" du="on"
      dot="5" cti="abc" ctc="3" unknown="x"/><Name>last</Name><Other>y</Other></Account>
  <Account><Name>second</Name></Account>
</section></SECTIONS>)");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].action, Parser::Add);
  EXPECT_EQ(records[0].kind, Parser::Account);
  const auto s = Strings(records[0]);
  ASSERT_EQ(s.size(), 5u);
  ExpectString(s[0], PARAM_NAME, "work");
  ExpectString(s[1], PARAM_USER, "alice");
  ExpectString(s[2], PARAM_CERT_PATH, "/tmp/c.pem");
  ExpectString(s[3], PARAM_SERVER, "10.0.0.1");
  ExpectString(s[4], PARAM_NAME, "last");
  const std::vector<std::pair<int, int>> digitals = {
      {PARAM_SERVER_PORT, 4433}, {PARAM_LOCAL_PORT, 0},          {PARAM_MTU, 1999},
      {PARAM_LOG_TRAFFIC, 1},    {PARAM_RECONNECT_ON_LOSS, 0},   {PARAM_DISABLE_UNPROTECTED, 1},
      {PARAM_DISCONNECT_ON_TIMEOUT, 5}, {PARAM_CONNECT_TRY_INTERVAL, 0}, {PARAM_CONNECT_TRY_COUNT, 3}};
  EXPECT_EQ(Digitals(records[0]), digitals);
  EXPECT_EQ(records[1].action, Parser::Add);
  ASSERT_EQ(records[1].strings.size(), 1u);
}

TEST(Parser, ActionInAnyCaseOrInvalidSection) {
  for (const char *action : {"add", "ADD", "Del", "modify", "STORE"})
    EXPECT_EQ(ParseText(std::string("<Sections><Section Action='") + action +
                        "'><Server>s</Server></Section></Sections>")
                  .size(),
              1u);
  for (const char *section : {"<Section Action='Append'>", "<Section>", "<Section Action=''>"})
    EXPECT_THROW(ParseText(std::string("<Sections>") + section + "</Section></Sections>"),
                 std::runtime_error);
  // The first "Action" with a known value decides.
  const auto records = ParseText("<Sections><Section action='x' ACTION='del'><Server>s</Server>"
                                 "</Section></Sections>");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].action, Parser::Del);
}

TEST(Parser, ParameterRanges) {
  for (const char *ok : {"mtu='1999'", "mtu='0'", "sp='65535'", "ctc='2147483647'", "lt='off'"})
    EXPECT_NO_THROW(ParseText(Account(std::string("<Parameter ") + ok + "/>"))) << ok;
  for (const char *bad : {"mtu='2000'", "mtu='-1'", "sp='65536'", "lp='-5'", "lt='ON'", "rol='1'",
                          "du=''", "dot='-1'", "ctc='99999999999'", "cti='-99999999999'"})
    EXPECT_THROW(ParseText(Account(std::string("<Parameter ") + bad + "/>")), std::runtime_error) << bad;
  const auto records = ParseText(Account("<Parameter MTU='abc'/>"));
  EXPECT_EQ(Digitals(records.at(0)), (std::vector<std::pair<int, int>>{{PARAM_MTU, 0}}));
}

TEST(Parser, CertEntry) {
  const auto records = ParseText(R"(<Sections><Section Action="Del">
    <Cert Type="CA"><CertPath></CertPath><User/><Filter subject_cn="Test.*" issuer_o="O"
      expired="yes" subject_ou="ignored"/></Cert>
    <Cert Type="pem"><CertPath>/c</CertPath><User>bob</User></Cert></Section></Sections>)");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].kind, Parser::Cert);
  auto s = Strings(records[0]);
  ASSERT_EQ(s.size(), 4u);
  ExpectString(s[0], PARAM_CERT_TYPE, "CA");
  ExpectString(s[1], PARAM_SUBJECT_CN, "Test.*");
  ExpectString(s[2], PARAM_ISSUER_O, "O");
  ExpectString(s[3], PARAM_EXPIRED, "yes");
  s = Strings(records[1]);
  ASSERT_EQ(s.size(), 2u);
  ExpectString(s[0], PARAM_CERT_PATH, "/c");
  ExpectString(s[1], PARAM_USER, "bob");
}

TEST(Parser, ServerEntryNameFirst) {
  const auto records = ParseText(
      "<Sections><Section Action='Add'><Server subject_street='S' subject_cn='CN' subject_c='RU' "
      "subject_o='' other='x'>gate</Server><Server subject_cn='x'/></Section></Sections>");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].kind, Parser::Server);
  const auto s = Strings(records[0]);
  ASSERT_EQ(s.size(), 5u);
  ExpectString(s[0], PARAM_NAME, "gate");
  ExpectString(s[1], PARAM_SUBJECT_STREET, "S");
  ExpectString(s[2], PARAM_SUBJECT_CN, "CN");
  ExpectString(s[3], PARAM_SUBJECT_C, "RU");
  ExpectString(s[4], PARAM_SUBJECT_O, "");
  // A server without text has no name.
  ASSERT_EQ(records[1].strings.size(), 1u);
  EXPECT_EQ(records[1].strings.front().type, PARAM_SUBJECT_CN);
}

TEST(Parser, DocumentsWithoutRecords) {
  for (const char *xml : {"<Sections/>", "<Other><Section Action='Add'><Server>s</Server></Section></Other>",
                          "<Sections><Section Action='Add'>", "not xml", ""})
    EXPECT_TRUE(ParseText(xml).empty()) << xml;
  Parser parser;
  EXPECT_TRUE(parser.Parse("/nonexistent/import.xml").Records().empty());
}

TEST(Parser, ParseReplacesEarlierRecords) {
  char path[] = "/tmp/parser_testXXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const std::string xml = "<Sections><Section Action='Add'><Server>s</Server></Section></Sections>";
  ASSERT_EQ(write(fd, xml.data(), xml.size()), static_cast<ssize_t>(xml.size()));
  close(fd);
  Parser parser;
  EXPECT_EQ(parser.Parse(path).Records().size(), 1u);
  EXPECT_EQ(parser.Parse(path).Records().size(), 1u);
  unlink(path);
}

TEST(Parser, ExternalEntitiesAreNeverLoaded) {
  char path[] = "/tmp/parser_secretXXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "SECRET", 6), 6);
  close(fd);
  const std::string xml = std::string("<?xml version='1.0'?><!DOCTYPE Sections [<!ENTITY x SYSTEM 'file://") +
                          path + "'><!ENTITY net SYSTEM 'http://127.0.0.1:9/x'>]>"
                          "<Sections><Section Action='Add'><Server>&x;</Server>"
                          "<Server>&net;</Server></Section></Sections>";
  const auto records = ParseText(xml);
  ASSERT_EQ(records.size(), 2u);
  for (const auto &record : records)
    for (const auto &s : record.strings) EXPECT_EQ(s.value.find("SECRET"), std::string::npos);
  unlink(path);
}

TEST(Parser, NestedInternalEntitiesStayUnexpanded) {
  std::string xml = "<?xml version='1.0'?><!DOCTYPE Sections [<!ENTITY a0 'xxxxxxxxxx'>";
  for (int i = 1; i < 10; ++i) {
    std::string prev = "&a" + std::to_string(i - 1) + ";";
    xml += "<!ENTITY a" + std::to_string(i) + " '";
    for (int k = 0; k < 10; ++k) xml += prev;
    xml += "'>";
  }
  xml += "]><Sections><Section Action='Add'><Server>&a9;</Server></Section></Sections>";
  const auto records = ParseText(xml);
  for (const auto &record : records)
    for (const auto &s : record.strings) EXPECT_LT(s.value.size(), 100u);
}

TEST(Parser, ElementTextTrimmedAttributeValuesAsWritten) {
  const auto records = ParseText(
      "<Sections><Section Action='Add'>\n"
      "  <Account>\n    <Name>\n      work\n    </Name>\n    <User>\talice\r\n</User>\n"
      "    <CertPath> /tmp/c.pem </CertPath>\n    <Server>\n      10.0.0.1\n    </Server>\n  </Account>\n"
      "  <Cert Type='user'><CertPath>\n    /c.pem\n  </CertPath><User> \t </User>"
      "<Filter subject_cn=' CN '/></Cert>\n"
      "  <Server subject_cn=' gate.example.ru ' subject_o=''>\n    gate\n  </Server>\n"
      "</Section></Sections>");
  ASSERT_EQ(records.size(), 3u);
  auto s = Strings(records[0]);
  ASSERT_EQ(s.size(), 4u);
  ExpectString(s[0], PARAM_NAME, "work");
  ExpectString(s[1], PARAM_USER, "alice");
  ExpectString(s[2], PARAM_CERT_PATH, "/tmp/c.pem");
  ExpectString(s[3], PARAM_SERVER, "10.0.0.1");
  // A user of blanks alone is no user.
  s = Strings(records[1]);
  ASSERT_EQ(s.size(), 3u);
  ExpectString(s[0], PARAM_CERT_TYPE, "user");
  ExpectString(s[1], PARAM_CERT_PATH, "/c.pem");
  ExpectString(s[2], PARAM_SUBJECT_CN, " CN ");
  s = Strings(records[2]);
  ASSERT_EQ(s.size(), 3u);
  ExpectString(s[0], PARAM_NAME, "gate");
  ExpectString(s[1], PARAM_SUBJECT_CN, " gate.example.ru ");
  ExpectString(s[2], PARAM_SUBJECT_O, "");
}

namespace {

// A server with `count` attributes, the last its subject_cn. Extra goes
// first into the tag.
std::string ServerWithAttributes(size_t count, const std::string &extra = "") {
  std::string xml = "<?xml version='1.0'?><Sections><Section Action='Add'><Server " + extra;
  for (size_t i = 1; i < count; ++i) xml += " a" + std::to_string(i) + "=''";
  return xml + " subject_cn='x'>gate</Server></Section></Sections>";
}

}  // namespace

TEST(Parser, AttributesOnOneElementLimited) {
  const auto records = ParseText(ServerWithAttributes(Parser::kMaxAttributes));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].strings.size(), 2u);
  EXPECT_EQ(FailureOf(ServerWithAttributes(Parser::kMaxAttributes + 1)),
            "too many attributes on one element");
  // Neither a '>' nor a stray quote in a value ends the count early.
  EXPECT_EQ(FailureOf(ServerWithAttributes(Parser::kMaxAttributes, "q='\">' ")),
            "too many attributes on one element");
  // Defaults declared for an element count for it as well.
  std::string defaults = "<!DOCTYPE Sections [<!ATTLIST Server";
  for (size_t i = 0; i <= Parser::kMaxAttributes; ++i) defaults += " d" + std::to_string(i) + " CDATA 'v'";
  defaults += ">]><Sections><Section Action='Add'><Server>s</Server></Section></Sections>";
  EXPECT_EQ(FailureOf(defaults), "too many attributes on one element");
}

TEST(Parser, NamespaceDeclarationsLimited) {
  std::string xml = "<Sections><Section Action='Add'>";
  for (size_t i = 0; i <= Parser::kMaxNamespaces; ++i) xml += "<e xmlns:p" + std::to_string(i) + "='urn:x'>";
  xml += "<Server>s</Server>";
  for (size_t i = 0; i <= Parser::kMaxNamespaces; ++i) xml += "</e>";
  EXPECT_EQ(FailureOf(xml + "</Section></Sections>"), "too many namespace declarations");
}

TEST(Parser, DocumentSizeLimited) {
  const std::string xml = "<Sections><Section Action='Add'><Server>s</Server></Section></Sections>";
  const std::string full = xml + std::string(Parser::kMaxBytes - xml.size(), '\n');
  EXPECT_EQ(ParseText(full).size(), 1u);
  EXPECT_EQ(FailureOf(full + "\n"), "too large");
}

TEST(Parser, EncodingsReadOrRefused) {
  const std::string server = "<Sections><Section Action='Add'><Server>\xf0\xd2</Server></Section></Sections>";
  // "Пр" in KOI8-R; in windows-1251 the same bytes read "рТ".
  for (const auto &[encoding, name] :
       {std::pair{"KOI8-R", "Пр"}, {"koi8-r", "Пр"}, {"windows-1251", "рТ"}}) {
    const auto records = ParseText(std::string("<?xml version='1.0' encoding='") + encoding + "'?>" + server);
    ASSERT_EQ(records.size(), 1u) << encoding;
    EXPECT_EQ(records[0].strings.front().value, name) << encoding;
  }
  // Encodings that can write '<' or '=' without its ASCII byte.
  EXPECT_EQ(FailureOf("<?xml version='1.0' encoding='UTF-7'?><Sections/>"), "unsupported encoding UTF-7");
  EXPECT_EQ(FailureOf("<?xml version='1.0' encoding='UTF-16'?><Sections/>"), "unsupported encoding UTF-16");
  const std::string utf16("\xff\xfe<\0S\0/\0>\0", 10);
  EXPECT_EQ(FailureOf(utf16).rfind("not well-formed XML (line 1: ", 0), 0u);
}

TEST(Parser, NotWellFormedNamesTheLine) {
  EXPECT_EQ(FailureOf("<Sections>\n<Section>\n</Sections>"),
            "not well-formed XML (line 3: Opening and ending tag mismatch: Section line 2 and Sections)");
}

namespace {

class ParserFile : public testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/parser_fileXXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir = name;
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  struct Outcome {
    size_t records;
    std::string failure;
  };

  // Parses in a thread of its own, so that a read that blocks fails the test
  // instead of stalling it (the stuck thread is left behind).
  static std::optional<Outcome> ParseWithin(std::chrono::seconds limit, const std::string &path) {
    std::packaged_task<Outcome()> task([path] {
      Parser parser;
      parser.Parse(path);
      return Outcome{parser.Records().size(), parser.ReadFailure()};
    });
    std::future<Outcome> outcome = task.get_future();
    std::thread(std::move(task)).detach();
    if (outcome.wait_for(limit) != std::future_status::ready) return std::nullopt;
    return outcome.get();
  }

  std::string Write(const std::string &name, const std::string &text) {
    const std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  std::string dir;
};

}  // namespace

TEST_F(ParserFile, OnlyRegularFilesAreRead) {
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
    const std::optional<Outcome> outcome = ParseWithin(std::chrono::seconds(10), path);
    ASSERT_TRUE(outcome) << path << " stalled the parser";
    EXPECT_EQ(outcome->records, 0u) << path;
    EXPECT_EQ(outcome->failure, "not a regular file") << path;
  }
  close(sock);
}

TEST_F(ParserFile, UnreadableFilesNameTheReason) {
  Parser parser;
  EXPECT_EQ(parser.Parse(dir + "/absent.xml").ReadFailure(), "No such file or directory");
  const std::string big = Write("big.xml", std::string(Parser::kMaxBytes + 1, ' '));
  EXPECT_EQ(parser.Parse(big).ReadFailure(), "too large");
  EXPECT_TRUE(parser.Records().empty());
  const std::string good =
      Write("good.xml", "<Sections><Section Action='Add'><Server>s</Server></Section></Sections>");
  EXPECT_EQ(parser.Parse(good).Records().size(), 1u);
  EXPECT_EQ(parser.ReadFailure(), "");
}
