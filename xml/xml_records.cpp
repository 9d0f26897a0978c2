#include "xml/xml_records.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "xml/xml_error_state.h"

namespace {

// A record of type T from the pool, default-constructed; null (code 1) when none is left.
template <typename T>
T* NewRecord(XmlRecordPool& pool) {
  void* storage = pool.Allocate(sizeof(T));
  if (storage == nullptr) {
    xml_error::SetCode(xml_error::kOutOfMemory);
    return nullptr;
  }
  return new (storage) T;
}

template <typename T>
void FreeRecord(XmlRecordPool& pool, T* record) {
  record->~T();
  pool.Free(record, sizeof(T));
}

void Unlink(XmlElement& element) {
  if (XmlElement* parent = element.parent) {
    (element.previousSibling ? element.previousSibling->nextSibling : parent->firstChild) =
        element.nextSibling;
    (element.nextSibling ? element.nextSibling->previousSibling : parent->lastChild) =
        element.previousSibling;
    --parent->childCount;
  } else if (element.document->root == &element) {
    element.document->root = nullptr;
  }
  element.parent = element.previousSibling = element.nextSibling = nullptr;
}

// Frees an unlinked element and its subtree without recursion, so that deep documents cannot
// exhaust the stack: always free a leaf, detaching it from its parent first.
void FreeSubtree(XmlElement* top) {
  XmlElement* element = top;
  while (element != nullptr) {
    while (element->firstChild != nullptr) element = element->firstChild;
    XmlElement* parent = element == top ? nullptr : element->parent;
    if (parent != nullptr) parent->firstChild = element->nextSibling;
    FreeRecord(element->document->pool, element);
    element = parent;
  }
}

}  // namespace

XmlElement::~XmlElement() {
  xml_records::RemoveAllAttributes(*this);
  text.Release(document->pool);
}

bool XmlText::Reserve(XmlRecordPool& pool, size_t capacity) {
  if (capacity <= m_capacity) return true;
  auto* data = static_cast<char*>(pool.AllocateBytes(capacity));
  if (data == nullptr) return false;
  if (m_length > 0) std::memcpy(data, m_data, m_length);
  pool.FreeBytes(m_data, m_capacity);
  m_data = data;
  m_capacity = capacity;
  return true;
}

bool XmlText::Append(XmlRecordPool& pool, std::string_view piece) {
  const size_t needed = m_length + piece.size();
  // Doubling keeps a text that arrives in many pieces linear.
  if (needed > m_capacity && !Reserve(pool, std::max(needed, 2 * m_capacity))) return false;
  if (!piece.empty()) std::memcpy(m_data + m_length, piece.data(), piece.size());
  m_length = needed;
  return true;
}

bool XmlText::Assign(XmlRecordPool& pool, std::string_view text) {
  XmlText fresh;
  if (!fresh.Append(pool, text)) return false;
  Release(pool);
  Swap(fresh);
  return true;
}

void XmlText::Keep(XmlRecordPool& pool, size_t first, size_t end, size_t spare) {
  end = std::min(end, m_length);
  first = std::min(first, end);
  if (first > 0) std::memmove(m_data, m_data + first, end - first);
  m_length = end - first;
  if (m_capacity - m_length > spare) {
    XmlText fitted;
    if (fitted.Append(pool, View())) {
      Release(pool);
      Swap(fitted);
    }
  }
}

void XmlText::Swap(XmlText& other) {
  std::swap(m_data, other.m_data);
  std::swap(m_length, other.m_length);
  std::swap(m_capacity, other.m_capacity);
}

void XmlText::Release(XmlRecordPool& pool) {
  pool.FreeBytes(m_data, m_capacity);
  m_data = nullptr;
  m_length = m_capacity = 0;
}

XmlDocument::~XmlDocument() { xml_records::DeleteElement(root); }

namespace xml_records {

XmlElement* NewElement(std::string_view name, XmlElement& parent) {
  auto* element = NewRecord<XmlElement>(parent.document->pool);
  if (element == nullptr) return nullptr;
  element->document = parent.document;
  element->name.assign(name);
  element->parent = &parent;
  element->previousSibling = parent.lastChild;
  (parent.lastChild ? parent.lastChild->nextSibling : parent.firstChild) = element;
  parent.lastChild = element;
  ++parent.childCount;
  return element;
}

XmlElement* NewRoot(XmlDocument& document, std::string_view name) {
  auto* root = NewRecord<XmlElement>(document.pool);
  if (root == nullptr) return nullptr;
  root->document = &document;
  root->name.assign(name);
  DeleteElement(document.root);
  document.root = root;
  return root;
}

void DeleteElement(XmlElement* element) {
  if (element == nullptr) return;
  Unlink(*element);
  FreeSubtree(element);
}

XmlAttribute* FindAttribute(const XmlElement& element, std::string_view name) {
  for (XmlAttribute* attribute = element.attributes.first; attribute != nullptr;
       attribute = attribute->next) {
    if (attribute->name == name) return attribute;
  }
  return nullptr;
}

XmlAttribute* SetAttribute(XmlElement& element, std::string_view name, std::string_view value) {
  if (XmlAttribute* existing = FindAttribute(element, name)) {
    existing->value.assign(value);
    return existing;
  }
  return AppendAttribute(element, name, value);
}

XmlAttribute* AppendAttribute(XmlElement& element, std::string_view name, std::string_view value) {
  auto* attribute = NewRecord<XmlAttribute>(element.document->pool);
  if (attribute == nullptr) return nullptr;
  attribute->name.assign(name);
  attribute->value.assign(value);
  XmlAttributeList& list = element.attributes;
  attribute->previous = list.last;
  (list.last ? list.last->next : list.first) = attribute;
  list.last = attribute;
  ++list.count;
  return attribute;
}

bool RemoveAttribute(XmlElement& element, std::string_view name) {
  XmlAttribute* attribute = FindAttribute(element, name);
  if (attribute == nullptr) return false;
  XmlAttributeList& list = element.attributes;
  (attribute->previous ? attribute->previous->next : list.first) = attribute->next;
  (attribute->next ? attribute->next->previous : list.last) = attribute->previous;
  --list.count;
  FreeRecord(element.document->pool, attribute);
  return true;
}

void RemoveAllAttributes(XmlElement& element) {
  XmlAttribute* attribute = element.attributes.first;
  while (attribute != nullptr) {
    XmlAttribute* next = attribute->next;
    FreeRecord(element.document->pool, attribute);
    attribute = next;
  }
  element.attributes = XmlAttributeList();
}

}  // namespace xml_records
