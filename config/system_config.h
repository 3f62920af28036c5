// The system configuration "/etc/yrk/cfg": trusted access servers and the
// random source, shared by all users.
#pragma once

#include <string>
#include <vector>

#include "cert/distinguished_name.h"

class SystemConfig {
 public:
  // The real document; created from the template on first use.
  SystemConfig();
  // A document at `path`, created as a copy of `template_path` when it does
  // not exist (failures of that copy are silent).
  SystemConfig(const std::string &path, const std::string &template_path);
  virtual ~SystemConfig() = default;

  // 0; ResultCode::kAlreadyExists when a server of that name exists;
  // kUnknownError when the name is empty; kInvalidParameters when a field
  // holds "<", which the tag format cannot carry.
  int AddServer(const DistinguishedName &dn) const;
  // Removes the server named dn.NAME from every server list: 0, or
  // ResultCode::kServerNotFound when there is none (the file is then left
  // untouched).
  int DelServer(const DistinguishedName &dn) const;
  // Appends every stored server (NAME, CN, O, OU, C, L, ST, STREET).
  void ListServers(std::vector<DistinguishedName> &out) const;
  // 0 for the "BIO" source, 1 for the hardware board ("TAVIK").
  int GetRngType() const;

 private:
  std::string system_path_;
};
