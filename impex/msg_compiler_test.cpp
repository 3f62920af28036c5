#include "impex/msg_compiler.h"

#include <gtest/gtest.h>

#include <cctype>
#include <utility>

#include "impex/result_codes.h"

TEST(HandleError, PrefixedAndAloneForms) {
  EXPECT_EQ(MsgCompiler::HandleError(-22), "Ошибка: Неверные параметры \n");
  EXPECT_EQ(MsgCompiler::HandleError(-1035), "Системная ошибка ");
  EXPECT_EQ(MsgCompiler::HandleError(1035), "Системная ошибка ");
  EXPECT_EQ(MsgCompiler::HandleError(-1001), "Ошибка: Имя пользователя указано неверно ");
  EXPECT_EQ(MsgCompiler::HandleError(-1005), "Ошибка записи сертификата в хранилище ");
  EXPECT_EQ(MsgCompiler::HandleError(-1039), "Ошибка: Запись не найдена");
  EXPECT_EQ(MsgCompiler::HandleError(-4), MsgCompiler::HandleError(-5));
  EXPECT_EQ(MsgCompiler::HandleError(-1027),
            "Сертификат пользователя содержит неверное поле \"Назначение ключа\" ");
}

TEST(HandleError, CodesWithoutTextGiveTheBareWord) {
  for (int code : {0, 1, -16, -1028, -1029, -1030, -1031, -1036, -1041, INT32_MIN})
    EXPECT_EQ(MsgCompiler::HandleError(code), "Ошибка") << code;
}

TEST(HandleError, IntegrityViolationJoinsThreePieces) {
  EXPECT_EQ(MsgCompiler::HandleError(-1032),
            "Ошибка: Нарушена целостность файлов. Обратитесь к администратору безопасности");
  EXPECT_EQ(MsgCompiler::MsgICCheckFail(), MsgCompiler::HandleError(-1032));
}

// Peers send and receive these numbers as they are: a name must never move.
TEST(ResultCodes, NamesKeepTheirNumbers) {
  const std::pair<int, int> pinned[] = {
      {ResultCode::kHandlerFailed, -4},
      {ResultCode::kCommandFailed, -5},
      {ResultCode::kNeedRoot, -13},
      {ResultCode::kUnknownError, -14},
      {ResultCode::kSemaphoreBusy, -16},
      {ResultCode::kAlreadyExists, -17},
      {ResultCode::kInvalidParameters, -22},
      {ResultCode::kNameTooLong, -36},
      {ResultCode::kLogUnreadable, -1000},
      {ResultCode::kUnknownUser, -1001},
      {ResultCode::kPasswordTooLong, -1002},
      {ResultCode::kKeyStoreMissing, -1003},
      {ResultCode::kNoAccountToConnect, -1004},
      {ResultCode::kCertNotStored, -1005},
      {ResultCode::kAccountNotFound, -1006},
      {ResultCode::kNoServerAddress, -1007},
      {ResultCode::kCertStoreFailed, -1008},
      {ResultCode::kKeyWriteFailed, -1009},
      {ResultCode::kRequestWriteFailed, -1010},
      {ResultCode::kServerNotTrusted, -1011},
      {ResultCode::kServerChainInvalid, -1012},
      {ResultCode::kCertExpired, -1013},
      {ResultCode::kChainIntegrityFailed, -1014},
      {ResultCode::kChainRevoked, -1015},
      {ResultCode::kServerKeyUsageInvalid, -1016},
      {ResultCode::kServerCertRejected, -1017},
      {ResultCode::kCheckValueMismatch, -1018},
      {ResultCode::kEapExchangeFailed, -1019},
      {ResultCode::kNetworkListFailed, -1020},
      {ResultCode::kAuthorizationRefused, -1021},
      {ResultCode::kTimedOut, -1022},
      {ResultCode::kUserCertPeriodInvalid, -1023},
      {ResultCode::kUserCertNoCa, -1024},
      {ResultCode::kUserChainRevoked, -1025},
      {ResultCode::kUserCertSignatureInvalid, -1026},
      {ResultCode::kUserKeyUsageInvalid, -1027},
      {ResultCode::kIntegrityViolated, -1032},
      {ResultCode::kIntegrityCheckFailed, -1033},
      {ResultCode::kConnectionFailed, -1034},
      {ResultCode::kSystemError, -1035},
      {ResultCode::kMtuTooLarge, -1037},
      {ResultCode::kKeyReadFailed, -1038},
      {ResultCode::kServerNotFound, -1039},
      {ResultCode::kKeyGenerationFailed, -1040},
  };
  for (const auto &[name, number] : pinned) {
    EXPECT_EQ(name, number);
    if (name != ResultCode::kSemaphoreBusy) {  // the one named code without a text
      EXPECT_NE(MsgCompiler::HandleError(name), "Ошибка") << number;
    }
  }
}

TEST(Formatters, AddressRightAlignedInSixteen) {
  std::string out = "x";
  MsgCompiler::MsgAddress(out, 0);
  EXPECT_EQ(out, "x         *.*.*.*");
  out.clear();
  MsgCompiler::MsgAddress(out, 0x0A000001);
  EXPECT_EQ(out, "        10.0.0.1");
  out.clear();
  MsgCompiler::MsgAddress(out, 0xFFFFFFFF);
  EXPECT_EQ(out, " 255.255.255.255");
}

TEST(Formatters, PortAndSignedInt) {
  std::string out;
  MsgCompiler::MsgPort(out, 65535);
  out += ' ';
  MsgCompiler::MsgInt(out, 0x80000000u);
  EXPECT_EQ(out, "65535 -2147483648");
}

TEST(Formatters, TimeLayout) {
  std::string out;
  MsgCompiler::MsgTime(out);
  const std::string layout = "dd.dd.dddd dd:dd:dd";
  ASSERT_EQ(out.size(), layout.size()) << out;
  for (size_t i = 0; i < layout.size(); ++i)
    EXPECT_EQ(layout[i] == 'd', std::isdigit(static_cast<unsigned char>(out[i])) != 0) << out;
}
