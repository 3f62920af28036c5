#include "config/config.h"

#include <cstring>
#include <stdexcept>

#include "config/test_dir.h"
#include "impex/result_codes.h"

namespace {

class ConfigTest : public ::testing::Test {
 protected:
  TestDir dir;
  std::string path = dir / "user.cfg";

  // A user document holding `body` below its root, beside an empty system one.
  Config Open(const std::string &body) {
    WriteFile(path, "<YRK>" + body + "</YRK>");
    return Config(path, dir / "cfg", dir / "defconfig");
  }

  static _Account Named(const std::string &name) {
    _Account account;
    account.name = name;
    return account;
  }
};

void ExpectDefaults(const YrkParamsStruct &p) {
  EXPECT_EQ(p.reserved, 0u);
  EXPECT_EQ(p.server_ip, 0u);
  EXPECT_EQ(p.local_ip, 0u);
  EXPECT_EQ(p.server_port, 4433);
  EXPECT_EQ(p.local_port, 7500);
  EXPECT_EQ(p.mtu, 1450);
  EXPECT_EQ(p.log_traffic, 0);
  EXPECT_EQ(p.connect_try_count, 3);
  EXPECT_EQ(p.connect_try_interval, 10);
  EXPECT_EQ(p.reconnect_on_loss, 1);
  EXPECT_EQ(p.disconnect_on_timeout, 0);
  EXPECT_EQ(p.disable_unprotected, 0);
  EXPECT_EQ(p.def_account, "");
  EXPECT_EQ(p.key, "RUTOKEN");
  EXPECT_EQ(p.user_cert_dir, ".yrk/cert/user");
  EXPECT_EQ(p.ca_dir, "/etc/yrk/cert/ca");
  EXPECT_EQ(p.crl_dir, "/etc/yrk/cert/crl");
  EXPECT_EQ(p.log_size_limit, 10485760u);
}

TEST_F(ConfigTest, ParametersDefaultWithoutAnElementAndInTheTemplate) {
  YrkParamsStruct params;
  ExpectDefaults(params);
  Open("<ACCOUNTS>\n</ACCOUNTS>").GetParams(params);
  ExpectDefaults(params);

  WriteFile(path, Template());
  YrkParamsStruct from_template;
  Config(path, dir / "cfg", dir / "defconfig").GetParams(from_template);
  ExpectDefaults(from_template);
}

TEST_F(ConfigTest, ParametersAcceptTheirRangesAndIgnoreTheRest) {
  YrkParamsStruct p;
  Open("<PARAMETERS><SERVER_ADDRESS>  10.1.2.3</SERVER_ADDRESS><SERVER_PORT>0</SERVER_PORT>"
       "<LOCAL_ADDRESS>         *.*.*.*</LOCAL_ADDRESS><LOCAL_PORT>65536</LOCAL_PORT>"
       "<MTU>-5</MTU><LOG_TRAFFIC>7</LOG_TRAFFIC><CONNECT_TRY_COUNT>0</CONNECT_TRY_COUNT>"
       "<CONNECT_TRY_INTERVAL>0</CONNECT_TRY_INTERVAL><RECONNECT_ON_LOSS>2</RECONNECT_ON_LOSS>"
       "<DISCONNECT_ON_TIMEOUT>-1</DISCONNECT_ON_TIMEOUT><DISABLE_UNPROTECTED> 12abc"
       "</DISABLE_UNPROTECTED><DEF_ACCOUNT> main </DEF_ACCOUNT><KEY>/home/u/key</KEY>"
       "</PARAMETERS>")
      .GetParams(p);
  EXPECT_EQ(p.server_ip, 0x0a010203u);
  EXPECT_EQ(p.server_port, 0);             // 0 is a valid global port
  EXPECT_EQ(p.local_ip, 0u);               // "*.*.*.*" does not parse: prior value
  EXPECT_EQ(p.local_port, 7500);           // out of range
  EXPECT_EQ(p.mtu, -5);                    // taken as it is
  EXPECT_EQ(p.log_traffic, 0);             // anything but 1 is 0
  EXPECT_EQ(p.connect_try_count, 3);       // must be positive
  EXPECT_EQ(p.connect_try_interval, 0);
  EXPECT_EQ(p.reconnect_on_loss, 1);       // only 0 or 1
  EXPECT_EQ(p.disconnect_on_timeout, 0);   // negative: ignored
  EXPECT_EQ(p.disable_unprotected, 12);    // atoi reading
  EXPECT_EQ(p.def_account, " main ");      // raw text
  EXPECT_EQ(p.key, "/home/u/key");
}

TEST_F(ConfigTest, OutOfRangeNumbersDoNotWrapIntoRange) {
  YrkParamsStruct p;
  p.log_traffic = 1;
  Open("<PARAMETERS><SERVER_PORT>4294971729</SERVER_PORT><LOG_TRAFFIC>4294967297</LOG_TRAFFIC>"
       "<MTU>-99999999999</MTU></PARAMETERS>")
      .GetParams(p);
  EXPECT_EQ(p.server_port, 4433);
  EXPECT_EQ(p.log_traffic, 0);
  EXPECT_EQ(p.mtu, INT32_MIN);
}

TEST_F(ConfigTest, LaterParameterElementsOverrideAndTheFirstKeyCounts) {
  YrkParamsStruct p;
  Open("<PARAMETERS><MTU>1000</MTU><MTU>1100</MTU><LOCAL_PORT>1</LOCAL_PORT></PARAMETERS>"
       "<PARAMETERS><MTU>1200</MTU></PARAMETERS>")
      .GetParams(p);
  EXPECT_EQ(p.mtu, 1200);
  EXPECT_EQ(p.local_port, 1);
}

TEST_F(ConfigTest, SetParamsOfTheDefaultsOnTheTemplate) {
  WriteFile(path, Template());
  Config(path, dir / "cfg", dir / "defconfig").SetParams(YrkParamsStruct());
  std::string expected = Template();
  expected.insert(expected.find("\t\t<KEY>"), "\t\t<DEF_ACCOUNT></DEF_ACCOUNT>\n");
  EXPECT_EQ(ReadFile(path), expected);
}

TEST_F(ConfigTest, SetParamsRewritesTheFirstElementOnly) {
  Config config = Open("<PARAMETERS><MTU>1</MTU><OLD>x</OLD></PARAMETERS><PARAMETERS><MTU>2</MTU>"
                       "</PARAMETERS>");
  YrkParamsStruct p;
  p.server_ip = 0xc0a80101;
  p.local_ip = 0x0a000001;
  p.server_port = 65535;
  p.mtu = -1;
  p.disable_unprotected = 1;
  p.def_account = "work";
  p.key = "";
  config.SetParams(p);
  EXPECT_EQ(ReadFile(path),
            "<YRK>\n"
            "\t<PARAMETERS>\n"
            "\t\t<SERVER_ADDRESS>     192.168.1.1</SERVER_ADDRESS>\n"
            "\t\t<SERVER_PORT>65535</SERVER_PORT>\n"
            "\t\t<LOCAL_ADDRESS>        10.0.0.1</LOCAL_ADDRESS>\n"
            "\t\t<LOCAL_PORT>7500</LOCAL_PORT>\n"
            "\t\t<MTU>-1</MTU>\n"
            "\t\t<LOG_TRAFFIC>0</LOG_TRAFFIC>\n"
            "\t\t<CONNECT_TRY_COUNT>3</CONNECT_TRY_COUNT>\n"
            "\t\t<CONNECT_TRY_INTERVAL>10</CONNECT_TRY_INTERVAL>\n"
            "\t\t<RECONNECT_ON_LOSS>1</RECONNECT_ON_LOSS>\n"
            "\t\t<DISCONNECT_ON_TIMEOUT>0</DISCONNECT_ON_TIMEOUT>\n"
            "\t\t<DISABLE_UNPROTECTED>1</DISABLE_UNPROTECTED>\n"
            "\t\t<DEF_ACCOUNT>work</DEF_ACCOUNT>\n"
            "\t\t<KEY></KEY>\n"
            "\t</PARAMETERS>\n"
            "\t<PARAMETERS>\n"
            "\t\t<MTU>2</MTU>\n"
            "\t</PARAMETERS>\n"
            "</YRK>\n");
  YrkParamsStruct back;
  config.GetParams(back);
  EXPECT_EQ(back.server_ip, 0xc0a80101u);
  EXPECT_EQ(back.local_ip, 0x0a000001u);
  EXPECT_EQ(back.mtu, 2);           // the later element still overrides
  EXPECT_EQ(back.key, "RUTOKEN");   // an empty value does not survive the load
}

TEST_F(ConfigTest, SetParamsCreatesTheElementAndRefusesUnstorableText) {
  Config config = Open("");
  YrkParamsStruct p;
  p.key = "a</KEY><MTU>1";
  EXPECT_THROW(config.SetParams(p), std::runtime_error);
  EXPECT_EQ(ReadFile(path), "<YRK></YRK>");
  config.SetParams(YrkParamsStruct());
  EXPECT_NE(ReadFile(path).find("<YRK>\n\t<PARAMETERS>\n\t\t<SERVER_ADDRESS>"), std::string::npos);
}

_Account FullAccount() {
  _Account a;
  a.name = "office";
  a.cert = "000a";
  a.user = "alice";
  a.conn.server_address = "10.0.0.1";
  a.conn.server_ip = 0x0a000001;
  a.conn.server_port = 443;
  a.conn.local_ip = 0;
  a.conn.local_port = 0;
  a.conn.mtu = 1400;
  a.conn.log_traffic = 1;
  a.conn.connect_try_count = 5;
  a.conn.connect_try_interval = 0;
  a.conn.reconnect_on_loss = 0;
  a.conn.disconnect_on_timeout = 30;
  a.conn.disable_unprotected = 1;
  a.mask = 0x1fff;
  return a;
}

const char kFullAccount[] =
    "\t\t<ACCOUNT>\n"
    "\t\t\t<NAME>office</NAME>\n"
    "\t\t\t<CERT>000a</CERT>\n"
    "\t\t\t<USER>alice</USER>\n"
    "\t\t\t<SERVER_ADDRESS>10.0.0.1</SERVER_ADDRESS>\n"
    "\t\t\t<SERVER_PORT>443</SERVER_PORT>\n"
    "\t\t\t<LOCAL_ADDRESS>         *.*.*.*</LOCAL_ADDRESS>\n"
    "\t\t\t<LOCAL_PORT>0</LOCAL_PORT>\n"
    "\t\t\t<MTU>1400</MTU>\n"
    "\t\t\t<LOG_TRAFFIC>1</LOG_TRAFFIC>\n"
    "\t\t\t<CONNECT_TRY_COUNT>5</CONNECT_TRY_COUNT>\n"
    "\t\t\t<CONNECT_TRY_INTERVAL>0</CONNECT_TRY_INTERVAL>\n"
    "\t\t\t<RECONNECT_ON_LOSS>0</RECONNECT_ON_LOSS>\n"
    "\t\t\t<DISCONNECT_ON_TIMEOUT>30</DISCONNECT_ON_TIMEOUT>\n"
    "\t\t\t<DISABLE_UNPROTECTED>1</DISABLE_UNPROTECTED>\n"
    "\t\t</ACCOUNT>\n";

TEST_F(ConfigTest, AddAccountWritesTheKeysInOrder) {
  Config config = Open("");
  ASSERT_EQ(config.AddAccount(FullAccount()), 0);
  EXPECT_EQ(ReadFile(path), std::string("<YRK>\n\t<ACCOUNTS>\n") + kFullAccount + "\t</ACCOUNTS>\n</YRK>\n");
}

TEST_F(ConfigTest, AddAccountWritesOnlyWhatTheMaskSays) {
  Config config = Open("<ACCOUNTS>\n</ACCOUNTS>");
  _Account a = FullAccount();
  a.cert.clear();  // bit set, nothing to write
  a.mask = Config::MASK_CERT | Config::MASK_USER | Config::MASK_MTU;
  ASSERT_EQ(config.AddAccount(a), 0);
  EXPECT_EQ(ReadFile(path),
            "<YRK>\n\t<ACCOUNTS>\n\t\t<ACCOUNT>\n\t\t\t<NAME>office</NAME>\n\t\t\t<USER>alice</USER>\n"
            "\t\t\t<MTU>1400</MTU>\n\t\t</ACCOUNT>\n\t</ACCOUNTS>\n</YRK>\n");
}

TEST_F(ConfigTest, RefusedAccountsLeaveTheFileUntouched) {
  Config config = Open("<ACCOUNTS><ACCOUNT><NAME>a</NAME></ACCOUNT></ACCOUNTS>"
                       "<ACCOUNTS><ACCOUNT><NAME>x</NAME><NAME>b</NAME></ACCOUNT></ACCOUNTS>");
  const std::string before = ReadFile(path);
  EXPECT_EQ(config.AddAccount(Named("a")), ResultCode::kAlreadyExists);
  EXPECT_EQ(config.AddAccount(Named("b")), ResultCode::kAlreadyExists);  // any name of any list
  _Account bad = Named("c");
  bad.conn.server_address = "1.2.3.4</SERVER_ADDRESS><USER>root";
  bad.mask = Config::MASK_SERVER_ADDRESS;
  EXPECT_EQ(config.AddAccount(bad), ResultCode::kInvalidParameters);
  EXPECT_EQ(config.AddAccount(Named("c<")), ResultCode::kInvalidParameters);
  EXPECT_EQ(ReadFile(path), before);
}

TEST_F(ConfigTest, GetAccountInheritsTheGlobalsWithoutMaskBits) {
  Config config = Open("<PARAMETERS><MTU>1300</MTU><SERVER_PORT>9000</SERVER_PORT></PARAMETERS>"
                       "<ACCOUNTS><ACCOUNT><NAME>a</NAME><SERVER_PORT>0</SERVER_PORT>"
                       "<LOG_TRAFFIC>7</LOG_TRAFFIC><LOCAL_ADDRESS>         *.*.*.*</LOCAL_ADDRESS>"
                       "<LOCAL_PORT>65535</LOCAL_PORT><SERVER_ADDRESS>vpn.example.org</SERVER_ADDRESS>"
                       "</ACCOUNT></ACCOUNTS>");
  _Account a = Named("a");
  ASSERT_EQ(config.GetAccount(a), 0);
  EXPECT_EQ(a.conn.mtu, 1300);
  EXPECT_EQ(a.conn.server_port, 9000);  // 0 is no account port
  EXPECT_EQ(a.conn.log_traffic, 0);
  EXPECT_EQ(a.conn.local_ip, 0u);
  EXPECT_EQ(a.conn.local_port, 65535);
  EXPECT_EQ(a.conn.server_address, "vpn.example.org");  // a host name: text only
  EXPECT_EQ(a.conn.server_ip, 0u);
  EXPECT_EQ(a.mask, Config::MASK_LOCAL_PORT);
}

TEST_F(ConfigTest, GetAccountReadsBackWhatAddAccountWrote) {
  Config config = Open("<PARAMETERS><LOCAL_ADDRESS>192.168.0.9</LOCAL_ADDRESS></PARAMETERS>");
  ASSERT_EQ(config.AddAccount(FullAccount()), 0);
  _Account a = Named("office");
  ASSERT_EQ(config.GetAccount(a), 0);
  const _Account full = FullAccount();
  EXPECT_EQ(a.cert, "000a");
  EXPECT_EQ(a.user, "alice");
  EXPECT_EQ(a.conn.server_ip, full.conn.server_ip);
  EXPECT_EQ(a.conn.local_ip, 0xc0a80009u);  // written as "*.*.*.*": inherited
  EXPECT_EQ(a.conn.local_port, 7500);       // written as 0: inherited
  // The two zero-valued fields come back unset; everything else as written.
  EXPECT_EQ(a.mask, 0x1fffu & ~uint32_t{Config::MASK_LOCAL_ADDRESS | Config::MASK_LOCAL_PORT});

  // The block for the daemon: 44 bytes, little-endian, fields at fixed offsets.
  unsigned char block[sizeof(session_params)];
  std::memcpy(block, static_cast<const session_params *>(&a.conn), sizeof block);
  const unsigned char expected[44] = {
      0, 0, 0, 0,           1, 0, 0, 10,         9, 0, 0xa8, 0xc0,      0xbb, 0x01, 0x4c, 0x1d,
      0x78, 0x05, 0, 0,     1, 0, 0, 0,          5, 0, 0, 0,            0, 0, 0, 0,
      0, 0, 0, 0,           30, 0, 0, 0,         1, 0, 0, 0};
  EXPECT_EQ(std::memcmp(block, expected, sizeof block), 0);
}

TEST_F(ConfigTest, GetAccountLookupRules) {
  Config none = Open("<PARAMETERS><MTU>1</MTU></PARAMETERS>");
  _Account a = Named("x");
  EXPECT_EQ(none.GetAccount(a), -1);

  Config one = Open("<ACCOUNTS><ACCOUNT><NAME>solo</NAME><MTU>5</MTU></ACCOUNT></ACCOUNTS>");
  _Account unnamed = Named("");
  ASSERT_EQ(one.GetAccount(unnamed), 0);  // the lone account
  EXPECT_EQ(unnamed.name, "");
  EXPECT_EQ(unnamed.conn.mtu, 5);
  _Account missing = Named("other");
  EXPECT_EQ(one.GetAccount(missing), ResultCode::kAccountNotFound);

  Config two = Open("<ACCOUNTS><ACCOUNT><NAME>a</NAME></ACCOUNT><ACCOUNT><NAME>b</NAME></ACCOUNT>"
                    "<ACCOUNT><MTU>9</MTU></ACCOUNT></ACCOUNTS>");
  _Account ambiguous = Named("");
  EXPECT_EQ(two.GetAccount(ambiguous), ResultCode::kAccountNotFound);

  Config nameless = Open("<ACCOUNTS><ACCOUNT><MTU>9</MTU></ACCOUNT></ACCOUNTS>");
  _Account any = Named("");
  EXPECT_EQ(nameless.GetAccount(any), ResultCode::kAccountNotFound);  // an account without NAME never matches

  Config later = Open("<ACCOUNTS><ACCOUNT><NAME>d</NAME><NAME>alias</NAME><MTU>1</MTU></ACCOUNT>"
                      "<ACCOUNT><NAME>alias</NAME><MTU>2</MTU></ACCOUNT></ACCOUNTS>");
  _Account alias = Named("alias");
  ASSERT_EQ(later.GetAccount(alias), 0);
  EXPECT_EQ(alias.conn.mtu, 1);  // any of its names, first account wins
}

TEST_F(ConfigTest, ModifyAccountKeepsStoredKeysAndMovesTheAccountLast) {
  Config config = Open("<ACCOUNTS>\n</ACCOUNTS>");
  ASSERT_EQ(config.AddAccount(FullAccount()), 0);
  _Account other = Named("other");
  ASSERT_EQ(config.AddAccount(other), 0);
  _Account change = Named("office");
  change.conn.mtu = 1000;
  change.mask = Config::MASK_MTU;
  ASSERT_EQ(config.ModifyAccount(change), 0);
  std::string account = kFullAccount;
  account.replace(account.find("<MTU>1400"), 9, "<MTU>1000");
  // Zero-valued local address and port read back as unset, so they go.
  for (const char *key : {"\t\t\t<LOCAL_ADDRESS>", "\t\t\t<LOCAL_PORT>"}) {
    const size_t line = account.find(key);
    account.erase(line, account.find('\n', line) + 1 - line);
  }
  EXPECT_EQ(ReadFile(path), "<YRK>\n\t<ACCOUNTS>\n\t\t<ACCOUNT>\n\t\t\t<NAME>other</NAME>\n\t\t</ACCOUNT>\n" +
                                account + "\t</ACCOUNTS>\n</YRK>\n");
}

TEST_F(ConfigTest, ModifyAccountKeepsAHostName) {
  Config config = Open("<ACCOUNTS><ACCOUNT><NAME>a</NAME><SERVER_ADDRESS>vpn.example.org"
                       "</SERVER_ADDRESS></ACCOUNT></ACCOUNTS>");
  _Account change = Named("a");
  change.conn.mtu = 1000;
  change.mask = Config::MASK_MTU;
  ASSERT_EQ(config.ModifyAccount(change), 0);
  _Account back = Named("a");
  ASSERT_EQ(config.GetAccount(back), 0);
  EXPECT_EQ(back.conn.server_address, "vpn.example.org");
}

TEST_F(ConfigTest, FailedModifyAccountChangesNothing) {
  Config config = Open("<ACCOUNTS><ACCOUNT><NAME>a</NAME><MTU>5</MTU></ACCOUNT></ACCOUNTS>");
  const std::string before = ReadFile(path);
  _Account unknown = Named("b");
  EXPECT_EQ(config.ModifyAccount(unknown), ResultCode::kAccountNotFound);
  _Account unnamed = Named("");  // would match the lone account by lookup rules
  EXPECT_EQ(config.ModifyAccount(unnamed), ResultCode::kAccountNotFound);
  _Account bad = Named("a");
  bad.user = "<x>";
  bad.mask = Config::MASK_USER;
  EXPECT_EQ(config.ModifyAccount(bad), ResultCode::kInvalidParameters);
  EXPECT_EQ(ReadFile(path), before);
  EXPECT_EQ(Open("<PARAMETERS>\n</PARAMETERS>").ModifyAccount(unknown), ResultCode::kAccountNotFound);
}

TEST_F(ConfigTest, DelAccountRemovesTheFirstOfEachListAndAlwaysStores) {
  Config config = Open("<ACCOUNTS><ACCOUNT><NAME>a</NAME><MTU>1</MTU></ACCOUNT><ACCOUNT><NAME>a</NAME>"
                       "<MTU>2</MTU></ACCOUNT></ACCOUNTS><ACCOUNTS><ACCOUNT><NAME>b</NAME><NAME>a</NAME>"
                       "</ACCOUNT></ACCOUNTS>");
  EXPECT_EQ(config.DelAccount(Named("a")), 0);
  EXPECT_EQ(ReadFile(path),
            "<YRK>\n\t<ACCOUNTS>\n\t\t<ACCOUNT>\n\t\t\t<NAME>a</NAME>\n\t\t\t<MTU>2</MTU>\n"
            "\t\t</ACCOUNT>\n\t</ACCOUNTS>\n\t<ACCOUNTS>\n</ACCOUNTS>\n</YRK>\n");
  EXPECT_EQ(config.DelAccount(Named("zzz")), ResultCode::kAccountNotFound);

  Config bare = Open("<PARAMETERS><MTU>1</MTU></PARAMETERS>");
  EXPECT_EQ(bare.DelAccount(Named("a")), ResultCode::kAccountNotFound);
  EXPECT_EQ(ReadFile(path),
            "<YRK>\n\t<PARAMETERS>\n\t\t<MTU>1</MTU>\n\t</PARAMETERS>\n\t<ACCOUNTS>\n</ACCOUNTS>\n</YRK>\n");
}

TEST_F(ConfigTest, DamagedDocumentIsNotRewrittenWithoutItsUnreadPart) {
  // A mistyped tag in the list hides the accounts after it; writing the list
  // back would drop them. Changes fail and the file stays as it is.
  Config config = Open("<ACCOUNTS><ACCOUNT><NAME>a</NAME></ACCOUNT><ACCOUN><NAME>b</NAME>"
                       "</ACCOUNT><ACCOUNT><NAME>c</NAME></ACCOUNT></ACCOUNTS>");
  const std::string before = ReadFile(path);
  _Account c = Named("c");
  EXPECT_EQ(config.GetAccount(c), ResultCode::kAccountNotFound);
  EXPECT_THROW(config.DelAccount(Named("a")), std::runtime_error);
  EXPECT_THROW(config.AddAccount(Named("d")), std::runtime_error);
  EXPECT_EQ(ReadFile(path), before);

  // "PARAMETERS" is rewritten as a whole, so its damage is simply replaced.
  Config params = Open("<PARAMETERS><MTU>1300</MTU><KEY>x</PARAMETERS>");
  params.SetParams(YrkParamsStruct());
  YrkParamsStruct back;
  params.GetParams(back);
  EXPECT_EQ(back.mtu, 1450);
}

TEST_F(ConfigTest, ListAccountsReadsEveryNamedAccount) {
  Config config = Open("<PARAMETERS><MTU>1300</MTU></PARAMETERS>"
                       "<ACCOUNTS><ACCOUNT><NAME>a</NAME><MTU>1</MTU></ACCOUNT><ACCOUNT><MTU>9</MTU>"
                       "</ACCOUNT></ACCOUNTS><ACCOUNTS><ACCOUNT><NAME>b</NAME></ACCOUNT></ACCOUNTS>");
  std::vector<_Account> accounts(3);
  config.ListAccounts(accounts);
  ASSERT_EQ(accounts.size(), 2u);
  EXPECT_EQ(accounts[0].name, "a");
  EXPECT_EQ(accounts[0].conn.mtu, 1);
  EXPECT_EQ(accounts[1].name, "b");
  EXPECT_EQ(accounts[1].conn.mtu, 1300);
  EXPECT_EQ(accounts[1].mask, 0u);

  Open("<PARAMETERS>\n</PARAMETERS>").ListAccounts(accounts);
  EXPECT_TRUE(accounts.empty());
}

TEST_F(ConfigTest, OperationsOnAMissingDocumentThrow) {
  Config config(dir / "none", dir / "cfg", dir / "defconfig");
  YrkParamsStruct p;
  _Account a = Named("a");
  EXPECT_THROW(config.GetParams(p), std::runtime_error);
  EXPECT_THROW(config.AddAccount(a), std::runtime_error);
  EXPECT_THROW(config.DelAccount(a), std::runtime_error);
  EXPECT_FALSE(std::filesystem::exists(dir / "none"));
}

TEST(ConfigMask, TestLooksAtOneBit) {
  EXPECT_TRUE(Config::Test(0x801, Config::MASK_CERT));
  EXPECT_TRUE(Config::Test(0x801, Config::MASK_SERVER_ADDRESS));
  EXPECT_FALSE(Config::Test(0x801, Config::MASK_USER));
}

}  // namespace
