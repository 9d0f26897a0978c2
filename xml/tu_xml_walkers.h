// The element walkers. Both are element handles whose current element moves:
// TuXMLNodeList steps through a list of elements (the result of FindChildren or FindNodes);
// TuXMLNodeEnum walks the subtree below its start element depth first.
#pragma once
#include <string_view>
#include <vector>

#include "xml/tu_xml_node.h"

class TuXMLNodeList : public TuXMLNode {
 public:
  TuXMLNodeList() = default;

  // Frees the elements; count, cursor and the current item become 0 and invalid.
  virtual void Clear();
  // The element at the cursor becomes the current item and the cursor advances; false at the end.
  virtual bool Next();
  virtual int GetCount() const;
  virtual int GetPosition() const;
  // Cursor 0, current item invalid.
  virtual void Reset();

  // Replaces the elements and resets the cursor (FindNodes).
  void Assign(std::vector<XmlElement*> elements);
  // Replaces the elements with the children of `parent` named exactly `name`, reusing the
  // list's storage (FindChildren); true when there is at least one.
  bool AssignChildren(const XmlElement* parent, std::string_view name);

 private:
  std::vector<XmlElement*> m_items;
  size_t m_cursor = 0;
};

class TuXMLNodeEnum : public TuXMLNode {
 public:
  TuXMLNodeEnum() = default;
  explicit TuXMLNodeEnum(XmlElement* start);

  // The next element in depth-first pre-order below the start element (itself excluded).
  virtual bool Next();
  // Leaves the current element's subtree for its next sibling; false, position unchanged, when
  // there is none or the walker is at its start element.
  virtual bool NextSibling();
  // Descends to the current element's next unvisited child (the first one at first).
  virtual bool NextChild();
  // Back to the start element with no child visited.
  virtual void Reset();
  // 0 at the start element, one more per level below; -1 over an invalid element.
  virtual int GetDepth() const;

 private:
  struct Frame {
    XmlElement* element;
    XmlElement* lastVisited;  // the child visited last, none at first
  };
  // The child that NextChild would visit from `frame`, or null.
  static XmlElement* NextUnvisited(const Frame& frame);

  XmlElement* m_start = nullptr;
  std::vector<Frame> m_frames;  // the top frame is the current element's
};
