// Text on its way to a terminal.
#pragma once

#include <cstddef>
#include <string>

namespace qm {

// Text as it may reach a terminal: valid UTF-8 (a byte that does not decode becomes U+FFFD) and
// no control character raw, since cells and file names may carry escape sequences that would
// drive the terminal. Controls are shown as \xHH (C1 controls as \u00HH); a tab stays. With
// `breaks`, CR LF, CR and LF are the text's own line breaks and print as one line break each.
std::string Printable(const std::string& s, bool breaks);

// Display columns of a UTF-8 text on a terminal: East Asian wide characters take two.
size_t DisplayWidth(const std::string& s);

}  // namespace qm
