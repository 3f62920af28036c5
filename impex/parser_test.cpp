#include "impex/parser.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <vector>

#include <unistd.h>

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
