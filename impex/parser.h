// Reads an import/export file into records, one per section entry.
#pragma once

#include <libxml/tree.h>

#include <cstddef>
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

  // Limits that keep a hostile file from stalling impex, checked on the bytes
  // before libxml2 reads them: libxml2 2.9 compares the attributes of an
  // element pairwise, and looks a namespace prefix up through every
  // declaration in scope. Real import files are a few kilobytes, with fewer
  // than 20 attributes on an element and no namespaces.
  static constexpr size_t kMaxBytes = 4 << 20;   // 4 MiB
  static constexpr size_t kMaxAttributes = 256;  // on any one element
  static constexpr size_t kMaxNamespaces = 256;  // declared in the whole document

  // Replaces the record list with the file's entries. Anything but a regular
  // file (a FIFO, device, directory or socket) is refused without waiting on
  // it. A document is read in UTF-8, or in the single-byte Latin or Cyrillic
  // encoding its XML declaration names (KOI8-R, windows-1251, ISO-8859-5,
  // ...); any other encoding is refused. A file that cannot be read, is
  // refused or is not well-formed gives no records and a ReadFailure; throws
  // std::runtime_error "invalid section" or "invalid attribute".
  Parser &Parse(const std::string &path);
  // The same for a document held in memory.
  Parser &ParseMemory(const char *data, int size);

  const std::list<_Record> &Records() const { return records; }
  // Why the last Parse or ParseMemory read no document ("not a regular
  // file", "too large", "No such file or directory", "not well-formed XML
  // (line 3: ...)", ...); empty when it read one.
  const std::string &ReadFailure() const { return read_failure; }

  // Upper bounds, from the bytes alone, on what libxml2 meets in a document:
  // the attributes of any one element (namespace declarations and defaults
  // from a document type declaration included) and the namespace
  // declarations of the whole document. Public for the fuzz target.
  struct Bounds {
    size_t attributes;
    size_t namespaces;
  };
  static Bounds BoundsOf(std::string_view bytes);

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
