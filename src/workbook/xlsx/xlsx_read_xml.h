// Streams one package part through expat into a handler, matching elements by local name so
// the transitional and the Strict namespaces (and any prefixes) read alike. Entity declarations are
// refused outright: a workbook part never needs them, and they are how entity bombs start.
#pragma once

#include <expat.h>

#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "../memory_budget.h"
#include "../xml_sax.h"
#include "zip_reader.h"

namespace qm::xlsx {

// The expat helpers every XML reader shares, under the names this reader has always used.
using sax::Attr;
using sax::LocalName;
using XmlHandler = sax::Handler;

// H provides Start(std::string_view local, const XML_Char** atts), End(std::string_view local)
// and Text(const char*, int).
template <class H>
Status ParseXmlPart(zip::Archive& zip, const zip::Entry& entry, H& h, const std::string& file) {
  XML_Parser p = XML_ParserCreate(nullptr);
  if (!p)
    return MakeError(ErrorCode::kTooLarge, file + ": out of memory starting the XML parser",
                     "内存不足，无法开始解析");
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
        h->Guarded([&] { h->Start(LocalName(n), a); });
      },
      [](void* ud, const XML_Char* n) {
        auto* h = static_cast<H*>(ud);
        h->Guarded([&] { h->End(LocalName(n)); });
      });
  XML_SetCharacterDataHandler(p, [](void* ud, const XML_Char* s, int len) {
    auto* h = static_cast<H*>(ud);
    h->Guarded([&] { h->Text(s, len); });
  });
  XML_SetEntityDeclHandler(
      p, [](void* ud, const XML_Char* name, int, const XML_Char*, int, const XML_Char*,
            const XML_Char*, const XML_Char*, const XML_Char*) {
        auto* self = static_cast<H*>(ud);
        self->Fail(MakeError(ErrorCode::kTooLarge,
                             std::string("declares the XML entity \"") + name +
                                 "\" (entity expansion is refused: possible entity bomb)",
                             "含有实体声明，为防止恶意展开拒绝读取"));
      });
  XML_SetParamEntityParsing(p, XML_PARAM_ENTITY_PARSING_NEVER);
  bool xml_failed = false;
  std::string xml_msg;
  unsigned long xml_line = 0;
  Status st = zip.Extract(entry, [&](const char* d, size_t n) {
    if (XML_Parse(p, d, static_cast<int>(n), XML_FALSE) != XML_STATUS_OK) {
      if (!h.error) {
        xml_failed = true;
        xml_line = static_cast<unsigned long>(XML_GetCurrentLineNumber(p));
        xml_msg = std::string(XML_ErrorString(XML_GetErrorCode(p))) + " at line " +
                  std::to_string(xml_line);
      }
      return false;
    }
    return true;
  });
  auto named = [&](Error e) {
    e.detail = file + ": " + entry.name + ": " + e.detail;
    return e;
  };
  if (h.error) return named(*h.error);
  if (!st) return st;
  if (xml_failed)
    return named(MakeError(ErrorCode::kCorrupt, "malformed XML (" + xml_msg + ")",
                           "内部数据格式错误，在第" + std::to_string(xml_line) + "行"));
  if (XML_Parse(p, "", 0, XML_TRUE) != XML_STATUS_OK) {
    if (h.error) return named(*h.error);
    return named(
        MakeError(ErrorCode::kCorrupt,
                  std::string("malformed XML (") + XML_ErrorString(XML_GetErrorCode(p)) + ")",
                  "内部数据不完整"));
  }
  return Status::Ok();
}

}  // namespace qm::xlsx
