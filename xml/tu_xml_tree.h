// TuXMLTree: one XML document, loaded from a file or a text, queried by slash-separated element
// paths, edited through handles (xml/tu_xml_node.h) and written back in a fixed, indented
// layout (xml/xml_writer.h).
//
// A tree is empty after construction and Clear. A successful load leaves the document and the
// parse state; a failed load leaves no document, and the parse state keeps the parser's error
// line and column. The error code is per thread (xml/xml_error_state.h): a load on one tree
// sets it for every tree of the calling thread, and destroying any tree resets it to 0.
#pragma once
#include <cstddef>
#include <memory>
#include <string_view>

#include "foundation/strings/hx_str.h"
#include "xml/tu_xml_node.h"
#include "xml/tu_xml_walkers.h"

class XmlParseState;
struct XmlDocument;

class TuXMLTree {
 public:
  // The file name of a tree loaded from a text.
  static constexpr const char* kBufferName = "buffer";

  TuXMLTree();
  TuXMLTree(const TuXMLTree&) = delete;
  TuXMLTree& operator=(const TuXMLTree&) = delete;
  virtual ~TuXMLTree();

  // Reads the file straight into the parser's buffer in large blocks, in time linear in its
  // size. When it cannot be opened: an empty document (see CreateNew) with `createIfMissing`,
  // else false with the error code left at 0. With `trim` every element text loses its leading
  // and trailing whitespace.
  virtual bool LoadFile(std::string_view path, bool trim, bool createIfMissing);
  // Parses `text` as one final piece; the file name becomes "buffer".
  virtual bool LoadBuffer(std::string_view text, bool trim);
  // Frees the document and the parse state (the file name stays).
  virtual void Clear();
  // A walker that starts at the root element.
  virtual TuXMLNodeEnum GetWalker() const;

  virtual bool HasError() const;
  virtual bool IsParseError() const;
  // Empty when valid; else the code's text, the parser's own message for a parse error.
  virtual HxStr GetErrorString() const;
  virtual int GetErrorLine() const;
  virtual int GetErrorColumn() const;
  // True with `out` untouched when valid; else one error line in `out` and false.
  virtual bool FormatError(HxStr& out) const;
  // A loaded document and a zero error code.
  virtual bool IsValid() const;
  virtual TuXMLNode GetRoot() const;
  // From the XML declaration; null when absent.
  virtual const char* GetVersion() const;
  virtual const char* GetEncoding() const;

  // The first element that FindNodes finds, else an invalid handle.
  virtual TuXMLNode FindNode(std::string_view path, const TuXMLNode& start = TuXMLNode()) const;
  // Path query: components between "/" (empty ones skipped, the path cut at 259 bytes). From a
  // valid `start` every component names children, beginning with start's; otherwise the first
  // must be the root's name (exact case). Each step follows the first match; `list` receives
  // every match of the last component. A path of the root's name alone is true with an empty
  // list.
  virtual bool FindNodes(std::string_view path, TuXMLNodeList& list,
                         const TuXMLNode& start = TuXMLNode()) const;

  // Clear, then an empty document without parse state (so IsValid stays false).
  virtual bool CreateNew();
  // A new element as the document's root (a document is made when there is none).
  virtual TuXMLNode CreateRoot(std::string_view name);
  virtual TuXMLNode AddChildWithText(const TuXMLNode& parent, std::string_view name,
                                     std::string_view text, bool cdata);
  virtual TuXMLNode AddChild(const TuXMLNode& parent, std::string_view name);
  virtual void SetNodeName(const TuXMLNode& node, std::string_view name);
  virtual void SetNodeText(const TuXMLNode& node, std::string_view text, bool cdata);
  virtual void DeleteNode(TuXMLNode& node);
  virtual void RemoveChildren(const TuXMLNode& node, std::string_view name);
  virtual TuXMLAttr SetAttribute(const TuXMLNode& node, std::string_view name,
                                 std::string_view value);
  virtual void RemoveAttribute(const TuXMLNode& node, std::string_view name);

  // Writes the document to `path`, else to the file name; false without a document.
  virtual bool SaveAs(bool escape, std::string_view path);
  virtual bool Save(std::string_view path = {});

  const HxStr& FileName() const { return m_fileName; }

  // Later loads refuse, as a parse error, a document with an element text or a tag (with its
  // attributes), comment or other markup longer than `bytes`; 0 (the default) sets no limit.
  void SetPieceLimit(size_t bytes) { m_pieceLimit = bytes; }

 private:
  // Starts a load: Clear, the file name and error code 0.
  void BeginLoad(std::string_view fileName);
  // A fresh parse state; false (code 1) when the parser cannot be made.
  bool StartParse(bool trim);
  // Ends a load: the parsed document becomes the tree's on success.
  bool FinishLoad(bool parsed);

  std::unique_ptr<XmlDocument> m_document;
  std::unique_ptr<XmlParseState> m_parse;
  HxStr m_fileName;
  size_t m_pieceLimit = 0;
};
