#include "impex/parser.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "impex/import_guard.h"

using namespace UserInterface;

namespace {

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

using StringList = std::vector<std::pair<ParameterType, std::string>>;

// A record's string parameters in order, compared whole so that a failure
// shows them all.
StringList StringsOf(const Parser::_Record &r) {
  StringList out;
  for (const auto &p : r.strings) out.emplace_back(p.type, p.value);
  return out;
}

std::vector<std::pair<int, int>> Digitals(const Parser::_Record &r) {
  std::vector<std::pair<int, int>> out;
  for (const auto &d : r.digitals) out.emplace_back(d.type, d.value);
  return out;
}

std::string Account(const std::string &parameter) {
  return "<Sections><Section Action='Modify'><Account><Name>a</Name>" + parameter +
         "</Account></Section></Sections>";
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
  EXPECT_EQ(StringsOf(records[0]), (StringList{{PARAM_NAME, "work"},
                                                {PARAM_USER, "alice"},
                                                {PARAM_CERT_PATH, "/tmp/c.pem"},
                                                {PARAM_SERVER, "10.0.0.1"},
                                                {PARAM_NAME, "last"}}));
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
  EXPECT_EQ(StringsOf(records[0]), (StringList{{PARAM_CERT_TYPE, "CA"},
                                                {PARAM_SUBJECT_CN, "Test.*"},
                                                {PARAM_ISSUER_O, "O"},
                                                {PARAM_EXPIRED, "yes"}}));
  EXPECT_EQ(StringsOf(records[1]), (StringList{{PARAM_CERT_PATH, "/c"}, {PARAM_USER, "bob"}}));
}

TEST(Parser, ServerEntryNameFirst) {
  const auto records = ParseText(
      "<Sections><Section Action='Add'><Server subject_street='S' subject_cn='CN' subject_c='RU' "
      "subject_o='' other='x'>gate</Server><Server subject_cn='x'/></Section></Sections>");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].kind, Parser::Server);
  EXPECT_EQ(StringsOf(records[0]), (StringList{{PARAM_NAME, "gate"},
                                                {PARAM_SUBJECT_STREET, "S"},
                                                {PARAM_SUBJECT_CN, "CN"},
                                                {PARAM_SUBJECT_C, "RU"},
                                                {PARAM_SUBJECT_O, ""}}));
  // A server without text has no name.
  EXPECT_EQ(StringsOf(records[1]), (StringList{{PARAM_SUBJECT_CN, "x"}}));
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
  EXPECT_EQ(StringsOf(records[0]), (StringList{{PARAM_NAME, "work"},
                                                {PARAM_USER, "alice"},
                                                {PARAM_CERT_PATH, "/tmp/c.pem"},
                                                {PARAM_SERVER, "10.0.0.1"}}));
  // A user of blanks alone is no user.
  EXPECT_EQ(StringsOf(records[1]),
            (StringList{{PARAM_CERT_TYPE, "user"}, {PARAM_CERT_PATH, "/c.pem"}, {PARAM_SUBJECT_CN, " CN "}}));
  EXPECT_EQ(StringsOf(records[2]),
            (StringList{{PARAM_NAME, "gate"}, {PARAM_SUBJECT_CN, " gate.example.ru "}, {PARAM_SUBJECT_O, ""}}));
}

// What the guard refuses is the read failure, and nothing is parsed; what it
// lets through is read in the encoding it names.
TEST(Parser, ReadsOnlyWhatTheGuardLetsThrough) {
  const std::string xml = "<Sections><Section Action='Add'><Server>s</Server></Section></Sections>";
  const std::string full = xml + std::string(ImportGuard::kMaxBytes - xml.size(), '\n');
  EXPECT_EQ(ParseText(full).size(), 1u);
  EXPECT_EQ(FailureOf(full + "\n"), "too large");
  EXPECT_EQ(FailureOf("<?xml version='1.0' encoding='UTF-7'?>" + xml), "unsupported encoding UTF-7");
}

TEST(Parser, DeclaredEncodingsRead) {
  const std::string server = "<Sections><Section Action='Add'><Server>\xf0\xd2</Server></Section></Sections>";
  // "Пр" in KOI8-R; in windows-1251 the same bytes read "рТ".
  for (const auto &[encoding, name] :
       {std::pair{"KOI8-R", "Пр"}, {"koi8-r", "Пр"}, {"windows-1251", "рТ"}}) {
    const auto records = ParseText(std::string("<?xml version='1.0' encoding='") + encoding + "'?>" + server);
    ASSERT_EQ(records.size(), 1u) << encoding;
    EXPECT_EQ(records[0].strings.front().value, name) << encoding;
  }
  // A UTF-16 byte order mark changes nothing: the document is read as UTF-8.
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

  std::string Write(const std::string &name, const std::string &text) {
    const std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  std::string dir;
};

}  // namespace

TEST_F(ParserFile, UnreadableFilesNameTheReason) {
  Parser parser;
  EXPECT_EQ(parser.Parse(dir + "/absent.xml").ReadFailure(), "No such file or directory");
  EXPECT_EQ(parser.Parse(dir).ReadFailure(), "not a regular file");
  const std::string big = Write("big.xml", std::string(ImportGuard::kMaxBytes + 1, ' '));
  EXPECT_EQ(parser.Parse(big).ReadFailure(), "too large");
  EXPECT_TRUE(parser.Records().empty());
  const std::string good =
      Write("good.xml", "<Sections><Section Action='Add'><Server>s</Server></Section></Sections>");
  EXPECT_EQ(parser.Parse(good).Records().size(), 1u);
  EXPECT_EQ(parser.ReadFailure(), "");
}
