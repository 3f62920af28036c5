// Reads an import/export file into records, one per section entry.
#pragma once

#include <libxml/tree.h>

#include <cstdint>
#include <list>
#include <string>
#include <string_view>

#include "ui/parameters.h"

class Parser {
 public:
  enum SectionAction : int32_t { Add = 0, Del = 1, Modify = 2, Store = 3 };
  // Parameters is never produced here; other front ends build such records.
  enum SectionKind : int32_t { Account = 0, Cert = 1, Parameters = 2, Server = 3 };

  struct _Record {
    int32_t action = Add;
    int32_t kind = Account;
    std::list<UserInterface::_StringParameter> strings;
    std::list<UserInterface::_DigitalParameter> digitals;
  };

  // Replaces the record list with the file's entries. Which files are read,
  // which documents refused and in which encoding the rest are read is
  // ImportGuard's to say. A file that cannot be read, is refused or is not
  // well-formed gives no records and a ReadFailure; throws
  // std::runtime_error "invalid section" or "invalid attribute".
  Parser &Parse(const std::string &path);
  // The same for a document held in memory.
  Parser &ParseMemory(const char *data, int size);

  const std::list<_Record> &Records() const { return records; }
  // Why the last Parse or ParseMemory read no document ("not a regular
  // file", "too large", "No such file or directory", "not well-formed XML
  // (line 3: ...)", ...); empty when it read one.
  const std::string &ReadFailure() const { return read_failure; }

 private:
  void Read(std::string_view bytes);
  void ProcessDocument(xmlDoc *doc);
  void ProcessSections(xmlNode *sections);
  void ProcessSection(xmlNode *section);
  void ProcessAccount(xmlNode *entry, _Record &record);
  void ProcessCert(xmlNode *entry, _Record &record);
  void ProcessServer(xmlNode *entry, _Record &record);
  void ProcessParameter(xmlNode *parameter, _Record &record);
  void ProcessFilter(xmlNode *filter, _Record &record);

  std::list<_Record> records;
  std::string read_failure;
};
