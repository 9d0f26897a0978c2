// Handles on the records of a TuXMLTree: TuXMLNode (an element), TuXMLAttr (an attribute) and
// TuXMLAttrEnum (a walk over an element's attributes). A handle is a pointer that owns nothing:
// copies point at the same record, and a handle must not be used once its record is deleted or
// its tree cleared. Operations on an invalid handle return empty strings, invalid handles or
// false and change nothing. Strings go in and come out in the ANSI code page (UTF-8 here);
// every text and attribute value read back has "%PROVIDERID%" replaced by the context's
// provider id.
#pragma once
#include <cstddef>
#include <string_view>

#include "foundation/strings/hx_str.h"

struct XmlAttribute;
struct XmlElement;
class TuXMLAttrEnum;
class TuXMLNodeEnum;
class TuXMLNodeList;

class TuXMLAttr {
 public:
  TuXMLAttr() = default;
  explicit TuXMLAttr(XmlAttribute* attribute) : m_attribute(attribute) {}
  TuXMLAttr(const TuXMLAttr&) = default;
  TuXMLAttr& operator=(const TuXMLAttr&) = default;
  virtual ~TuXMLAttr() = default;

  virtual HxStr GetName() const;
  virtual HxStr GetValue() const;
  virtual TuXMLAttr Duplicate() const;

  bool IsValid() const { return m_attribute != nullptr; }

 protected:
  XmlAttribute* m_attribute = nullptr;
};

class TuXMLAttrEnum : public TuXMLAttr {
 public:
  TuXMLAttrEnum() = default;
  explicit TuXMLAttrEnum(XmlElement* element) : m_element(element) {}

  // The first call moves to the element's first attribute, later calls to the next one; false
  // (position unchanged) at the end.
  virtual bool Next();

 private:
  XmlElement* m_element = nullptr;
};

class TuXMLNode {
 public:
  TuXMLNode() = default;
  explicit TuXMLNode(XmlElement* element) : m_element(element) {}
  TuXMLNode(const TuXMLNode&) = default;
  TuXMLNode& operator=(const TuXMLNode&) = default;
  virtual ~TuXMLNode() = default;

  virtual HxStr GetName() const;
  virtual HxStr GetText() const;
  // The stored text as UTF-16 in buffer[0..count), the rest zeros; nothing without a text.
  virtual void GetTextWide(char16_t* buffer, size_t count) const;
  // A walker that starts at this element.
  virtual TuXMLNodeEnum GetWalker() const;
  virtual TuXMLAttrEnum GetAttributes() const;
  // The value of the attribute named exactly `name`; false when it is missing.
  virtual bool GetAttribute(std::string_view name, HxStr& value) const;
  virtual HxStr GetAttributeValue(std::string_view name) const;
  virtual TuXMLNode Duplicate() const;
  // The direct children named exactly `name`, in document order; false when there are none.
  virtual bool FindChildren(std::string_view name, TuXMLNodeList& list) const;
  virtual bool IsValid() const;
  // The next sibling of `after` when it is valid, else this element's first child.
  virtual TuXMLNode GetNextChild(const TuXMLNode& after) const;
  virtual TuXMLNode GetFirstChild() const;
  virtual TuXMLNode GetParent() const;
  virtual bool IsCData() const;
  virtual TuXMLNode AddChildWithText(std::string_view name, std::string_view text,
                                     bool cdata) const;
  // A new last child; invalid when it cannot be allocated.
  virtual TuXMLNode AddChild(std::string_view name) const;
  virtual bool SetName(std::string_view name) const;
  // Replaces the text (see xml_text::StoredText) and sets the CDATA flag.
  virtual bool SetText(std::string_view text, bool cdata) const;
  // Unlinks and frees the element with its subtree; this handle becomes invalid.
  virtual bool Delete();
  // Deletes every direct child named `name`; true when one was deleted.
  virtual bool RemoveChildren(std::string_view name) const;
  // Replaces the value of the attribute of that name in its place, or appends one.
  virtual TuXMLAttr SetAttribute(std::string_view name, std::string_view value) const;
  virtual bool RemoveAttribute(std::string_view name) const;
  virtual void RemoveAllAttributes() const;
  // The subtree as SaveAs writes it, indented from depth 3, with "\n" line ends. It passes
  // through a "_tf" file in the context's temporary directory; false when that cannot be made.
  virtual bool RenderToString(HxStr& out, bool escape) const;

  // The element record, for the tree and the walkers.
  XmlElement* Record() const { return m_element; }

 protected:
  XmlElement* m_element = nullptr;
};
