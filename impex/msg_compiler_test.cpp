#include "impex/msg_compiler.h"

#include <gtest/gtest.h>

#include <cctype>

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
