#include "xml/tu_xml_walkers.h"

#include <utility>

#include "xml/xml_records.h"

void TuXMLNodeList::Clear() {
  m_items.clear();
  m_items.shrink_to_fit();
  m_cursor = 0;
  m_element = nullptr;
}

bool TuXMLNodeList::Next() {
  if (m_cursor >= m_items.size()) return false;
  m_element = m_items[m_cursor++];
  return true;
}

int TuXMLNodeList::GetCount() const { return static_cast<int>(m_items.size()); }

int TuXMLNodeList::GetPosition() const { return static_cast<int>(m_cursor); }

void TuXMLNodeList::Reset() {
  m_cursor = 0;
  m_element = nullptr;
}

void TuXMLNodeList::Assign(std::vector<XmlElement*> elements) {
  m_items = std::move(elements);
  Reset();
}

bool TuXMLNodeList::AssignChildren(const XmlElement* parent, std::string_view name) {
  m_items.clear();
  if (parent != nullptr) {
    for (XmlElement* child = parent->firstChild; child; child = child->nextSibling) {
      if (child->name == name) m_items.push_back(child);
    }
  }
  Reset();
  return !m_items.empty();
}

TuXMLNodeEnum::TuXMLNodeEnum(XmlElement* start) : TuXMLNode(start), m_start(start) { Reset(); }

XmlElement* TuXMLNodeEnum::NextUnvisited(const Frame& frame) {
  return frame.lastVisited ? frame.lastVisited->nextSibling : frame.element->firstChild;
}

bool TuXMLNodeEnum::Next() {
  // The deepest open frame that still has an unvisited child: the current element's own
  // children come first, then its next sibling, then those of its ancestors.
  size_t depth = m_frames.size();
  while (depth > 0 && NextUnvisited(m_frames[depth - 1]) == nullptr) --depth;
  if (depth == 0) return false;
  m_frames.resize(depth);
  m_element = m_frames.back().element;
  return NextChild();
}

bool TuXMLNodeEnum::NextSibling() {
  if (m_frames.size() < 2 || m_element->nextSibling == nullptr) return false;
  m_frames.pop_back();
  m_element = m_frames.back().element;
  return NextChild();
}

bool TuXMLNodeEnum::NextChild() {
  if (m_frames.empty()) return false;
  XmlElement* child = NextUnvisited(m_frames.back());
  if (child == nullptr) return false;
  m_frames.back().lastVisited = child;
  m_frames.push_back(Frame{child, nullptr});
  m_element = child;
  return true;
}

void TuXMLNodeEnum::Reset() {
  m_element = m_start;
  m_frames.clear();
  if (m_start != nullptr) m_frames.push_back(Frame{m_start, nullptr});
}

int TuXMLNodeEnum::GetDepth() const { return static_cast<int>(m_frames.size()) - 1; }
