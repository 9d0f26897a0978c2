#include "xml/xml_parse_state.h"

#include <expat.h>

#include <algorithm>
#include <climits>
#include <new>
#include <string>
#include <string_view>

#include "xml/xml_error_state.h"
#include "xml/xml_records.h"
#include "xml/xml_text.h"

namespace {
// The parser takes lengths as int; larger inputs go in pieces of this size.
constexpr size_t kLargestPiece = size_t{1} << 30;
}  // namespace

XmlParseState::XmlParseState(bool trim, size_t pieceLimit)
    : m_parser(XML_ParserCreate(nullptr)), m_trim(trim), m_pieceLimit(pieceLimit) {
  if (m_parser == nullptr) return;
  XML_SetUserData(m_parser, this);
  XML_SetXmlDeclHandler(m_parser, &XmlParseState::OnDeclaration);
  XML_SetElementHandler(m_parser, &XmlParseState::OnStartElement, &XmlParseState::OnEndElement);
  XML_SetCharacterDataHandler(m_parser, &XmlParseState::OnCharacterData);
  XML_SetStartCdataSectionHandler(m_parser, &XmlParseState::OnStartCData);
  // Comments, declarations and the like: only their length and progress matter.
  XML_SetDefaultHandlerExpand(m_parser, &XmlParseState::OnOtherMarkup);
}

XmlParseState::~XmlParseState() {
  if (m_parser != nullptr) XML_ParserFree(m_parser);
}

bool XmlParseState::Feed(const char* data, size_t size, bool final) {
  for (; size > kLargestPiece; data += kLargestPiece, size -= kLargestPiece) {
    if (!ParsePiece(data, kLargestPiece, false)) return false;
  }
  return ParsePiece(data, size, final);
}

bool XmlParseState::ParsePiece(const char* data, size_t size, bool final) {
  m_fed += static_cast<long long>(size);
  return Settle(XML_Parse(m_parser, data, static_cast<int>(size), final ? XML_TRUE : XML_FALSE) !=
                    XML_STATUS_ERROR,
                final);
}

char* XmlParseState::NextBuffer(size_t size) {
  void* buffer = size <= kLargestPiece ? XML_GetBuffer(m_parser, static_cast<int>(size)) : nullptr;
  if (buffer == nullptr) {
    xml_error::SetCode(xml_error::kOutOfMemory);
    m_document.reset();
    m_current = nullptr;
  }
  return static_cast<char*>(buffer);
}

bool XmlParseState::ParseBuffered(size_t size, bool final) {
  m_fed += static_cast<long long>(size);
  return Settle(XML_ParseBuffer(m_parser, static_cast<int>(size), final ? XML_TRUE : XML_FALSE) !=
                    XML_STATUS_ERROR,
                final);
}

size_t XmlParseState::NextFeedSize(size_t block) const {
  const size_t unfinished = Unfinished();
  const size_t size = std::max(block, unfinished);
  if (m_pieceLimit == 0 || unfinished > m_pieceLimit) return size;
  return std::min(size, std::max(block, m_pieceLimit + 1 - unfinished));
}

bool XmlParseState::Settle(bool parsed, bool final) {
  // A piece that is still growing past the limit is refused before the rest of it is read.
  if (parsed && !final && OverLimit(Unfinished())) RefusePiece();
  if (parsed && !m_outOfMemory && !m_overLimit) return true;
  xml_error::SetCode(m_outOfMemory ? xml_error::kOutOfMemory : xml_error::kParser);
  m_document.reset();
  m_current = nullptr;
  return false;
}

std::unique_ptr<XmlDocument> XmlParseState::TakeDocument() {
  m_current = nullptr;
  return std::move(m_document);
}

HxStr XmlParseState::ErrorText() const {
  if (m_overLimit) {
    HxStr text;
    text.Format("text or markup longer than %zu bytes", m_pieceLimit);
    return text;
  }
  const XML_LChar* text = m_parser ? XML_ErrorString(XML_GetErrorCode(m_parser)) : nullptr;
  return text ? HxStr(text) : xml_error::CodeText(xml_error::kParser);
}

int XmlParseState::ErrorLine() const {
  if (m_overLimit) return m_refusedLine;
  return m_parser ? static_cast<int>(XML_GetCurrentLineNumber(m_parser)) : 0;
}

int XmlParseState::ErrorColumn() const {
  if (m_overLimit) return m_refusedColumn;
  return m_parser ? static_cast<int>(XML_GetCurrentColumnNumber(m_parser)) : 0;
}

template <typename Work>
void XmlParseState::Guarded(void* self, Work work) {
  auto& state = *static_cast<XmlParseState*>(self);
  // The parser may still report the rest of a token after it was stopped.
  if (state.m_outOfMemory || state.m_overLimit) return;
  try {
    work(state);
  } catch (const std::bad_alloc&) {
    state.FailOutOfMemory();  // no exception may cross the parser's C frames
  }
}

void XmlParseState::FailOutOfMemory() {
  m_outOfMemory = true;
  XML_StopParser(m_parser, XML_FALSE);
}

bool XmlParseState::Progress(bool markup) {
  const XML_Index at = XML_GetCurrentByteIndex(m_parser);
  const int length = XML_GetCurrentByteCount(m_parser);
  if (at >= 0) m_consumed = std::max(m_consumed, static_cast<long long>(at) + length);
  return !markup || !OverLimit(static_cast<size_t>(length)) || RefusePieceAndStop();
}

void XmlParseState::RefusePiece() {
  m_overLimit = true;
  m_refusedLine = static_cast<int>(XML_GetCurrentLineNumber(m_parser));
  m_refusedColumn = static_cast<int>(XML_GetCurrentColumnNumber(m_parser));
}

bool XmlParseState::RefusePieceAndStop() {
  RefusePiece();
  XML_StopParser(m_parser, XML_FALSE);
  return false;
}

bool XmlParseState::EnsureDocument() {
  if (!m_document) m_document.reset(new (std::nothrow) XmlDocument);
  if (!m_document) FailOutOfMemory();
  return m_document != nullptr;
}

void XmlParseState::OnDeclaration(void* self, const char* version, const char* encoding, int) {
  Guarded(self, [&](XmlParseState& state) {
    if (!state.Progress() || !state.EnsureDocument()) return;
    if (version != nullptr) state.m_document->version = version;
    if (encoding != nullptr) state.m_document->encoding = encoding;
  });
}

void XmlParseState::OnStartElement(void* self, const char* name, const char** attributes) {
  Guarded(self, [&](XmlParseState& state) {
    if (!state.Progress()) return;
    // Without an open element this is the root; the parser allows no second one.
    if (state.m_current == nullptr && !state.EnsureDocument()) return;
    XmlElement* element = state.m_current ? xml_records::NewElement(name, *state.m_current)
                                          : xml_records::NewRoot(*state.m_document, name);
    if (element == nullptr) return state.FailOutOfMemory();
    state.m_current = element;
    // The parser rejects a repeated attribute name, so none needs looking for.
    for (const char** pair = attributes; pair[0] != nullptr; pair += 2) {
      if (xml_records::AppendAttribute(*element, pair[0], pair[1]) == nullptr) {
        return state.FailOutOfMemory();
      }
    }
  });
}

void XmlParseState::OnEndElement(void* self, const char*) {
  Guarded(self, [](XmlParseState& state) {
    if (!state.Progress() || state.m_current == nullptr) return;
    xml_text::SettleParsedText(*state.m_current, state.m_trim);
    state.m_current = state.m_current->parent;
  });
}

void XmlParseState::OnCharacterData(void* self, const char* data, int length) {
  Guarded(self, [&](XmlParseState& state) {
    if (!state.Progress(false) || state.m_current == nullptr) return;
    std::string_view piece(data, static_cast<size_t>(length));
    XmlElement& element = *state.m_current;
    if (state.m_trim && !element.hasText) {
      // Leading whitespace would be trimmed at the element's end: never store it.
      while (!piece.empty() && xml_text::IsWhitespace(piece.front())) piece.remove_prefix(1);
      if (piece.empty()) return;
    }
    if (state.OverLimit(element.text.View().size() + piece.size())) {
      state.RefusePieceAndStop();
      return;
    }
    if (!element.text.Append(element.document->pool, piece)) return state.FailOutOfMemory();
    element.hasText = true;
  });
}

void XmlParseState::OnStartCData(void* self) {
  Guarded(self, [](XmlParseState& state) {
    if (state.Progress() && state.m_current != nullptr) state.m_current->cdata = true;
  });
}

void XmlParseState::OnOtherMarkup(void* self, const char*, int) {
  Guarded(self, [](XmlParseState& state) { state.Progress(); });
}
