#include "xml/xml_parse_state.h"

#include <expat.h>

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

XmlParseState::XmlParseState(bool trim) : m_parser(XML_ParserCreate(nullptr)), m_trim(trim) {
  if (m_parser == nullptr) return;
  XML_SetUserData(m_parser, this);
  XML_SetXmlDeclHandler(m_parser, &XmlParseState::OnDeclaration);
  XML_SetElementHandler(m_parser, &XmlParseState::OnStartElement, &XmlParseState::OnEndElement);
  XML_SetCharacterDataHandler(m_parser, &XmlParseState::OnCharacterData);
  XML_SetStartCdataSectionHandler(m_parser, &XmlParseState::OnStartCData);
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
  if (XML_Parse(m_parser, data, static_cast<int>(size), final ? XML_TRUE : XML_FALSE) !=
          XML_STATUS_ERROR &&
      !m_outOfMemory) {
    return true;
  }
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
  const XML_LChar* text = m_parser ? XML_ErrorString(XML_GetErrorCode(m_parser)) : nullptr;
  return text ? HxStr(text) : xml_error::CodeText(xml_error::kParser);
}

int XmlParseState::ErrorLine() const {
  return m_parser ? static_cast<int>(XML_GetCurrentLineNumber(m_parser)) : 0;
}

int XmlParseState::ErrorColumn() const {
  return m_parser ? static_cast<int>(XML_GetCurrentColumnNumber(m_parser)) : 0;
}

template <typename Work>
void XmlParseState::Guarded(void* self, Work work) {
  auto& state = *static_cast<XmlParseState*>(self);
  if (state.m_outOfMemory) return;  // the parser may still report the rest of a token
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

bool XmlParseState::EnsureDocument() {
  if (!m_document) m_document.reset(new (std::nothrow) XmlDocument);
  if (!m_document) FailOutOfMemory();
  return m_document != nullptr;
}

void XmlParseState::OnDeclaration(void* self, const char* version, const char* encoding, int) {
  Guarded(self, [&](XmlParseState& state) {
    if (!state.EnsureDocument()) return;
    if (version != nullptr) state.m_document->version = version;
    if (encoding != nullptr) state.m_document->encoding = encoding;
  });
}

void XmlParseState::OnStartElement(void* self, const char* name, const char** attributes) {
  Guarded(self, [&](XmlParseState& state) {
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
    if (state.m_current == nullptr) return;
    xml_text::SettleParsedText(*state.m_current, state.m_trim);
    state.m_current = state.m_current->parent;
  });
}

void XmlParseState::OnCharacterData(void* self, const char* data, int length) {
  Guarded(self, [&](XmlParseState& state) {
    if (state.m_current == nullptr) return;
    std::string_view piece(data, static_cast<size_t>(length));
    XmlElement& element = *state.m_current;
    if (state.m_trim && !element.hasText) {
      // Leading whitespace would be trimmed at the element's end: never store it.
      while (!piece.empty() && xml_text::IsWhitespace(piece.front())) piece.remove_prefix(1);
      if (piece.empty()) return;
    }
    if (!element.text.Append(element.document->pool, piece)) return state.FailOutOfMemory();
    element.hasText = true;
  });
}

void XmlParseState::OnStartCData(void* self) {
  Guarded(self, [](XmlParseState& state) {
    if (state.m_current != nullptr) state.m_current->cdata = true;
  });
}
