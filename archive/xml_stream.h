// A streaming XML parser (expat) for the package formats, hardened for hostile input: a
// document type declaration of any kind ends the parse with a failure, so no entity is
// ever declared, expanded or fetched; markup nesting is tracked by expat itself, never by
// recursion here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "archive/zip_archive.h"

struct XML_ParserStruct;

namespace Kalvex {

class XmlStream;

// The parse's events. Element and attribute names arrive with namespaces resolved, as
// "namespace-uri|local-name" (or the bare local name when unqualified); LocalName() takes
// the part after the separator. Attributes are expat's array of name, value pairs ended
// by a null name.
class XmlHandler {
 public:
  virtual ~XmlHandler() = default;
  virtual void StartElement(std::string_view name, const char** attributes) = 0;
  virtual void EndElement(std::string_view name) = 0;
  virtual void CharacterData(std::string_view /*text*/) {}

 protected:
  // Called from an event: stop the parse as a failure, or as done because the rest of
  // the document is not wanted.
  void Fail();
  void FinishEarly();

 private:
  friend class XmlStream;
  XmlStream* stream_ = nullptr;
};

// The local part of a resolved name.
inline std::string_view LocalName(std::string_view name) {
  const std::size_t bar = name.rfind('|');
  return bar == std::string_view::npos ? name : name.substr(bar + 1);
}

// The namespace part of a resolved name, empty when unqualified.
inline std::string_view NamespaceOf(std::string_view name) {
  const std::size_t bar = name.rfind('|');
  return bar == std::string_view::npos ? std::string_view() : name.substr(0, bar);
}

// The value of the attribute whose local name is localName (any namespace), or null.
const char* FindAttribute(const char** attributes, std::string_view localName);
// The value of the attribute whose resolved name is exactly name ("uri|local"), or null.
const char* FindQualifiedAttribute(const char** attributes, std::string_view name);

class XmlStream {
 public:
  explicit XmlStream(XmlHandler& handler);
  XmlStream(const XmlStream&) = delete;
  XmlStream& operator=(const XmlStream&) = delete;
  ~XmlStream();

  // Parses one more piece of the document. False when the document is not well-formed, a
  // handler failed it, or it was finished early.
  bool Feed(const char* data, std::size_t size);
  // Ends the document. True when it was whole and well-formed or finished early.
  bool Finish();
  bool FinishedEarly() const { return finishedEarly_; }

 private:
  friend class XmlHandler;
  friend struct XmlCallbacks;
  void Stop(bool asFailure);

  XML_ParserStruct* parser_;
  XmlHandler& handler_;
  bool failed_ = false;
  bool finishedEarly_ = false;
};

// Parses a zip member as one XML document through handler. True when it was read and
// parsed whole, or until the handler finished early.
bool ParseXmlMember(ZipArchive& archive, std::int64_t member, XmlHandler& handler);

}  // namespace Kalvex
