#include "config/system_config.h"

#include <stdexcept>

#include "config/test_dir.h"
#include "impex/result_codes.h"

namespace {

DistinguishedName Server(const std::string &name, const std::string &cn = "") {
  DistinguishedName dn;
  dn.NAME = name;
  dn.CN = cn;
  return dn;
}

class SystemConfigTest : public ::testing::Test {
 protected:
  TestDir dir;
  std::string path = dir / "cfg";
  std::string templ = dir / "defconfig";

  SystemConfig Open(const std::string &text) {
    WriteFile(path, text);
    return SystemConfig(path, templ);
  }
};

TEST_F(SystemConfigTest, ConstructorCopiesTheTemplateOnce) {
  WriteFile(templ, Template());
  SystemConfig first(path, templ);
  EXPECT_EQ(ReadFile(path), Template());
  WriteFile(path, "<X>\n</X>\n");
  SystemConfig second(path, templ);
  EXPECT_EQ(ReadFile(path), "<X>\n</X>\n");
}

TEST_F(SystemConfigTest, MissingTemplateGivesAnEmptyDocument) {
  SystemConfig config(path, templ);
  EXPECT_EQ(ReadFile(path), "");
  EXPECT_EQ(config.AddServer(Server("s1")), 0);
  EXPECT_EQ(ReadFile(path), "<>\n\t<SERVERS>\n\t\t<SERVER>\n\t\t\t<NAME>s1</NAME>\n\t\t</SERVER>\n\t</SERVERS>\n</>\n");
}

TEST_F(SystemConfigTest, UnwritableLocationCreatesNothingAndLoadsFail) {
  SystemConfig config(dir / "missing/cfg", templ);
  EXPECT_THROW(config.GetRngType(), std::runtime_error);
  EXPECT_THROW(config.AddServer(Server("s1")), std::runtime_error);
}

TEST_F(SystemConfigTest, AddServerWritesNameThenTheNonEmptyFieldsInOrder) {
  SystemConfig config = Open(Template());
  DistinguishedName full;
  full.NAME = "gate";
  full.CN = "Gate CN";
  full.C = "RU";
  full.O = "Org";
  full.OU = "Unit";
  full.L = "Moscow";
  full.ST = "77";
  full.STREET = "Tverskaya 1";
  full.SN = "not stored";
  full.description = "not stored";
  full.other = "not stored";
  EXPECT_EQ(config.AddServer(full), 0);
  EXPECT_EQ(config.AddServer(Server("cn-only", "Only CN")), 0);
  std::string expected = Template();
  expected.replace(expected.find("\t<SERVERS>\n</SERVERS>\n"), 22,
                   "\t<SERVERS>\n"
                   "\t\t<SERVER>\n"
                   "\t\t\t<NAME>gate</NAME>\n"
                   "\t\t\t<CN>Gate CN</CN>\n"
                   "\t\t\t<C>RU</C>\n"
                   "\t\t\t<O>Org</O>\n"
                   "\t\t\t<OU>Unit</OU>\n"
                   "\t\t\t<L>Moscow</L>\n"
                   "\t\t\t<ST>77</ST>\n"
                   "\t\t\t<STREET>Tverskaya 1</STREET>\n"
                   "\t\t</SERVER>\n"
                   "\t\t<SERVER>\n"
                   "\t\t\t<NAME>cn-only</NAME>\n"
                   "\t\t\t<CN>Only CN</CN>\n"
                   "\t\t</SERVER>\n"
                   "\t</SERVERS>\n");
  EXPECT_EQ(ReadFile(path), expected);
}

TEST_F(SystemConfigTest, RefusedServersLeaveTheFileUntouched) {
  SystemConfig config = Open("<R><SERVERS><SERVER><NAME>s1</NAME></SERVER></SERVERS>"
                             "<SERVERS><SERVER><CN>x</CN><NAME>s2</NAME></SERVER></SERVERS></R>");
  const std::string before = ReadFile(path);
  const ino_t inode = Inode(path);
  EXPECT_EQ(config.AddServer(Server("s1")), ResultCode::kAlreadyExists);
  EXPECT_EQ(config.AddServer(Server("s2")), ResultCode::kAlreadyExists);  // in the second list
  EXPECT_EQ(config.AddServer(Server("")), ResultCode::kUnknownError);
  EXPECT_EQ(config.AddServer(Server("s3", "a</CN><NAME>s1")), ResultCode::kInvalidParameters);
  EXPECT_EQ(config.AddServer(Server("s3<")), ResultCode::kInvalidParameters);
  EXPECT_EQ(config.DelServer(Server("s9")), ResultCode::kServerNotFound);
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(Inode(path), inode);
}

TEST_F(SystemConfigTest, DuplicateCheckLooksAtTheFirstNameOnly) {
  SystemConfig config = Open("<R><SERVERS><SERVER><NAME>a</NAME><NAME>b</NAME></SERVER></SERVERS></R>");
  EXPECT_EQ(config.AddServer(Server("b")), 0);
  EXPECT_EQ(config.AddServer(Server("b")), ResultCode::kAlreadyExists);
}

TEST_F(SystemConfigTest, AddServerCreatesTheListAndUsesTheFirst) {
  SystemConfig config = Open("<R><RNG>BIO</RNG></R>");
  EXPECT_EQ(config.AddServer(Server("s1")), 0);
  EXPECT_EQ(ReadFile(path),
            "<R>\n\t<RNG>BIO</RNG>\n\t<SERVERS>\n\t\t<SERVER>\n\t\t\t<NAME>s1</NAME>\n"
            "\t\t</SERVER>\n\t</SERVERS>\n</R>\n");
  WriteFile(path, "<R><SERVERS><SERVER><NAME>a</NAME></SERVER></SERVERS><SERVERS>\n</SERVERS></R>");
  EXPECT_EQ(config.AddServer(Server("b")), 0);
  std::vector<DistinguishedName> servers;
  config.ListServers(servers);
  ASSERT_EQ(servers.size(), 2u);
  EXPECT_EQ(servers[1].NAME, "b");
  EXPECT_NE(ReadFile(path).find("\t<SERVERS>\n</SERVERS>\n"), std::string::npos);  // second stays empty
}

TEST_F(SystemConfigTest, DelServerRemovesTheNameFromEveryList) {
  SystemConfig config =
      Open("<R><SERVERS><SERVER><NAME>s</NAME></SERVER><SERVER><NAME>s</NAME></SERVER></SERVERS>"
           "<SERVERS><SERVER><NAME>s</NAME></SERVER><SERVER><NAME>t</NAME></SERVER></SERVERS></R>");
  EXPECT_EQ(config.DelServer(Server("s")), 0);
  // One per list: the second "s" of the first list remains.
  EXPECT_EQ(ReadFile(path),
            "<R>\n\t<SERVERS>\n\t\t<SERVER>\n\t\t\t<NAME>s</NAME>\n\t\t</SERVER>\n\t</SERVERS>\n"
            "\t<SERVERS>\n\t\t<SERVER>\n\t\t\t<NAME>t</NAME>\n\t\t</SERVER>\n\t</SERVERS>\n</R>\n");
  EXPECT_EQ(config.DelServer(Server("s")), 0);
  EXPECT_EQ(config.DelServer(Server("s")), ResultCode::kServerNotFound);
  EXPECT_EQ(config.DelServer(Server("t")), 0);
  // Emptied lists survive with a body of one newline.
  EXPECT_EQ(ReadFile(path), "<R>\n\t<SERVERS>\n</SERVERS>\n\t<SERVERS>\n</SERVERS>\n</R>\n");
}

TEST_F(SystemConfigTest, ListServersAppendsEveryServerInOrder) {
  SystemConfig config = Open(
      "<R><SERVERS><SERVER><NAME>a</NAME><O>Org</O><OU>U</OU><C>RU</C><L>l</L><ST>st</ST>"
      "<STREET>str</STREET><CN>cn</CN><CN>second</CN></SERVER><SERVER><CN>nameless</CN></SERVER>"
      "</SERVERS><SERVERS><SERVER><NAME>b</NAME></SERVER></SERVERS></R>");
  std::vector<DistinguishedName> servers(1);
  servers[0].NAME = "kept";
  config.ListServers(servers);
  ASSERT_EQ(servers.size(), 4u);
  EXPECT_EQ(servers[0].NAME, "kept");
  const DistinguishedName &a = servers[1];
  EXPECT_EQ(a.NAME, "a");
  EXPECT_EQ(a.CN, "cn");
  EXPECT_EQ(a.O, "Org");
  EXPECT_EQ(a.OU, "U");
  EXPECT_EQ(a.C, "RU");
  EXPECT_EQ(a.L, "l");
  EXPECT_EQ(a.ST, "st");
  EXPECT_EQ(a.STREET, "str");
  EXPECT_EQ(servers[2].NAME, "");
  EXPECT_EQ(servers[2].CN, "nameless");
  EXPECT_EQ(servers[3].NAME, "b");
}

TEST_F(SystemConfigTest, ListServersWithoutAListReadsOnly) {
  SystemConfig config = Open("<R><RNG>BIO</RNG></R>");
  std::vector<DistinguishedName> servers;
  config.ListServers(servers);
  EXPECT_TRUE(servers.empty());
  EXPECT_EQ(ReadFile(path), "<R><RNG>BIO</RNG></R>");
}

TEST_F(SystemConfigTest, RandomSourceIsTheBoardOnlyForItsThreeSpellings) {
  const std::pair<const char *, int> cases[] = {
      {"<R></R>", 0},
      {"<R><RNG>BIO</RNG></R>", 0},
      {"<R><RNG>bio</RNG></R>", 0},
      {"<R><RNG>TAVIK</RNG></R>", 1},
      {"<R><RNG>tavik</RNG></R>", 1},
      {"<R><RNG>Tavik</RNG></R>", 1},
      {"<R><RNG>TaVik</RNG></R>", 0},
      {"<R><RNG>TAVIK </RNG></R>", 0},
      {"<R><RNG>BIO </RNG></R>", 0},
      {"<R><RNG>TAVIK</RNG><RNG>BIO</RNG></R>", 1},  // the first one counts
  };
  for (const auto &[text, expected] : cases) EXPECT_EQ(Open(text).GetRngType(), expected) << text;
  std::filesystem::remove(path);
  EXPECT_EQ(SystemConfig(path, templ).GetRngType(), 0);  // created empty
}

}  // namespace
