#include "xml/tu_xml_tree.h"

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "foundation/context/directory_layout.h"
#include "xml/xml_error_state.h"
#include "xml/xml_parse_state.h"
#include "xml/xml_records.h"
#include "xml/xml_text.h"
#include "xml/xml_writer.h"

namespace {
// Large blocks: the parser scans an unfinished token again with every block it is given.
constexpr size_t kReadBlock = 256 * 1024;
constexpr size_t kPathMax = 259;  // paths are copied into a buffer of 260 bytes

// The non-empty components of a slash-separated path.
std::vector<std::string_view> SplitPath(std::string_view path) {
  std::vector<std::string_view> components;
  while (!path.empty()) {
    const size_t slash = path.find('/');
    const std::string_view part = path.substr(0, slash);
    if (!part.empty()) components.push_back(part);
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return components;
}
}  // namespace

TuXMLTree::TuXMLTree() = default;

TuXMLTree::~TuXMLTree() {
  Clear();
  xml_error::ReleaseSlot();
}

void TuXMLTree::BeginLoad(std::string_view fileName) {
  Clear();
  m_fileName = HxStr(fileName);
  xml_error::SetCode(xml_error::kNone);
}

bool TuXMLTree::StartParse(bool trim) {
  m_parse.reset(new (std::nothrow) XmlParseState(trim, m_pieceLimit));
  if (m_parse && m_parse->Ready()) return true;
  m_parse.reset();
  xml_error::SetCode(xml_error::kOutOfMemory);
  return false;
}

bool TuXMLTree::FinishLoad(bool parsed) {
  std::unique_ptr<XmlDocument> built = m_parse->TakeDocument();
  if (parsed) m_document = std::move(built);
  return parsed && m_document != nullptr;
}

bool TuXMLTree::LoadFile(std::string_view path, bool trim, bool createIfMissing) {
  BeginLoad(path);
  std::FILE* file = std::fopen(LocalPath(path).c_str(), "rb");
  if (file == nullptr) return createIfMissing && CreateNew();
  if (!StartParse(trim)) {
    std::fclose(file);
    return false;
  }
  bool parsed = true;
  for (;;) {
    const size_t size = m_parse->NextFeedSize(kReadBlock);
    char* block = m_parse->NextBuffer(size);
    if (block == nullptr) {
      parsed = false;
      break;
    }
    const size_t got = std::fread(block, 1, size, file);
    if (std::ferror(file)) {
      xml_error::SetCode(xml_error::kInputOutput);
      parsed = false;
      break;
    }
    const bool final = std::feof(file) != 0;
    if (!m_parse->ParseBuffered(got, final)) {
      parsed = false;
      break;
    }
    if (final) break;
  }
  std::fclose(file);
  return FinishLoad(parsed);
}

bool TuXMLTree::LoadBuffer(std::string_view text, bool trim) {
  BeginLoad(kBufferName);
  if (!StartParse(trim)) return false;
  // The ANSI text is already UTF-8 here: it is parsed in place, without a converted copy.
  return FinishLoad(m_parse->Feed(text.data(), text.size(), true));
}

void TuXMLTree::Clear() {
  m_document.reset();
  m_parse.reset();
}

TuXMLNodeEnum TuXMLTree::GetWalker() const {
  return TuXMLNodeEnum(m_document ? m_document->root : nullptr);
}

bool TuXMLTree::HasError() const { return xml_error::Code() > xml_error::kNone; }

bool TuXMLTree::IsParseError() const { return xml_error::Code() == xml_error::kParser; }

HxStr TuXMLTree::GetErrorString() const {
  if (IsValid()) return HxStr();
  if (IsParseError() && m_parse) return m_parse->ErrorText();
  return xml_error::CodeText(xml_error::Code());
}

int TuXMLTree::GetErrorLine() const { return IsParseError() && m_parse ? m_parse->ErrorLine() : 0; }

int TuXMLTree::GetErrorColumn() const {
  return IsParseError() && m_parse ? m_parse->ErrorColumn() : 0;
}

bool TuXMLTree::FormatError(HxStr& out) const {
  if (IsValid()) return true;
  const char* file = m_fileName.c_str();
  if (IsParseError()) {
    out.Format("Parsing XML Error: %s\tFile: %s\tLine: %d\tColumn: %d\n", GetErrorString().c_str(),
               file, GetErrorLine(), GetErrorColumn());
  } else if (HasError()) {
    out.Format("XML Error: %s\tFile: %s\n", GetErrorString().c_str(), file);
  } else {
    out.Format("XML Error: Unknown\tFile: %s\n", file);
  }
  return false;
}

bool TuXMLTree::IsValid() const {
  return m_parse && m_document && xml_error::Code() == xml_error::kNone;
}

TuXMLNode TuXMLTree::GetRoot() const { return TuXMLNode(IsValid() ? m_document->root : nullptr); }

const char* TuXMLTree::GetVersion() const {
  return m_document && m_document->version ? m_document->version->c_str() : nullptr;
}

const char* TuXMLTree::GetEncoding() const {
  return m_document && m_document->encoding ? m_document->encoding->c_str() : nullptr;
}

TuXMLNode TuXMLTree::FindNode(std::string_view path, const TuXMLNode& start) const {
  TuXMLNodeList list;
  if (!FindNodes(path, list, start) || !list.Next()) return TuXMLNode();
  return list.Duplicate();
}

bool TuXMLTree::FindNodes(std::string_view path, TuXMLNodeList& list,
                          const TuXMLNode& start) const {
  TuXMLNode current = start.Duplicate();  // before clearing: `start` may be `list` itself
  list.Clear();
  const std::vector<std::string_view> components = SplitPath(path.substr(0, kPathMax));
  if (components.empty()) return false;
  size_t next = 0;
  if (!current.IsValid()) {
    XmlElement* root = m_document ? m_document->root : nullptr;
    if (root == nullptr || root->name != components[0]) return false;
    current = TuXMLNode(root);
    next = 1;
  }
  for (; next < components.size(); ++next) {
    if (!current.FindChildren(components[next], list)) return false;
    if (next + 1 == components.size()) break;
    list.Next();
    current = list.Duplicate();
    list.Clear();
  }
  return true;
}

bool TuXMLTree::CreateNew() {
  Clear();
  m_document.reset(new (std::nothrow) XmlDocument);
  if (m_document) return true;
  xml_error::SetCode(xml_error::kOutOfMemory);
  return false;
}

TuXMLNode TuXMLTree::CreateRoot(std::string_view name) {
  if (!m_document && !CreateNew()) return TuXMLNode();
  return TuXMLNode(xml_records::NewRoot(*m_document, xml_text::FromAnsi(name)));
}

TuXMLNode TuXMLTree::AddChildWithText(const TuXMLNode& parent, std::string_view name,
                                      std::string_view text, bool cdata) {
  TuXMLNode child = AddChild(parent, name);
  SetNodeText(child, text, cdata);
  return child;
}

TuXMLNode TuXMLTree::AddChild(const TuXMLNode& parent, std::string_view name) {
  return parent.AddChild(name);
}

void TuXMLTree::SetNodeName(const TuXMLNode& node, std::string_view name) { node.SetName(name); }

void TuXMLTree::SetNodeText(const TuXMLNode& node, std::string_view text, bool cdata) {
  node.SetText(text, cdata);
}

void TuXMLTree::DeleteNode(TuXMLNode& node) {
  if (node.IsValid()) node.Delete();
}

void TuXMLTree::RemoveChildren(const TuXMLNode& node, std::string_view name) {
  if (node.IsValid() && !name.empty()) node.RemoveChildren(name);
}

TuXMLAttr TuXMLTree::SetAttribute(const TuXMLNode& node, std::string_view name,
                                  std::string_view value) {
  return node.SetAttribute(name, value);
}

void TuXMLTree::RemoveAttribute(const TuXMLNode& node, std::string_view name) {
  if (node.IsValid() && !name.empty()) node.RemoveAttribute(name);
}

bool TuXMLTree::SaveAs(bool escape, std::string_view path) {
  if (!m_document) return false;
  const std::string target = LocalPath(path.empty() ? std::string_view(m_fileName) : path);
  return !target.empty() && xml_writer::SaveDocument(*m_document, escape, target);
}

bool TuXMLTree::Save(std::string_view path) { return SaveAs(false, path); }
