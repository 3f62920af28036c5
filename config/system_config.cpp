#include "config/system_config.h"

#include <sys/stat.h>

#include "config/atomic_file.h"
#include "config/paths.h"
#include "config/xml.h"
#include "impex/result_codes.h"

namespace {

// Keys of a "SERVER" after its "NAME", in the order they are written.
struct ServerKey {
  const char *key;
  std::string DistinguishedName::*field;
};
constexpr ServerKey kServerKeys[] = {
    {"CN", &DistinguishedName::CN},         {"C", &DistinguishedName::C},
    {"O", &DistinguishedName::O},           {"OU", &DistinguishedName::OU},
    {"L", &DistinguishedName::L},           {"ST", &DistinguishedName::ST},
    {"STREET", &DistinguishedName::STREET},
};

bool NameIs(XMLTag &server, const std::string &name) {
  const XMLTag *first = server.First("NAME");
  return first && first->Body() == name;
}

bool Storable(const DistinguishedName &dn) {
  if (!XMLTag::CanHold(dn.NAME)) return false;
  for (const ServerKey &k : kServerKeys)
    if (!XMLTag::CanHold(dn.*k.field)) return false;
  return true;
}

}  // namespace

SystemConfig::SystemConfig() : SystemConfig(Paths::kSystemConfig, Paths::kDefConfig) {}

SystemConfig::SystemConfig(const std::string &path, const std::string &template_path)
    : system_path_(path) {
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) return;
  // A missing or unreadable template gives an empty document; a caller
  // without write access to the directory creates nothing. Both are silent.
  std::string text;
  if (!AtomicFile::Read(template_path, text)) text.clear();
  AtomicFile::Replace(path, text);
}

int SystemConfig::AddServer(const DistinguishedName &dn) const {
  XML doc(system_path_.c_str());
  doc.Load();
  const XMLTag::TagList lists = doc.FindOrAdd("SERVERS");
  for (XMLTag *list : lists)
    for (XMLTag *server : list->FindTag("SERVER"))
      if (NameIs(*server, dn.NAME)) return ResultCode::kAlreadyExists;
  if (dn.NAME.empty()) return ResultCode::kUnknownError;
  if (!Storable(dn)) return ResultCode::kInvalidParameters;

  XMLTag server("SERVER");
  server.Add(XMLTag("NAME", dn.NAME));
  for (const ServerKey &k : kServerKeys)
    if (!(dn.*k.field).empty()) server.Add(XMLTag(k.key, dn.*k.field));
  lists.front()->Add(server);
  doc.Store();
  return 0;
}

int SystemConfig::DelServer(const DistinguishedName &dn) const {
  XML doc(system_path_.c_str());
  doc.Load();
  bool removed = false;
  for (XMLTag *list : doc.FindOrAdd("SERVERS")) {
    for (XMLTag *server : list->FindTag("SERVER")) {
      if (!NameIs(*server, dn.NAME)) continue;
      list->Del(server);  // the loop ends here, before the list goes stale
      removed = true;
      break;
    }
  }
  if (!removed) return ResultCode::kServerNotFound;
  doc.Store();
  return 0;
}

void SystemConfig::ListServers(std::vector<DistinguishedName> &out) const {
  XML doc(system_path_.c_str());
  doc.Load();
  for (XMLTag *list : doc.FindOrAdd("SERVERS")) {
    for (XMLTag *server : list->FindTag("SERVER")) {
      DistinguishedName dn;
      if (const XMLTag *name = server->First("NAME")) dn.NAME = name->Body();
      for (const ServerKey &k : kServerKeys)
        if (const XMLTag *value = server->First(k.key)) dn.*k.field = value->Body();
      out.push_back(dn);
    }
  }
}

int SystemConfig::GetRngType() const {
  XML doc(system_path_.c_str());
  doc.Load();
  const XMLTag *rng = doc.First("RNG");
  if (!rng) return 0;
  const std::string &source = rng->Body();
  return source == "TAVIK" || source == "tavik" || source == "Tavik" ? 1 : 0;
}
