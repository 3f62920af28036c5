#include "config/xml.h"

#include <stdexcept>
#include <utility>

#include "config/atomic_file.h"

namespace {

// Deeper bodies are kept as text: real documents nest three levels, and a
// crafted file must not exhaust the stack.
constexpr int kMaxDepth = 64;

// The writer's own indentation and line ends; any other text outside
// elements is data that a rebuilt body would lose.
bool IsBlank(std::string_view text) {
  return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

}  // namespace

XMLTag::XMLTag() = default;

XMLTag::XMLTag(const std::string &name) : XMLTag(name, "\n") {}

XMLTag::XMLTag(const std::string &name, const std::string &body) {
  Load("<" + name + ">" + body + "</" + name + ">");
}

XMLTag::XMLTag(const XMLTag &other)
    : name_(other.name_), body_(other.body_), unparsed_(other.unparsed_), lossy_(other.lossy_) {
  children_.reserve(other.children_.size());
  for (const auto &child : other.children_) children_.push_back(std::make_unique<XMLTag>(*child));
}

XMLTag &XMLTag::operator=(const XMLTag &other) {
  if (this != &other) {
    XMLTag copy(other);
    std::swap(name_, copy.name_);
    std::swap(body_, copy.body_);
    std::swap(children_, copy.children_);
    unparsed_ = copy.unparsed_;
    lossy_ = copy.lossy_;
    found_.clear();
  }
  return *this;
}

XMLTag::~XMLTag() { Clear(); }

std::size_t XMLTag::Load(const std::string &text) {
  const std::string source(text);  // `text` may be this tag's own body
  const std::size_t used = Parse(source, 0);
  // Text before or after the element, or text without any (a file zeroed
  // or garbled by a crash), would be gone once the element is written.
  const std::size_t open = source.find('<');
  const std::string_view view(source);
  if (!IsBlank(view.substr(0, open)) || (open != std::string::npos && !IsBlank(view.substr(used))))
    lossy_ = true;
  return used;
}

std::size_t XMLTag::Parse(std::string_view text, int depth) {
  name_.clear();
  body_.clear();
  Clear();
  unparsed_ = lossy_ = false;
  const std::size_t open = text.find('<');
  if (open == std::string_view::npos) return text.size();  // plain text, all consumed
  // From here on an incomplete element keeps none of its text.
  lossy_ = true;
  const std::size_t gt = text.find('>', open);
  if (gt == std::string_view::npos) return 0;
  name_ = text.substr(open + 1, gt - open - 1);
  const std::string marker = "</" + name_ + ">";
  const std::size_t close = text.find(marker, gt);
  if (close == std::string_view::npos) return 0;
  lossy_ = false;
  const std::string_view body = text.substr(gt + 1, close - gt - 1);
  ParseChildren(body, depth);
  // A parent's body is rebuilt from its children when written, so only a
  // childless body is kept: a copy per level would make a deeply nested
  // file take its size times its depth.
  if (children_.empty()) body_ = body;
  // The whole closing marker is consumed: a name may hold "<", and the next
  // sibling must not start inside the marker.
  return close + marker.size();
}

void XMLTag::ParseChildren(std::string_view body, int depth) {
  if (depth >= kMaxDepth) {
    unparsed_ = body.find('<') != std::string_view::npos;
    return;
  }
  bool stray_text = false;
  std::size_t offset = 0;
  while (offset < body.size()) {
    const std::size_t open = body.find('<', offset);
    if (!IsBlank(body.substr(offset, open == std::string_view::npos ? open : open - offset)))
      stray_text = true;
    if (open == std::string_view::npos) break;
    auto child = std::make_unique<XMLTag>();
    const std::size_t used = child->Parse(body.substr(open), depth + 1);
    // An element without ">" or without its closing marker ends the children;
    // a childless body keeps the text as read, a rebuilt one would lose it.
    if (used == 0) {
      unparsed_ = true;
      break;
    }
    offset = open + used;
    if (!child->Empty()) children_.push_back(std::move(child));
  }
  if (!children_.empty() && (unparsed_ || stray_text)) lossy_ = true;
}

void XMLTag::Store(std::string &out, int depth) {
  std::string line;
  AppendTo(line, depth);
  out.insert(0, line);
}

void XMLTag::AppendTo(std::string &out, int depth) {
  out.append(static_cast<std::size_t>(depth), '\t');
  out += "<" + name_ + ">";
  if (!children_.empty()) {
    out += "\n";
    for (const auto &child : children_) child->AppendTo(out, depth + 1);
    out.append(static_cast<std::size_t>(depth), '\t');
  } else {
    out += body_;
  }
  out += "</" + name_ + ">\n";
}

XMLTag::TagList &XMLTag::FindTag(const std::string &name) {
  found_.clear();
  for (const auto &child : children_)
    if (child->name_ == name) found_.push_back(child.get());
  return found_;
}

XMLTag *XMLTag::First(const std::string &name) {
  for (const auto &child : children_)
    if (child->name_ == name) return child.get();
  return nullptr;
}

bool XMLTag::Lossy() const {
  if (lossy_) return true;
  for (const auto &child : children_)
    if (child->Lossy()) return true;
  return false;
}

XMLTag &XMLTag::Add(const XMLTag &tag) {
  found_.clear();
  if (unparsed_) lossy_ = true;  // the body will be rebuilt from the children
  children_.push_back(std::make_unique<XMLTag>(tag));
  return *children_.back();
}

void XMLTag::Del(XMLTag *child) {
  for (auto it = children_.begin(); it != children_.end(); ++it) {
    if (it->get() != child) continue;
    children_.erase(it);
    if (children_.empty()) body_ = "\n";
    return;
  }
}

void XMLTag::Clear() {
  found_.clear();
  children_.clear();
  unparsed_ = lossy_ = false;  // the caller gives up the old content
}

XML::XML(const char *path) : path_(path) {}

void XML::Load() {
  if (!locked_) return;  // already in memory
  text_.clear();
  if (!AtomicFile::Read(path_, text_)) {
    text_.clear();
    root_ = XMLTag();
    throw std::runtime_error("file not found");
  }
  root_.Load(text_);
  locked_ = false;
}

void XML::Store() {
  if (locked_) throw std::runtime_error("locked");
  // A damaged file stays as it is rather than lose what could not be read.
  if (root_.Lossy()) throw std::runtime_error("write failed");
  text_.clear();
  root_.Store(text_, 0);
  switch (AtomicFile::Replace(path_, text_)) {
    case AtomicFile::Result::kOk:
      break;
    case AtomicFile::Result::kOpenFailed:
      throw std::runtime_error("open failed");
    case AtomicFile::Result::kWriteFailed:
      throw std::runtime_error("write failed");
  }
  locked_ = true;
}

XMLTag::TagList XML::FindOrAdd(const std::string &name) {
  if (!First(name)) Add(XMLTag(name));
  return FindTag(name);
}
