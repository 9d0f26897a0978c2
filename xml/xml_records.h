// The storage of an XML document: a document record, its elements and their attributes. The
// document owns every record (they live in its record pool); handles point at them without owning
// them. Names, values and texts are UTF-8. Children form a doubly linked list in document order.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "xml/xml_record_pool.h"

struct XmlAttribute {
  std::string name;
  std::string value;
  XmlAttribute* previous = nullptr;
  XmlAttribute* next = nullptr;
};

struct XmlAttributeList {
  unsigned count = 0;
  XmlAttribute* first = nullptr;
  XmlAttribute* last = nullptr;
};

struct XmlDocument;

// An element's text. Its bytes live in the document's pool: most texts are short, and a large
// document has hundreds of thousands of them.
class XmlText {
 public:
  XmlText() = default;
  XmlText(const XmlText&) = delete;
  XmlText& operator=(const XmlText&) = delete;

  std::string_view View() const { return {m_data, m_length}; }
  // False, with the text unchanged, when no memory is left.
  bool Append(XmlRecordPool& pool, std::string_view piece);
  bool Assign(XmlRecordPool& pool, std::string_view text);
  // Keeps the bytes [first, end) and gives back spare room beyond `spare` bytes.
  void Keep(XmlRecordPool& pool, size_t first, size_t end, size_t spare);
  void Release(XmlRecordPool& pool);

 private:
  bool Reserve(XmlRecordPool& pool, size_t capacity);
  void Swap(XmlText& other);

  char* m_data = nullptr;
  size_t m_length = 0;
  size_t m_capacity = 0;
};

struct XmlElement {
  XmlElement() = default;
  XmlElement(const XmlElement&) = delete;
  XmlElement& operator=(const XmlElement&) = delete;
  ~XmlElement();  // frees the attributes, not the children

  std::string name;
  XmlText text;
  XmlAttributeList attributes;
  unsigned childCount = 0;
  bool hasText = false;  // false: the element has no text (an empty one is still a text)
  bool cdata = false;
  XmlElement* parent = nullptr;
  XmlElement* firstChild = nullptr;
  XmlElement* previousSibling = nullptr;
  XmlElement* nextSibling = nullptr;
  XmlElement* lastChild = nullptr;
  // The document that holds this element; its pool holds the record and its attributes. A
  // parentless element is that document's root until deleted.
  XmlDocument* document = nullptr;
};

struct XmlDocument {
  XmlDocument() = default;
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;
  ~XmlDocument();  // frees the root with its subtree

  std::optional<std::string> version;
  std::optional<std::string> encoding;
  int standalone = 0;  // nothing sets it; written as "yes" when greater than 0
  XmlRecordPool pool;  // before the root, which the destructor frees into it
  XmlElement* root = nullptr;
};

namespace xml_records {

// A new element named `name`, appended as the last child of `parent`. Null, with the thread's
// XML error code set to 1, when the record cannot be allocated.
XmlElement* NewElement(std::string_view name, XmlElement& parent);

// A new element named `name` as the document's root; a previous root is freed. Null (code 1)
// when the record cannot be allocated.
XmlElement* NewRoot(XmlDocument& document, std::string_view name);

// Unlinks the element from its parent or document and frees it with its whole subtree.
void DeleteElement(XmlElement* element);

// The first attribute named exactly `name`, or null.
XmlAttribute* FindAttribute(const XmlElement& element, std::string_view name);

// Replaces the value of the attribute named `name` in its place, or appends a new attribute.
// Null (code 1) when a new record cannot be allocated.
XmlAttribute* SetAttribute(XmlElement& element, std::string_view name, std::string_view value);

// Appends an attribute without looking for one of the same name, for a parser that has already
// rejected duplicates. Null (code 1) when the record cannot be allocated.
XmlAttribute* AppendAttribute(XmlElement& element, std::string_view name, std::string_view value);

// Unlinks and frees the first attribute named `name`; false when there is none.
bool RemoveAttribute(XmlElement& element, std::string_view name);

void RemoveAllAttributes(XmlElement& element);

}  // namespace xml_records
