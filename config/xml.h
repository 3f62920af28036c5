// The configuration files' own tag format. It looks like XML but has no
// attributes, declarations, comments, entities or escaping: an element is
// "<" name ">" body "</" name ">", a body that holds elements has children,
// and any other text is a raw value.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class XMLTag {
 public:
  using TagList = std::vector<XMLTag *>;

  XMLTag();
  // An empty element: body "\n", which keeps it alive across a store and load.
  explicit XMLTag(const std::string &name);
  // An element with the given body; a body holding elements gets children.
  XMLTag(const std::string &name, const std::string &body);
  XMLTag(const XMLTag &other);             // deep copy; the FindTag result is not copied
  XMLTag &operator=(const XMLTag &other);  // deep copy
  ~XMLTag();

  // Replaces name, body and children by the first element of `text`; returns
  // how many characters the parse consumed (the whole text when it holds no
  // "<"; else up to the end of the closing marker, or 0 when the element is
  // incomplete: no ">" or no closing marker). An incomplete element ends the
  // children of the body it is in; bodies nested more than 64 levels deep are
  // kept as text. Only a childless element keeps its body: a parent's is empty
  // and is rebuilt from its children when written.
  std::size_t Load(const std::string &text);

  // True when writing this subtree would drop text that was loaded but did
  // not become part of the tree: text before or after the loaded element (or
  // text without one), an element without its closing marker, or a
  // body with children to rebuild it from that was cut short by an incomplete
  // element or holds text between or around its elements. A childless body
  // keeps such text and is written as read.
  bool Lossy() const;

  // Serialises this element at `depth` TABs of indentation and inserts the
  // result at the front of `out`. A parent is written from its children.
  void Store(std::string &out, int depth);

  // Direct children named exactly `name`, in document order. The list is
  // owned by this tag and is valid until its next FindTag, Add or Clear.
  TagList &FindTag(const std::string &name);

  // Appends a deep copy of `tag` as the last child and returns that child.
  XMLTag &Add(const XMLTag &tag);

  // Removes and destroys `child` if it is a direct child; a parent left
  // without children gets the body "\n". The last FindTag list is not updated.
  void Del(XMLTag *child);

  // Destroys all children; a childless body stays as it is (a parent keeps
  // none). Text the loader could not read counts as given up (see Lossy).
  void Clear();

  // The first direct child named `name`, or null. Unlike FindTag it leaves
  // the result list alone.
  XMLTag *First(const std::string &name);

  // Whether `value` survives a store and load as one value. The format has no
  // escaping: a "<" would turn into elements and could swallow neighbours.
  static bool CanHold(const std::string &value) { return value.find('<') == std::string::npos; }

  std::string &Name() { return name_; }
  std::string &Body() { return body_; }
  const std::string &Name() const { return name_; }
  const std::string &Body() const { return body_; }

 private:
  std::size_t Parse(std::string_view text, int depth);
  void ParseChildren(std::string_view body, int depth);
  bool Empty() const { return body_.empty() && children_.empty(); }
  void AppendTo(std::string &out, int depth);

  std::string name_;
  std::string body_;
  std::vector<std::unique_ptr<XMLTag>> children_;
  TagList found_;
  bool unparsed_ = false;  // the body holds a "<" that no child took
  bool lossy_ = false;     // see Lossy()
};

// One document file. Used as: construct, Load, look up and change the tree,
// Store (only when something is to be written), destroy.
class XML {
 public:
  explicit XML(const char *path);

  // Reads and parses the file unless the tree is already loaded since the
  // last Store. Throws std::runtime_error("file not found") when the file
  // cannot be read.
  void Load();

  // Writes the tree to the file. The new text goes to a temporary file in the
  // same directory that then replaces the old one (owner, group and mode are
  // kept), so a failure leaves the old file intact. Throws std::runtime_error:
  // "locked" without a Load since construction or the last Store, "open
  // failed" or "write failed" (also, before touching the file, when the tree
  // would drop text of a damaged file; see XMLTag::Lossy).
  void Store();

  XMLTag::TagList &FindTag(const std::string &name) { return root_.FindTag(name); }
  XMLTag &Add(const XMLTag &tag) { return root_.Add(tag); }
  XMLTag *First(const std::string &name) { return root_.First(name); }
  // The root's children named `name`, after adding an empty one when there
  // is none (a copy, so it stays valid across further lookups).
  XMLTag::TagList FindOrAdd(const std::string &name);

 private:
  std::string path_;
  std::string text_;
  XMLTag root_;
  bool locked_ = true;
};
