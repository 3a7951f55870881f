// Streams a whole XML document (a flat OpenDocument file, an XML Spreadsheet, a part of an
// OpenDocument package) through expat into a handler. Unlike the .xlsx parts, these documents mix
// vocabularies whose local names clash (office:value-type and calcext:value-type), so names are
// bound to their namespaces: the handler sees "uri|local", or "local" alone when unbound. Entity
// declarations are refused as in the package reader: spreadsheets never need them, and they are
// how entity bombs start.
#pragma once

#include <expat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "memory_budget.h"
#include "result.h"
#include "xlsx/zip_reader.h"
#include "xml_sax.h"

namespace qm::xmldoc {

inline constexpr char kSeparator = '|';

// The local part of an expanded name "uri|local".
inline std::string_view Local(const XML_Char* name) {
  std::string_view s(name);
  const size_t bar = s.rfind(kSeparator);
  return bar == std::string_view::npos ? s : s.substr(bar + 1);
}

// The namespace of an expanded name, "" when it has none.
inline std::string_view Namespace(const XML_Char* name) {
  std::string_view s(name);
  const size_t bar = s.rfind(kSeparator);
  return bar == std::string_view::npos ? std::string_view() : s.substr(0, bar);
}

// The value of the attribute with this local name in any namespace, or nullptr.
inline const char* Attr(const XML_Char** atts, std::string_view local) {
  for (; *atts; atts += 2)
    if (Local(atts[0]) == local) return atts[1];
  return nullptr;
}

// The value of the attribute `local` of namespace `ns`, or nullptr.
inline const char* AttrNs(const XML_Char** atts, std::string_view ns, std::string_view local) {
  for (; *atts; atts += 2)
    if (Local(atts[0]) == local && Namespace(atts[0]) == ns) return atts[1];
  return nullptr;
}

// Documents in an encoding expat does not know itself (a GBK or Big5 declaration, which some
// Chinese systems write): the text converted to UTF-8 into `utf8`, to be parsed with "UTF-8" as
// the encoding. False when the document is in UTF-8, UTF-16, ASCII or Latin-1 already.
bool ConvertForeignEncoding(const uint8_t* data, size_t size, std::string& utf8);

// What expat found wrong, in Chinese for the common cases, else in expat's words.
std::string ErrorText(XML_Error code);

// Handlers derive from this: Fail stops the parse with an error, Stop ends it early as a success
// (a reader that has all it was asked for).
class Handler : public sax::Handler {
 public:
  void Stop() {
    done = true;
    if (parser) XML_StopParser(parser, XML_FALSE);
  }
  bool done = false;
};

// Gives the document's bytes to `push` piece by piece; `push` returns false to stop.
using Feed = std::function<Status(const std::function<bool(const char*, size_t)>& push)>;

// H provides Start(const XML_Char* name, const XML_Char** atts), End(const XML_Char* name) and
// Text(const char*, int); names are expanded as above. A handler that has seen all it wants calls
// Stop(): that is no failure. `encoding` overrides the document's own
// declaration (for text a caller converted first); `what` names the document in messages.
template <class H>
Status Parse(const Feed& feed, H& h, const std::string& what, const char* encoding = nullptr) {
  XML_Parser p = XML_ParserCreateNS(encoding, kSeparator);
  if (!p) return MakeError(ErrorCode::kNoMemory, what + ": 无法启动XML解析器", "内存不足以解析XML");
  struct Guard {
    XML_Parser p;
    ~Guard() { XML_ParserFree(p); }
  } guard{p};
  h.parser = p;
  XML_SetUserData(p, &h);
  XML_SetElementHandler(
      p,
      [](void* ud, const XML_Char* n, const XML_Char** a) {
        auto* h = static_cast<H*>(ud);
        h->Guarded([&] { h->Start(n, a); });
      },
      [](void* ud, const XML_Char* n) {
        auto* h = static_cast<H*>(ud);
        h->Guarded([&] { h->End(n); });
      });
  XML_SetCharacterDataHandler(p, [](void* ud, const XML_Char* s, int len) {
    auto* h = static_cast<H*>(ud);
    h->Guarded([&] { h->Text(s, len); });
  });
  XML_SetEntityDeclHandler(p, [](void* ud, const XML_Char* name, int, const XML_Char*, int,
                                 const XML_Char*, const XML_Char*, const XML_Char*,
                                 const XML_Char*) {
    static_cast<H*>(ud)->Fail(MakeError(
        ErrorCode::kTooLarge, std::string("声明了XML实体“") + name + "”，可能是实体炸弹，已拒绝"));
  });
  XML_SetParamEntityParsing(p, XML_PARAM_ENTITY_PARSING_NEVER);
  std::string xml_msg;
  auto malformed = [&] {
    xml_msg = "第" + std::to_string(XML_GetCurrentLineNumber(p)) + "行：" +
              ErrorText(XML_GetErrorCode(p));
  };
  Status st = feed([&](const char* d, size_t n) {
    // Pieces stay small, so a handler's failure or its "done" stops the parse soon.
    while (n > 0) {
      const size_t piece = std::min<size_t>(n, size_t{1} << 20);
      if (XML_Parse(p, d, static_cast<int>(piece), XML_FALSE) != XML_STATUS_OK) {
        if (!h.error && !h.done) malformed();
        return false;
      }
      d += piece;
      n -= piece;
    }
    return true;
  });
  auto named = [&](Error e) {
    // The user's bracket says what is wrong; the detail also says where.
    if (e.note.empty()) e.note = e.detail;
    e.detail = what + ": " + e.detail;
    return e;
  };
  if (h.error) return named(*h.error);
  if (h.done) return Status::Ok();
  if (!st) return st;
  if (xml_msg.empty() && XML_Parse(p, "", 0, XML_TRUE) != XML_STATUS_OK) {
    if (h.error) return named(*h.error);
    if (h.done) return Status::Ok();
    malformed();
  }
  if (!xml_msg.empty()) {
    return named(MakeError(ErrorCode::kCorrupt, "XML格式错误，" + xml_msg));
  }
  return Status::Ok();
}

// The same over bytes in memory.
template <class H>
Status ParseBytes(const char* data, size_t size, H& h, const std::string& what,
                  const char* encoding = nullptr) {
  return Parse(
      [&](const std::function<bool(const char*, size_t)>& push) {
        (void)push(data, size);
        return Status::Ok();
      },
      h, what, encoding);
}

// The same over an entry of a zip package.
template <class H>
Status ParseEntry(zip::Archive& zip, const zip::Entry& entry, H& h, const std::string& what) {
  return Parse(
      [&](const std::function<bool(const char*, size_t)>& push) {
        return zip.Extract(entry, push);
      },
      h, what + ": " + entry.name);
}

}  // namespace qm::xmldoc
