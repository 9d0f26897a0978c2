// The state of one load: the expat parser with its callbacks, the document being built and the
// innermost open element. It outlives a failed load so that the parser's message, line and
// column can still be read; the half-built document is dropped at once.
//
// A piece limit guards against documents built to make the parser slow or large: with it, a
// load refuses any element text, and any tag (with its attributes), comment or other markup,
// longer than the limit. The parser reports such a piece only once it is complete, so a piece
// still unfinished at the end of the bytes fed so far counts too.
#pragma once
#include <cstddef>
#include <memory>

#include "foundation/strings/hx_str.h"

struct XML_ParserStruct;
struct XmlDocument;
struct XmlElement;

class XmlParseState {
 public:
  // `pieceLimit` 0: no limit.
  XmlParseState(bool trim, size_t pieceLimit);
  XmlParseState(const XmlParseState&) = delete;
  XmlParseState& operator=(const XmlParseState&) = delete;
  ~XmlParseState();

  // False when the parser could not be created.
  bool Ready() const { return m_parser != nullptr; }

  // Hands the next bytes to the parser. On failure the thread's XML error code is 3 (or 1 when
  // a record could not be allocated) and the partial document is gone.
  bool Feed(const char* data, size_t size, bool final);

  // Room for the next `size` bytes inside the parser, so that a file is read without a copy;
  // null, with code 1, when there is none. ParseBuffered then parses what was written there.
  char* NextBuffer(size_t size);
  bool ParseBuffered(size_t size, bool final);

  // How many bytes to feed next: at least `block`, and at least as many as the piece the parser
  // has not finished holds, which keeps its rescans of that piece linear in the input; but with
  // a limit no more than the piece needs to go past it.
  size_t NextFeedSize(size_t block) const;

  // The document built so far (null when none was started).
  std::unique_ptr<XmlDocument> TakeDocument();

  // The parser's message for its current error code, and its current line and column; for a
  // refused piece the refusal and where the piece starts (for a text: where it went over).
  HxStr ErrorText() const;
  int ErrorLine() const;
  int ErrorColumn() const;

 private:
  static void OnDeclaration(void* self, const char* version, const char* encoding, int);
  static void OnStartElement(void* self, const char* name, const char** attributes);
  static void OnEndElement(void* self, const char* name);
  static void OnCharacterData(void* self, const char* data, int length);
  static void OnStartCData(void* self);
  static void OnOtherMarkup(void* self, const char* data, int length);

  // Runs a callback's work unless the load has already failed; an allocation failure stops it.
  template <typename Work>
  static void Guarded(void* self, Work work);
  bool EnsureDocument();
  void FailOutOfMemory();
  // Refuses the piece that starts (for a text: goes on) at the parser's current position; the
  // second form, from within a callback, also stops the parser and returns false.
  void RefusePiece();
  bool RefusePieceAndStop();
  // Notes how far the parser got with the current event; false, with the parser stopped, when
  // the event is markup longer than the limit (a text's length counts once it is stored).
  bool Progress(bool markup = true);
  bool OverLimit(size_t length) const { return m_pieceLimit != 0 && length > m_pieceLimit; }
  // Bytes fed that belong to a piece the parser has not finished.
  size_t Unfinished() const { return static_cast<size_t>(m_fed - m_consumed); }
  bool ParsePiece(const char* data, size_t size, bool final);
  // Ends a parser call: true when it succeeded, else the error code set and the document gone.
  bool Settle(bool parsed, bool final);

  XML_ParserStruct* m_parser = nullptr;
  std::unique_ptr<XmlDocument> m_document;
  XmlElement* m_current = nullptr;
  bool m_trim;
  size_t m_pieceLimit;
  long long m_fed = 0;       // bytes handed to the parser
  long long m_consumed = 0;  // bytes of the events reported so far
  bool m_outOfMemory = false;
  bool m_overLimit = false;
  int m_refusedLine = 0;  // where the refused piece starts
  int m_refusedColumn = 0;
};
