// The state of one load: the expat parser with its callbacks, the document being built and the
// innermost open element. It outlives a failed load so that the parser's message, line and
// column can still be read; the half-built document is dropped at once.
#pragma once
#include <cstddef>
#include <memory>

#include "foundation/strings/hx_str.h"

struct XML_ParserStruct;
struct XmlDocument;
struct XmlElement;

class XmlParseState {
 public:
  explicit XmlParseState(bool trim);
  XmlParseState(const XmlParseState&) = delete;
  XmlParseState& operator=(const XmlParseState&) = delete;
  ~XmlParseState();

  // False when the parser could not be created.
  bool Ready() const { return m_parser != nullptr; }

  // Hands the next bytes to the parser. On failure the thread's XML error code is 3 (or 1 when
  // a record could not be allocated) and the partial document is gone.
  bool Feed(const char* data, size_t size, bool final);

  // The document built so far (null when none was started).
  std::unique_ptr<XmlDocument> TakeDocument();

  // The parser's message for its current error code, and its current line and column.
  HxStr ErrorText() const;
  int ErrorLine() const;
  int ErrorColumn() const;

 private:
  static void OnDeclaration(void* self, const char* version, const char* encoding, int);
  static void OnStartElement(void* self, const char* name, const char** attributes);
  static void OnEndElement(void* self, const char* name);
  static void OnCharacterData(void* self, const char* data, int length);
  static void OnStartCData(void* self);

  // Runs a callback's work unless the load has already failed; an allocation failure stops it.
  template <typename Work>
  static void Guarded(void* self, Work work);
  bool EnsureDocument();
  void FailOutOfMemory();
  bool ParsePiece(const char* data, size_t size, bool final);

  XML_ParserStruct* m_parser = nullptr;
  std::unique_ptr<XmlDocument> m_document;
  XmlElement* m_current = nullptr;
  bool m_trim;
  bool m_outOfMemory = false;
};
