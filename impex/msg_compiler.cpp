#include "impex/msg_compiler.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "impex/result_codes.h"

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
  int code;  // negative
  bool prefixed;  // appended to "Ошибка: " rather than standing alone
  const char *text;
};

constexpr CodeText kTable[] = {
    {ResultCode::kHandlerFailed, true, kCommandFailed},
    {ResultCode::kCommandFailed, true, kCommandFailed},
    {ResultCode::kNeedRoot, true, kNeedRoot},
    {ResultCode::kUnknownError, true, kUnknown},
    {ResultCode::kAlreadyExists, true, kExists},
    {ResultCode::kInvalidParameters, true, kInvalidParameter},
    {ResultCode::kNameTooLong, true, kNameTooLong},
    {ResultCode::kLogUnreadable, true, kLogRead},
    {ResultCode::kUnknownUser, true, kBadUser},
    {ResultCode::kPasswordTooLong, true, kPasswdTooLong},
    {ResultCode::kKeyStoreMissing, true, kKeyPath},
    {ResultCode::kNoAccountToConnect, true, kNoAccount},
    {ResultCode::kCertNotStored, false, kCertWrite},
    {ResultCode::kAccountNotFound, true, "Учетная запись не найдена"},
    {ResultCode::kNoServerAddress, true, "Не удалось получить информацию о конфигурации"},
    {ResultCode::kCertStoreFailed, false, "Ошибка хранилища сертификатов"},
    {ResultCode::kKeyWriteFailed, false, "Ошибка записи секретного ключа"},
    {ResultCode::kRequestWriteFailed, false, "Ошибка записи файла запроса"},
    {ResultCode::kServerNotTrusted, false, "Сертификат отсутствует в списке доверенных серверов СД"},
    {ResultCode::kServerChainInvalid, false, "Неверная цепочка сертификатов сервера доступа"},
    {ResultCode::kCertExpired, false, "Срок действия сертификата истек"},
    {ResultCode::kChainIntegrityFailed, false, "Не удалось проверить цепочку сертификатов - нарушена целостность"},
    {ResultCode::kChainRevoked, false, "Обнаружены отозванные сертификаты в цепочке"},
    {ResultCode::kServerKeyUsageInvalid, false, "Неверное назначение ключа в сертификате сервера доступа"},
    {ResultCode::kServerCertRejected, false, "Сертификат сервера доступа не прошел проверку"},
    {ResultCode::kCheckValueMismatch, false, "Ошибка сравнения контрольных значений "},
    {ResultCode::kEapExchangeFailed, false, "Ошибка обмена ключевой информацией EAP "},
    {ResultCode::kNetworkListFailed, false, "Ошибка получения списка защищенных сетей "},
    {ResultCode::kAuthorizationRefused, false, "Отказ сервера в авторизации "},
    {ResultCode::kTimedOut, false, "Истекло время ожидания"},
    {ResultCode::kUserCertPeriodInvalid, false, "Неверный срок действия сертификата пользователя"},
    {ResultCode::kUserCertNoCa, false, "Отсутствуют сертификаты удостоверяющих центров для сертификата пользователя"},
    {ResultCode::kUserChainRevoked, false, "В цепочке сертификатов пользователя имеются отозванные сертификаты"},
    {ResultCode::kUserCertSignatureInvalid, false, "Сертификат пользователя не прошел проверку подлинности"},
    {ResultCode::kUserKeyUsageInvalid, false, "Сертификат пользователя содержит неверное поле \"Назначение ключа\" "},
    {ResultCode::kIntegrityViolated, false, nullptr},  // built by MsgICCheckFail
    {ResultCode::kIntegrityCheckFailed, false, kICCheckError},
    {ResultCode::kConnectionFailed, false, "Ошибка подключения"},
    {ResultCode::kSystemError, false, kServerError},
    {ResultCode::kMtuTooLarge, false, kMTU},
    {ResultCode::kKeyReadFailed, false, kIKI},
    {ResultCode::kServerNotFound, true, "Запись не найдена"},
    {ResultCode::kKeyGenerationFailed, false, "Ошибка генерации секретного ключа"},
};

}  // namespace

std::string MsgCompiler::HandleError(int code) {
  // Computed in 64 bits: the magnitude of INT_MIN does not fit an int.
  const long long value = std::llabs(static_cast<long long>(code));
  for (const CodeText &row : kTable) {
    if (-static_cast<long long>(row.code) != value) continue;
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
