// A1 formula text: the lexer, and moving references when cells are pasted or rows deleted. Only
// references are re-spelled; every other character of the text is kept as it was written.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "workbook/formula/formula.h"
#include "workbook/formula/formula_lexer.h"

namespace qm {
namespace formula {
namespace {

constexpr int kGridRows = 1048576;
constexpr int kGridCols = 16384;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsAlpha(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsSpace(char c) {
  return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}
// Characters that may continue a name, a function name or a reference.
bool IsNameChar(char c) {
  return IsAlpha(c) || IsDigit(c) || c == '_' || c == '.' || c == '$' || c == '\\' || c == '?' ||
         static_cast<unsigned char>(c) >= 0x80;
}

char Upper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// "$AB" (letters only) -> column; false when it is not a column inside the grid.
bool ParseColumn(std::string_view s, size_t& i, RefPart& p) {
  p.col_abs = i < s.size() && s[i] == '$';
  if (p.col_abs) ++i;
  int col = 0, letters = 0;
  while (i < s.size() && IsAlpha(s[i])) {
    if (++letters > 3) return false;
    col = col * 26 + (Upper(s[i]) - 'A' + 1);
    ++i;
  }
  if (letters == 0 || col > kGridCols) return false;
  p.col = col;
  return true;
}

bool ParseRowNumber(std::string_view s, size_t& i, RefPart& p) {
  p.row_abs = i < s.size() && s[i] == '$';
  if (p.row_abs) ++i;
  int row = 0, digits = 0;
  while (i < s.size() && IsDigit(s[i])) {
    if (++digits > 7) return false;
    row = row * 10 + (s[i] - '0');
    ++i;
  }
  if (digits == 0 || row < 1 || row > kGridRows) return false;
  p.row = row;
  return true;
}

// The whole of `s` as a cell reference.
bool ParseCellText(std::string_view s, RefPart& p) {
  size_t i = 0;
  return ParseColumn(s, i, p) && ParseRowNumber(s, i, p) && i == s.size();
}
bool ParseColumnText(std::string_view s, RefPart& p) {
  size_t i = 0;
  return ParseColumn(s, i, p) && i == s.size();
}
bool ParseRowText(std::string_view s, RefPart& p) {
  size_t i = 0;
  return ParseRowNumber(s, i, p) && i == s.size();
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

constexpr std::string_view kErrorLiterals[] = {"#NULL!", "#DIV/0!", "#VALUE!",       "#REF!",
                                               "#NAME?", "#NUM!",   "#GETTING_DATA", "#N/A"};

}  // namespace

void Lexer::Scan(Token& t) {
  const size_t n = s_.size();
  t.begin = pos_;
  // Fills the token in place: returning it by value from here costs more than the scan.
  auto done = [&](Tok kind, size_t end) {
    t.kind = kind;
    t.end = pos_ = end;
  };
  if (pos_ >= n) return done(Tok::kEnd, n);
  const char c = s_[pos_];
  if (IsSpace(c)) {
    size_t e = pos_;
    while (e < n && IsSpace(s_[e])) ++e;
    return done(Tok::kSpace, e);
  }
  if (c == '"') {
    size_t e = pos_ + 1;
    for (;;) {
      if (e >= n) return done(Tok::kUnsupported, n);
      if (s_[e] == '"') {
        if (e + 1 < n && s_[e + 1] == '"') {
          e += 2;
          continue;
        }
        return done(Tok::kString, e + 1);
      }
      ++e;
    }
  }
  if (c == '#') {
    for (std::string_view lit : kErrorLiterals) {
      if (!EqualsNoCase(s_.substr(pos_, lit.size()), lit)) continue;
      size_t e = pos_ + lit.size();
      // "#REF!A1" is a reference into a sheet that no longer exists.
      if (e < n && IsNameChar(s_[e])) return done(Tok::kUnsupported, n);
      return done(Tok::kError, e);
    }
    return done(Tok::kUnsupported, n);
  }
  if (c == '{') {
    size_t e = pos_ + 1;
    bool in_str = false;
    while (e < n && (in_str || s_[e] != '}')) {
      if (s_[e] == '"') in_str = !in_str;
      ++e;
    }
    if (e >= n) return done(Tok::kUnsupported, n);
    return done(Tok::kArray, e + 1);
  }
  switch (c) {
    case '(':
      return done(Tok::kLParen, pos_ + 1);
    case ')':
      return done(Tok::kRParen, pos_ + 1);
    case ',':
      return done(Tok::kComma, pos_ + 1);
    case '+':
    case '-':
    case '*':
    case '/':
    case '^':
    case '&':
    case '=':
    case '%':
    case ':':
      return done(Tok::kOp, pos_ + 1);
    case '<':
      return done(Tok::kOp, pos_ + 1 < n && (s_[pos_ + 1] == '=' || s_[pos_ + 1] == '>')
                                ? pos_ + 2
                                : pos_ + 1);
    case '>':
      return done(Tok::kOp, pos_ + 1 < n && s_[pos_ + 1] == '=' ? pos_ + 2 : pos_ + 1);
    default:
      break;
  }
  if (IsDigit(c) || c == '.') {
    // A row range ("3:5") before a number.
    if (IsDigit(c)) {
      size_t i = pos_;
      if (ParseRowNumber(s_, i, t.a) && i < n && s_[i] == ':') {
        ++i;
        if (ParseRowNumber(s_, i, t.b) && (i >= n || !IsNameChar(s_[i])))
          return done(Tok::kRows, i);
      }
      t.a = t.b = RefPart{};
    }
    size_t e = pos_, digits = 0;
    while (e < n && IsDigit(s_[e])) ++e, ++digits;
    if (e < n && s_[e] == '.') {
      ++e;
      while (e < n && IsDigit(s_[e])) ++e, ++digits;
    }
    if (digits == 0) return done(Tok::kUnsupported, n);
    if (e < n && (s_[e] == 'e' || s_[e] == 'E')) {
      size_t x = e + 1;
      if (x < n && (s_[x] == '+' || s_[x] == '-')) ++x;
      if (x < n && IsDigit(s_[x])) {
        while (x < n && IsDigit(s_[x])) ++x;
        e = x;
      }
    }
    if (e < n && IsNameChar(s_[e])) return done(Tok::kUnsupported, n);
    return done(Tok::kNumber, e);
  }
  if (!IsNameChar(c)) return done(Tok::kUnsupported, n);  // quoted sheet names, [1], @ ...

  auto run_end = [&](size_t from) {
    while (from < n && IsNameChar(s_[from])) ++from;
    return from;
  };
  const size_t e = run_end(pos_);
  const std::string_view run = s_.substr(pos_, e - pos_);
  const char after = e < n ? s_[e] : '\0';
  if (after == '!' || after == '[') return done(Tok::kUnsupported, n);
  if (after == '(') {
    if (run.find('$') != std::string_view::npos || IsDigit(run[0]))
      return done(Tok::kUnsupported, n);
    return done(Tok::kFunc, e);
  }
  // The second end of "A1:B2", "A:B" or "$1:$2"; npos when there is none.
  auto second = [&](auto parse, RefPart& p) -> size_t {
    if (after != ':' || e + 1 >= n) return std::string_view::npos;
    size_t e2 = run_end(e + 1);
    if (e2 < n && (s_[e2] == '!' || s_[e2] == '(' || s_[e2] == '[')) return std::string_view::npos;
    return parse(s_.substr(e + 1, e2 - e - 1), p) ? e2 : std::string_view::npos;
  };
  if (ParseCellText(run, t.a)) {
    size_t e2 = second(ParseCellText, t.b);
    if (e2 != std::string_view::npos) return done(Tok::kArea, e2);
    t.b = RefPart{};
    return done(Tok::kCell, e);
  }
  if (ParseColumnText(run, t.a)) {
    size_t e2 = second(ParseColumnText, t.b);
    if (e2 != std::string_view::npos) return done(Tok::kCols, e2);
  } else if (ParseRowText(run, t.a)) {
    size_t e2 = second(ParseRowText, t.b);
    if (e2 != std::string_view::npos) return done(Tok::kRows, e2);
  }
  t.a = RefPart{};
  if (EqualsNoCase(run, "TRUE") || EqualsNoCase(run, "FALSE")) return done(Tok::kBool, e);
  return done(Tok::kUnsupported, n);  // a defined name
}

void AppendPart(std::string& out, const RefPart& p, bool with_col, bool with_row) {
  // Built backwards in a local buffer and appended once: this runs for every moved reference.
  char buf[16];
  char* e = buf + sizeof buf;
  char* b = e;
  if (with_row) {
    int r = p.row;
    do {
      *--b = static_cast<char>('0' + r % 10);
      r /= 10;
    } while (r > 0);
    if (p.row_abs) *--b = '$';
  }
  if (with_col) {
    for (int c = p.col; c > 0; c = (c - 1) / 26) *--b = static_cast<char>('A' + (c - 1) % 26);
    if (p.col_abs) *--b = '$';
  }
  out.append(b, static_cast<size_t>(e - b));
}

namespace {

enum class Edit { kKeep, kChanged, kRefError };

// Runs `edit` over every reference token and re-spells those it changed.
template <class EditFn>
Rewrite RewriteRefs(std::string_view a1, std::string& out, int* max_row, EditFn edit) {
  Lexer lex(a1);
  size_t copied = 0;
  bool changed = false;
  int depth = 0, top = 0;
  for (;;) {
    Token t = lex.Next();
    if (t.kind == Tok::kEnd) break;
    if (t.kind == Tok::kUnsupported) return Rewrite::kUnsupported;
    // Unbalanced parentheses mean the text is not a formula we understand.
    if (t.kind == Tok::kLParen) ++depth;
    if (t.kind == Tok::kRParen && --depth < 0) return Rewrite::kUnsupported;
    if (t.kind != Tok::kCell && t.kind != Tok::kArea && t.kind != Tok::kCols &&
        t.kind != Tok::kRows)
      continue;
    Edit e = edit(t);
    if (e != Edit::kRefError) top = std::max({top, t.a.row, t.b.row});
    if (e == Edit::kKeep) continue;
    if (!changed) {
      out.clear();
      out.reserve(a1.size() + 8);
      changed = true;
    }
    out.append(a1.substr(copied, t.begin - copied));
    copied = t.end;
    if (e == Edit::kRefError) {
      out += "#REF!";
      continue;
    }
    const bool cols = t.kind != Tok::kRows, rows = t.kind != Tok::kCols;
    AppendPart(out, t.a, cols, rows);
    if (t.kind != Tok::kCell) {
      out.push_back(':');
      AppendPart(out, t.b, cols, rows);
    }
  }
  if (depth != 0) return Rewrite::kUnsupported;
  if (max_row) *max_row = top;
  if (!changed) return Rewrite::kUnchanged;
  out.append(a1.substr(copied));
  return Rewrite::kChanged;
}

}  // namespace

Rewrite ShiftInto(std::string_view a1, int drow, int dcol, std::string& out, int* max_row) {
  return RewriteRefs(a1, out, max_row, [&](Token& t) {
    const bool cols = t.kind != Tok::kRows, rows = t.kind != Tok::kCols;
    const int parts = t.kind == Tok::kCell ? 1 : 2;
    bool moved = false;
    for (int i = 0; i < parts; ++i) {
      RefPart& p = i == 0 ? t.a : t.b;
      if (cols && !p.col_abs && dcol != 0) {
        p.col += dcol;
        moved = true;
        if (p.col < 1 || p.col > kGridCols) return Edit::kRefError;
      }
      if (rows && !p.row_abs && drow != 0) {
        p.row += drow;
        moved = true;
        if (p.row < 1 || p.row > kGridRows) return Edit::kRefError;
      }
    }
    return moved ? Edit::kChanged : Edit::kKeep;
  });
}

Rewrite DeleteRowsInto(std::string_view a1, const RowDeletion& deletion, std::string& out,
                       int* max_row) {
  if (deletion.empty()) return RewriteRefs(a1, out, max_row, [](Token&) { return Edit::kKeep; });
  return RewriteRefs(a1, out, max_row, [&](Token& t) {
    if (t.kind == Tok::kCols) return Edit::kKeep;
    if (t.kind == Tok::kCell) {
      int row = deletion.Map(t.a.row);
      if (row == 0) return Edit::kRefError;
      if (row == t.a.row) return Edit::kKeep;
      t.a.row = row;
      return Edit::kChanged;
    }
    RefPart& lo = t.a.row <= t.b.row ? t.a : t.b;
    RefPart& hi = t.a.row <= t.b.row ? t.b : t.a;
    int new_lo, new_hi;
    if (!deletion.MapSpan(lo.row, hi.row, new_lo, new_hi)) return Edit::kRefError;
    if (new_lo == lo.row && new_hi == hi.row) return Edit::kKeep;
    lo.row = new_lo;
    hi.row = new_hi;
    return Edit::kChanged;
  });
}

RowDeletion::RowDeletion(int first, int count) {
  if (count < 1 || first < 1 || first > kGridRows) return;
  const int last = static_cast<int>(std::min<int64_t>(int64_t{first} + count - 1, kGridRows));
  runs_.push_back({first, last, 0});
}

RowDeletion::RowDeletion(std::span<const int> sorted_rows) {
  int before = 0;
  for (int r : sorted_rows) {
    if (!runs_.empty() && runs_.back().last + 1 == r) {
      ++runs_.back().last;
    } else {
      if (!runs_.empty()) before += runs_.back().last - runs_.back().first + 1;
      runs_.push_back({r, r, before});
    }
  }
}

size_t RowDeletion::RunAtOrAfter(int row) const {
  return static_cast<size_t>(
      std::partition_point(runs_.begin(), runs_.end(), [&](const Run& x) { return x.last < row; }) -
      runs_.begin());
}

int RowDeletion::Map(int row) const {
  size_t i = RunAtOrAfter(row);
  if (i < runs_.size() && runs_[i].first <= row) return 0;
  // Rows deleted above `row`: every run before i.
  int deleted = i == 0 ? 0 : runs_[i - 1].before + (runs_[i - 1].last - runs_[i - 1].first + 1);
  return row - deleted;
}

bool RowDeletion::MapSpan(int lo, int hi, int& new_lo, int& new_hi) const {
  size_t i = RunAtOrAfter(lo);
  if (i < runs_.size() && runs_[i].first <= lo) lo = runs_[i].last + 1;
  size_t j = RunAtOrAfter(hi);
  if (j < runs_.size() && runs_[j].first <= hi) hi = runs_[j].first - 1;
  if (lo > hi) return false;
  new_lo = Map(lo);
  new_hi = Map(hi);
  return true;
}

}  // namespace formula

bool FormulaNestsTooDeep(std::string_view s) {
  constexpr int kMax = kMaxFormulaNesting;
  // Every level costs at least one character: "(", a sign, "%" or a function's "(".
  if (s.size() <= static_cast<size_t>(kMax)) return false;
  // The depth of an operand is the number of parentheses, calls, signs and percent signs around
  // it; binary operators and commas only take the deepest of their operands. The scan keeps,
  // per open parenthesis, what the enclosing level had reached.
  struct Open {
    int best;   // the deepest operand of the enclosing level so far
    int outer;  // the signs (or the function name's depth) before the parenthesis
  };
  std::vector<Open> open;
  int around = 0;       // levels the open parentheses add up to, signs before them included
  int best = 0;         // the deepest operand of the current level
  int pending = 0;      // signs read before the current operand
  int unit = 0;         // the depth of the current operand once it has been read
  bool have = false;    // whether the current operand has been read
  auto operand = [&] {  // an operand starts; one right after another (A1 B1) ends that one
    if (have) best = std::max(best, unit);
    unit = pending;
    pending = 0;
    have = true;
  };
  auto end_operand = [&] {
    if (have) best = std::max(best, unit);
    have = false;
    pending = 0;
  };
  auto close = [&] {
    end_operand();
    const Open o = open.back();
    open.pop_back();
    around -= o.outer + 1;
    unit = o.outer + 1 + best;
    best = o.best;
    have = true;
  };
  // The index just past the text quoted with `q` (" or ') that starts at i; doubled quotes stay
  // inside.
  auto skip_quoted = [&](size_t i, char q) {
    for (++i; i < s.size(); ++i) {
      if (s[i] != q) continue;
      if (i + 1 < s.size() && s[i + 1] == q) {
        ++i;
        continue;
      }
      return i + 1;
    }
    return s.size();
  };
  auto skip_brackets = [&](size_t i, char in, char out) {
    int level = 0;
    for (; i < s.size(); ++i) {
      if (s[i] == '"') {
        i = skip_quoted(i, '"') - 1;
      } else if (s[i] == in) {
        ++level;
      } else if (s[i] == out && --level == 0) {
        return i + 1;
      }
    }
    return s.size();
  };
  size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    switch (c) {
      case ' ':
      case '\t':
      case '\r':
      case '\n':
        ++i;
        continue;
      case '(':
        open.push_back({best, have ? unit : pending});
        around += open.back().outer + 1;
        if (around > kMax) return true;
        best = pending = 0;
        have = false;
        ++i;
        continue;
      case ')':
        if (!open.empty()) close();
        ++i;
        break;
      case '+':
      case '-':
        if (!have) {
          if (around + ++pending > kMax) return true;
        } else {
          end_operand();
        }
        ++i;
        continue;
      case '%':
        if (have) ++unit;
        ++i;
        break;
      case ',':
      case ';':
      case '*':
      case '/':
      case '^':
      case '&':
      case '=':
      case '<':
      case '>':
      case ':':
        end_operand();
        ++i;
        continue;
      case '"':
        operand();
        i = skip_quoted(i, '"');
        break;
      case '{':
        operand();
        i = skip_brackets(i, '{', '}');
        break;
      case '#':  // an error literal: #DIV/0! and #N/A hold characters that are operators elsewhere
        operand();
        for (++i; i < s.size(); ++i) {
          const char e = s[i];
          if (!(std::isalnum(static_cast<unsigned char>(e)) || e == '/' || e == '!' || e == '?' ||
                e == '_'))
            break;
        }
        break;
      default: {  // a number, a reference, a name, a function's name: up to the next operator
        operand();
        const size_t from = i;
        while (i < s.size()) {
          const char e = s[i];
          if (e == '\'') {
            i = skip_quoted(i, '\'');
          } else if (e == '[') {
            i = skip_brackets(i, '[', ']');
          } else if (e != '\0' && std::strchr(" \t\r\n()+-%,;*/^&=<>:\"{#", e) == nullptr) {
            ++i;
          } else {
            break;
          }
        }
        if (i == from) ++i;  // a stray NUL
        break;
      }
    }
    if (have && around + unit > kMax) return true;
  }
  // Parentheses left open still count as closed at the end.
  while (!open.empty()) {
    close();
    if (around + unit > kMax) return true;
  }
  end_operand();
  return best > kMax;
}

namespace {

std::optional<std::string> Finish(std::string_view a1, formula::Rewrite r, std::string& out) {
  switch (r) {
    case formula::Rewrite::kUnsupported:
      return std::nullopt;
    case formula::Rewrite::kUnchanged:
      return std::string(a1);
    case formula::Rewrite::kChanged:
      break;
  }
  return std::move(out);
}

}  // namespace

std::optional<std::string> ShiftFormula(std::string_view a1, int drow, int dcol) {
  std::string out;
  return Finish(a1, formula::ShiftInto(a1, drow, dcol, out), out);
}

std::optional<std::string> FormulaAfterRowDeletion(std::string_view a1, int first, int count) {
  std::string out;
  return Finish(a1, formula::DeleteRowsInto(a1, formula::RowDeletion(first, count), out), out);
}

}  // namespace qm
