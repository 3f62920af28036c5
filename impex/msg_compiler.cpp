#include "impex/msg_compiler.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

constexpr const char kError[] = "Ошибка: ";
constexpr const char kCommandFailed[] = "Не удалось обработать команду ";
constexpr const char kNeedRoot[] = "Для выполнения операции требуются права суперпользователя \n";
constexpr const char kUnknown[] = "Неизвестная ошибка";
constexpr const char kExists[] = "Уже существует";
constexpr const char kInvalidParameter[] = "Неверные параметры \n";
constexpr const char kNameTooLong[] = "Слишком длинное имя (>64 символов) ";
constexpr const char kLogRead[] = "Не удалось извлечь данные из журнала сообщений ";
constexpr const char kBadUser[] = "Имя пользователя указано неверно ";
constexpr const char kPasswdTooLong[] = "Слишком длинный пароль (>64 символов) ";
constexpr const char kKeyPath[] = "Не найдено ключевое хранилище - возможно, не смонтирован каталог";
constexpr const char kNoAccount[] = "Учетная запись не найдена \n";
constexpr const char kCertWrite[] = "Ошибка записи сертификата в хранилище ";
constexpr const char kServerError[] = "Системная ошибка ";
constexpr const char kICCheckError[] = "Ошибка при проверке целостности файлов";
constexpr const char kIKI[] = "Ошибка чтения ключевой информации ";
constexpr const char kMTU[] = "Значение MTU слишком велико ";

struct CodeText {
  int code;
  bool prefixed;  // appended to "Ошибка: " rather than standing alone
  const char *text;
};

constexpr CodeText kTable[] = {
    {4, true, kCommandFailed},
    {5, true, kCommandFailed},
    {13, true, kNeedRoot},
    {14, true, kUnknown},
    {17, true, kExists},
    {22, true, kInvalidParameter},
    {36, true, kNameTooLong},
    {1000, true, kLogRead},
    {1001, true, kBadUser},
    {1002, true, kPasswdTooLong},
    {1003, true, kKeyPath},
    {1004, true, kNoAccount},
    {1005, false, kCertWrite},
    {1006, true, "Учетная запись не найдена"},
    {1007, true, "Не удалось получить информацию о конфигурации"},
    {1008, false, "Ошибка хранилища сертификатов"},
    {1009, false, "Ошибка записи секретного ключа"},
    {1010, false, "Ошибка записи файла запроса"},
    {1011, false, "Сертификат отсутствует в списке доверенных серверов СД"},
    {1012, false, "Неверная цепочка сертификатов сервера доступа"},
    {1013, false, "Срок действия сертификата истек"},
    {1014, false, "Не удалось проверить цепочку сертификатов - нарушена целостность"},
    {1015, false, "Обнаружены отозванные сертификаты в цепочке"},
    {1016, false, "Неверное назначение ключа в сертификате сервера доступа"},
    {1017, false, "Сертификат сервера доступа не прошел проверку"},
    {1018, false, "Ошибка сравнения контрольных значений "},
    {1019, false, "Ошибка обмена ключевой информацией EAP "},
    {1020, false, "Ошибка получения списка защищенных сетей "},
    {1021, false, "Отказ сервера в авторизации "},
    {1022, false, "Истекло время ожидания"},
    {1023, false, "Неверный срок действия сертификата пользователя"},
    {1024, false, "Отсутствуют сертификаты удостоверяющих центров для сертификата пользователя"},
    {1025, false, "В цепочке сертификатов пользователя имеются отозванные сертификаты"},
    {1026, false, "Сертификат пользователя не прошел проверку подлинности"},
    {1027, false, "Сертификат пользователя содержит неверное поле \"Назначение ключа\" "},
    {1032, false, nullptr},  // built by MsgICCheckFail
    {1033, false, kICCheckError},
    {1034, false, "Ошибка подключения"},
    {1035, false, kServerError},
    {1037, false, kMTU},
    {1038, false, kIKI},
    {1039, true, "Запись не найдена"},
    {1040, false, "Ошибка генерации секретного ключа"},
};

}  // namespace

std::string MsgCompiler::HandleError(int code) {
  // Computed in 64 bits: the magnitude of INT_MIN does not fit an int.
  const long long value = std::llabs(static_cast<long long>(code));
  for (const CodeText &row : kTable) {
    if (row.code != value) continue;
    if (!row.text) return MsgICCheckFail();
    std::string out;
    if (row.prefixed) MsgError(out);
    return out += row.text;
  }
  return "Ошибка";
}

void MsgCompiler::MsgError(std::string &out) { out += kError; }
void MsgCompiler::MsgInvalidParameter(std::string &out) { out += kInvalidParameter; }
void MsgCompiler::MsgNeedRootAccess(std::string &out) { out += kNeedRoot; }
void MsgCompiler::MsgServerError(std::string &out) { out += kServerError; }
void MsgCompiler::MsgLogReadError(std::string &out) { out += kLogRead; }
void MsgCompiler::MsgNoUserSelected(std::string &out) { out += kBadUser; }
void MsgCompiler::MsgErrorPasswdTooLong(std::string &out) { out += kPasswdTooLong; }
void MsgCompiler::MsgErrorNameTooLong(std::string &out) { out += kNameTooLong; }
void MsgCompiler::MsgErrorKeyPath(std::string &out) { out += kKeyPath; }
void MsgCompiler::MsgErrorInvalidAccount(std::string &out) { out += kNoAccount; }

std::string MsgCompiler::CertStorageExportError() { return kCertWrite; }

std::string MsgCompiler::MsgICCheckFail() {
  std::string out;
  MsgError(out);
  return out += "Нарушена целостность файлов. Обратитесь к администратору безопасности";
}

std::string MsgCompiler::MsgICCheckError() { return kICCheckError; }
std::string MsgCompiler::MsgErrorIKI() { return kIKI; }
std::string MsgCompiler::MsgErrorMTUInvalid() { return kMTU; }

void MsgCompiler::MsgTime(std::string &out) {
  const time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  char text[80];
  snprintf(text, sizeof text, "%02d.%02d.%04d %02d:%02d:%02d", local.tm_mday, local.tm_mon + 1,
           local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
  out += text;
}

void MsgCompiler::MsgAddress(std::string &out, uint32_t address) {
  char dotted[16] = "*.*.*.*";
  if (address != 0)
    snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xff,
             (address >> 8) & 0xff, address & 0xff);
  char field[17];
  snprintf(field, sizeof field, "%16s", dotted);
  out += field;
}

void MsgCompiler::MsgPort(std::string &out, uint16_t port) { out += std::to_string(port); }

void MsgCompiler::MsgInt(std::string &out, uint32_t value) {
  out += std::to_string(static_cast<int32_t>(value));
}
