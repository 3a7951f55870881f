// How the by-name merge tells that two header texts name the same column, and the other text
// rules it shares: Unicode whitespace, totals rows, keys compared by their text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm::byname {

// Unicode White_Space: tabs and line breaks, spaces (U+3000 and the no-break ones included).
bool IsWhiteSpace(uint32_t cp);

// The form under which two header texts match: compatibility characters folded as NFKC folds
// them (full-width forms, the ideographic space, circled and parenthesised numbers, super- and
// subscript digits, Roman numerals, a few letterlike signs and squared units), every whitespace
// character removed, ASCII letters in lower case. Bytes that are not UTF-8 stay as they are.
std::string MatchName(std::string_view header);

// The text without any whitespace character.
std::string WithoutWhiteSpace(std::string_view text);

// The text without whitespace at either end.
std::string_view TrimWhiteSpace(std::string_view text);

// Whether a row's first non-empty cell reading `text` makes it a totals row: 合计, 总计, 小计,
// 共计 or 累计 once whitespace is removed, optionally followed by a colon (":" or "："). Compared
// as written: a full-width colon is not folded.
bool IsTotalsLabel(std::string_view text);

}  // namespace qm::byname
