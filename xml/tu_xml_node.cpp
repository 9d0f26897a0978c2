#include "xml/tu_xml_node.h"

#include <vector>

#include "foundation/context/directory_layout.h"
#include "xml/tu_xml_walkers.h"
#include "xml/xml_error_state.h"
#include "xml/xml_records.h"
#include "xml/xml_text.h"
#include "xml/xml_writer.h"

HxStr TuXMLAttr::GetName() const {
  return m_attribute ? xml_text::ToAnsi(m_attribute->name) : HxStr();
}

HxStr TuXMLAttr::GetValue() const {
  return m_attribute ? xml_text::WithProviderId(m_attribute->value) : HxStr();
}

TuXMLAttr TuXMLAttr::Duplicate() const { return *this; }

bool TuXMLAttrEnum::Next() {
  if (m_element == nullptr) return false;
  XmlAttribute* next = m_attribute ? m_attribute->next : m_element->attributes.first;
  if (next == nullptr) return false;
  m_attribute = next;
  return true;
}

HxStr TuXMLNode::GetName() const { return m_element ? xml_text::ToAnsi(m_element->name) : HxStr(); }

HxStr TuXMLNode::GetText() const {
  return m_element && m_element->hasText ? xml_text::WithProviderId(m_element->text.View()) : HxStr();
}

void TuXMLNode::GetTextWide(char16_t* buffer, size_t count) const {
  if (m_element && m_element->hasText && buffer != nullptr) {
    xml_text::CopyAsUtf16(m_element->text.View(), buffer, count);
  }
}

TuXMLNodeEnum TuXMLNode::GetWalker() const { return TuXMLNodeEnum(m_element); }

TuXMLAttrEnum TuXMLNode::GetAttributes() const { return TuXMLAttrEnum(m_element); }

bool TuXMLNode::GetAttribute(std::string_view name, HxStr& value) const {
  if (m_element == nullptr || name.empty()) return false;
  const XmlAttribute* attribute = xml_records::FindAttribute(*m_element, name);
  if (attribute == nullptr) return false;
  xml_text::AssignWithProviderId(attribute->value, value);
  return true;
}

HxStr TuXMLNode::GetAttributeValue(std::string_view name) const {
  HxStr value;
  GetAttribute(name, value);
  return value;
}

TuXMLNode TuXMLNode::Duplicate() const { return TuXMLNode(m_element); }

bool TuXMLNode::FindChildren(std::string_view name, TuXMLNodeList& list) const {
  return list.AssignChildren(m_element, name);
}

bool TuXMLNode::IsValid() const { return m_element != nullptr; }

TuXMLNode TuXMLNode::GetNextChild(const TuXMLNode& after) const {
  if (m_element == nullptr) return TuXMLNode();
  if (after.IsValid()) return TuXMLNode(after.Record()->nextSibling);
  return TuXMLNode(m_element->firstChild);
}

TuXMLNode TuXMLNode::GetFirstChild() const {
  return TuXMLNode(m_element ? m_element->firstChild : nullptr);
}

TuXMLNode TuXMLNode::GetParent() const {
  return TuXMLNode(m_element ? m_element->parent : nullptr);
}

bool TuXMLNode::IsCData() const { return m_element && m_element->cdata; }

TuXMLNode TuXMLNode::AddChildWithText(std::string_view name, std::string_view text,
                                      bool cdata) const {
  TuXMLNode child = AddChild(name);
  child.SetText(text, cdata);
  return child;
}

TuXMLNode TuXMLNode::AddChild(std::string_view name) const {
  if (m_element == nullptr) return TuXMLNode();
  return TuXMLNode(xml_records::NewElement(xml_text::FromAnsi(name), *m_element));
}

bool TuXMLNode::SetName(std::string_view name) const {
  if (m_element == nullptr) return false;
  m_element->name = xml_text::FromAnsi(name);
  return true;
}

bool TuXMLNode::SetText(std::string_view text, bool cdata) const {
  if (m_element == nullptr) return false;
  if (!m_element->text.Assign(m_element->document->pool, xml_text::StoredText(text))) {
    xml_error::SetCode(xml_error::kOutOfMemory);
    return false;
  }
  m_element->hasText = true;
  m_element->cdata = cdata;
  return true;
}

bool TuXMLNode::Delete() {
  if (m_element == nullptr) return false;
  xml_records::DeleteElement(m_element);
  m_element = nullptr;
  return true;
}

bool TuXMLNode::RemoveChildren(std::string_view name) const {
  if (m_element == nullptr) return false;
  bool removed = false;
  for (XmlElement* child = m_element->firstChild; child != nullptr;) {
    XmlElement* next = child->nextSibling;
    if (child->name == name) {
      xml_records::DeleteElement(child);
      removed = true;
    }
    child = next;
  }
  return removed;
}

TuXMLAttr TuXMLNode::SetAttribute(std::string_view name, std::string_view value) const {
  if (m_element == nullptr) return TuXMLAttr();
  return TuXMLAttr(
      xml_records::SetAttribute(*m_element, xml_text::FromAnsi(name), xml_text::FromAnsi(value)));
}

bool TuXMLNode::RemoveAttribute(std::string_view name) const {
  return m_element && xml_records::RemoveAttribute(*m_element, name);
}

void TuXMLNode::RemoveAllAttributes() const {
  if (m_element) xml_records::RemoveAllAttributes(*m_element);
}

bool TuXMLNode::RenderToString(HxStr& out, bool escape) const {
  if (m_element == nullptr) return false;
  return xml_writer::RenderElement(*m_element, escape, LocalPath(GetTempRoot()), out);
}
