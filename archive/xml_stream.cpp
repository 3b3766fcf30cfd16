// The hardened expat stream.
#include "archive/xml_stream.h"

#include <expat.h>

#include <algorithm>
#include <cstring>

namespace Kalvex {

// Expat's C callbacks, forwarding to the handler.
struct XmlCallbacks {
  static XmlStream& Stream(void* data) { return *static_cast<XmlStream*>(data); }

  static void Start(void* data, const XML_Char* name, const XML_Char** attributes) {
    Stream(data).handler_.StartElement(name, attributes);
  }
  static void End(void* data, const XML_Char* name) { Stream(data).handler_.EndElement(name); }
  static void Text(void* data, const XML_Char* text, int length) {
    Stream(data).handler_.CharacterData(std::string_view(text, static_cast<std::size_t>(length)));
  }
  // Neither workbook format has a document type declaration; one in a workbook part is an
  // attempt at entity expansion or an external fetch, and ends the parse.
  static void Doctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    Stream(data).Stop(true);
  }
  static void EntityDeclaration(void* data, const XML_Char*, int, const XML_Char*, int,
                                const XML_Char*, const XML_Char*, const XML_Char*,
                                const XML_Char*) {
    Stream(data).Stop(true);
  }
};

void XmlHandler::Fail() {
  if (stream_ != nullptr) stream_->Stop(true);
}

void XmlHandler::FinishEarly() {
  if (stream_ != nullptr) stream_->Stop(false);
}

const char* FindAttribute(const char** attributes, std::string_view localName) {
  for (const char** a = attributes; a != nullptr && a[0] != nullptr; a += 2) {
    if (LocalName(a[0]) == localName) return a[1];
  }
  return nullptr;
}

const char* FindQualifiedAttribute(const char** attributes, std::string_view name) {
  for (const char** a = attributes; a != nullptr && a[0] != nullptr; a += 2) {
    if (name == a[0]) return a[1];
  }
  return nullptr;
}

XmlStream::XmlStream(XmlHandler& handler)
    : parser_(XML_ParserCreateNS(nullptr, '|')), handler_(handler) {
  handler_.stream_ = this;
  if (parser_ == nullptr) {
    failed_ = true;
    return;
  }
  XML_SetUserData(parser_, this);
  XML_SetElementHandler(parser_, XmlCallbacks::Start, XmlCallbacks::End);
  XML_SetCharacterDataHandler(parser_, XmlCallbacks::Text);
  XML_SetStartDoctypeDeclHandler(parser_, XmlCallbacks::Doctype);
  XML_SetEntityDeclHandler(parser_, XmlCallbacks::EntityDeclaration);
  XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
}

XmlStream::~XmlStream() {
  handler_.stream_ = nullptr;
  if (parser_ != nullptr) XML_ParserFree(parser_);
}

void XmlStream::Stop(bool asFailure) {
  if (failed_ || finishedEarly_) return;
  if (asFailure)
    failed_ = true;
  else
    finishedEarly_ = true;
  XML_StopParser(parser_, XML_FALSE);
}

bool XmlStream::Feed(const char* data, std::size_t size) {
  if (failed_ || finishedEarly_) return false;
  // Expat takes lengths as int: long pieces go in parts.
  while (size > 0) {
    const int piece = static_cast<int>(std::min<std::size_t>(size, 1 << 20));
    if (XML_Parse(parser_, data, piece, XML_FALSE) != XML_STATUS_OK) {
      if (!finishedEarly_) failed_ = true;
      return false;
    }
    data += piece;
    size -= static_cast<std::size_t>(piece);
  }
  return true;
}

bool XmlStream::Finish() {
  if (finishedEarly_) return true;
  if (failed_) return false;
  if (XML_Parse(parser_, "", 0, XML_TRUE) != XML_STATUS_OK) {
    if (!finishedEarly_) failed_ = true;
  }
  return finishedEarly_ || !failed_;
}

bool ParseXmlMember(ZipArchive& archive, std::int64_t member, XmlHandler& handler) {
  XmlStream stream(handler);
  const bool streamed = archive.Stream(
      member, [&stream](const char* data, std::size_t size) { return stream.Feed(data, size); });
  if (stream.FinishedEarly()) return true;
  return streamed && stream.Finish();
}

}  // namespace Kalvex
