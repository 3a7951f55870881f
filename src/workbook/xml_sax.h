// What every expat-based reader shares: local names, attribute lookup, and a handler base that
// can stop the parse with an error (running out of memory included).
#pragma once

#include <expat.h>

#include <new>
#include <optional>
#include <string_view>
#include <utility>

#include "memory_budget.h"
#include "result.h"

namespace qm::sax {

// The local part of a qualified name "prefix:local". Namespaces are not bound: the parts of one
// package use one vocabulary, and binding them costs a third of the parse.
inline std::string_view LocalName(const XML_Char* name) {
  const char* local = name;
  const char* p = name;
  for (; *p; ++p)
    if (*p == ':') local = p + 1;
  return std::string_view(local, static_cast<size_t>(p - local));
}

// The value of the attribute with local name `local`, or nullptr.
inline const char* Attr(const XML_Char** atts, std::string_view local) {
  for (; *atts; atts += 2)
    if (LocalName(atts[0]) == local) return atts[1];
  return nullptr;
}

// Handlers derive from this to be able to stop the parse with an error.
class Handler {
 public:
  void Fail(Error e) {
    if (!error) error = std::move(e);
    if (parser) XML_StopParser(parser, XML_FALSE);
  }
  // Runs one callback of the handler. Running out of memory stops the parse with an error here:
  // an exception must not unwind through the parser's C frames.
  template <class F>
  void Guarded(F&& f) {
    try {
      f();
    } catch (const std::bad_alloc& e) {
      Fail(MakeError(ErrorCode::kNoMemory, "not enough memory to hold the workbook",
                     memory::NoMemoryNote(e)));
    }
  }
  XML_Parser parser = nullptr;
  std::optional<Error> error;
};

}  // namespace qm::sax
