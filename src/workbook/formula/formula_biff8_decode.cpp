// BIFF8 parsed formulas (reverse-Polish token arrays) as A1 text, for the tokens a formula needs
// to travel into another workbook: constants, operators, parentheses, cell and area references of
// the formula's own sheet and built-in functions.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "workbook/bytes.h"
#include "workbook/cell.h"
#include "workbook/formula/formula.h"
#include "workbook/formula/formula_biff8_tokens.h"
#include "workbook/formula/formula_functions.h"
#include "workbook/formula/formula_lexer.h"
#include "workbook/utf.h"
#include "workbook/worksheet.h"

namespace qm {
namespace {

using formula::FunctionInfo;
using formula::RefPart;

// Operator precedence as the text form reads it; an operand binding less tightly than its
// operator needs parentheses that the token array leaves implicit.
enum Prec : int {
  kPrecUnion = 0,
  kPrecCompare = 1,
  kPrecConcat = 2,
  kPrecAdd = 3,
  kPrecMul = 4,
  kPrecPower = 5,
  kPrecPercent = 6,
  kPrecUnary = 7,
  kPrecRef = 8,
  kPrecPrimary = 9,
};

using le::U16;
using namespace biff8;

std::optional<std::string> NumberText(double d) {
  if (!std::isfinite(d)) return std::nullopt;
  char buf[400];
  // Plain notation for the magnitudes people type, as spreadsheet programs show them.
  const double a = std::fabs(d);
  auto res = a == 0 || (a >= 1e-9 && a < 1e15)
                 ? std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed)
                 : std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
  std::string s(buf, res.ptr);
  for (char& c : s)
    if (c == 'e') c = 'E';
  return s;
}

// A reference from the cell's row/column words; `rel_base` adds the formula cell for the
// offset forms used by shared formulas.
RefPart DecodePart(uint16_t rw, uint16_t colword, bool offset_form, int row0, int col0) {
  RefPart p;
  p.row_abs = !(colword & 0x8000);
  p.col_abs = !(colword & 0x4000);
  int row = rw, col = colword & 0x3FFF;
  if (offset_form && !p.row_abs) row = (static_cast<int16_t>(rw) + row0) & 0xFFFF;
  if (offset_form && !p.col_abs) col = (col + col0) & 0xFF;
  p.row = row + 1;
  p.col = col + 1;
  return p;
}

std::string AreaText(RefPart a, RefPart b) {
  // Spelled top-left to bottom-right, as the text form always reads.
  if (a.row > b.row) std::swap(a.row, b.row), std::swap(a.row_abs, b.row_abs);
  if (a.col > b.col) std::swap(a.col, b.col), std::swap(a.col_abs, b.col_abs);
  std::string s;
  if (a.row == 1 && b.row == kXlsMaxRows) {  // whole columns
    formula::AppendPart(s, a, true, false);
    s.push_back(':');
    formula::AppendPart(s, b, true, false);
  } else if (a.col == 1 && b.col == kXlsMaxCols) {  // whole rows
    formula::AppendPart(s, a, false, true);
    s.push_back(':');
    formula::AppendPart(s, b, false, true);
  } else {
    formula::AppendPart(s, a, true, true);
    s.push_back(':');
    formula::AppendPart(s, b, true, true);
  }
  return s;
}

const char* BinaryOperator(uint8_t ptg) {
  static const char* const kOps[] = {
      "+", "-", "*", "/", "^", "&", "<", "<=", "=", ">=", ">", "<>", " ", ",", ":"};
  return kOps[ptg - kPtgAdd];
}

int BinaryPrec(uint8_t ptg) {
  if (ptg <= kPtgSub) return kPrecAdd;
  if (ptg <= kPtgDiv) return kPrecMul;
  if (ptg == kPtgPower) return kPrecPower;
  if (ptg == kPtgConcat) return kPrecConcat;
  if (ptg <= kPtgNe) return kPrecCompare;
  if (ptg == kPtgUnion) return kPrecUnion;
  return kPrecRef;
}

// The expression the tokens build, as a tree kept in flat arrays: the tokens of a formula may nest
// as deep as its record is long, so neither building nor spelling it may recurse, and wrapping a
// finished text in parentheses level by level would copy it once per level.
class TextTree {
 public:
  // A node reads: head, its children separated by `sep`, tail. A child marked `paren` is
  // wrapped in parentheses the token array leaves implicit.
  struct Node {
    std::string head;
    const char* sep = "";
    const char* tail = "";
    uint32_t first = 0, count = 0;  // children in kids_
    int prec = kPrecPrimary;
  };

  // Every node takes at least one byte of the token array.
  explicit TextTree(size_t token_bytes) {
    nodes_.reserve(token_bytes);
    kids_.reserve(token_bytes);
  }

  bool empty() const { return stack_.empty(); }
  size_t operands() const { return stack_.size(); }

  void Leaf(std::string text, int prec = kPrecPrimary) {
    Node n;
    n.head = std::move(text);
    n.prec = prec;
    Push(std::move(n));
  }
  // Replaces the top `argc` operands by one node over them; `min_prec[k]` is the precedence
  // below which child k needs parentheses (the last entry repeats for further children).
  void Combine(size_t argc, std::string head, const char* sep, const char* tail, int prec,
               std::initializer_list<int> min_prec) {
    Node n;
    n.head = std::move(head);
    n.sep = sep;
    n.tail = tail;
    n.prec = prec;
    n.first = static_cast<uint32_t>(kids_.size());
    n.count = static_cast<uint32_t>(argc);
    const size_t base = stack_.size() - argc;
    for (size_t k = 0; k < argc; ++k) {
      const int min = *(min_prec.begin() + std::min(k, min_prec.size() - 1));
      const uint32_t kid = stack_[base + k];
      kids_.push_back({kid, nodes_[kid].prec < min});
    }
    stack_.resize(base);
    Push(std::move(n));
  }

  // The text of the one operand left, written depth first with a stack of our own.
  std::string Spell() const {
    std::string out;
    struct Step {
      uint32_t node;
      bool paren;
      bool begun = false;
      uint32_t next = 0;  // children begun
    };
    std::vector<Step> todo;
    todo.reserve(16);
    todo.push_back({stack_.back(), false});
    while (!todo.empty()) {
      Step& step = todo.back();
      const Node& n = nodes_[step.node];
      if (!step.begun) {
        step.begun = true;
        if (step.paren) out.push_back('(');
        out += n.head;
      }
      if (step.next < n.count) {
        if (step.next > 0) out += n.sep;
        const Kid kid = kids_[n.first + step.next++];
        todo.push_back({kid.node, kid.paren});  // `step` is not used past this
        continue;
      }
      out += n.tail;
      if (step.paren) out.push_back(')');
      todo.pop_back();
    }
    return out;
  }

 private:
  struct Kid {
    uint32_t node;
    bool paren;
  };
  void Push(Node n) {
    stack_.push_back(static_cast<uint32_t>(nodes_.size()));
    nodes_.push_back(std::move(n));
  }
  std::vector<Node> nodes_;
  std::vector<Kid> kids_;
  std::vector<uint32_t> stack_;  // the operands not yet taken by an operator
};

}  // namespace

std::optional<std::string> DecodeBiff8Formula(std::span<const uint8_t> rgce, int row, int col) {
  const uint8_t* p = rgce.data();
  const size_t n = rgce.size();
  const int row0 = row - 1, col0 = col - 1;
  TextTree st(n);
  size_t i = 0;
  auto need = [&](size_t bytes) { return i + bytes <= n; };
  auto call = [&](const char* name, size_t argc) -> bool {
    if (st.operands() < argc) return false;
    st.Combine(argc, std::string(name) + "(", ",", ")", kPrecPrimary, {kPrecCompare});
    return true;
  };

  while (i < n) {
    const uint8_t ptg = p[i++];
    if (ptg >= kPtgAdd && ptg <= kPtgRange) {
      if (st.operands() < 2) return std::nullopt;
      const int prec = BinaryPrec(ptg);
      st.Combine(2, {}, BinaryOperator(ptg), "", prec, {prec, prec + 1});
      continue;
    }
    switch (ptg) {
      case kPtgUplus:
      case kPtgUminus:
        if (st.empty()) return std::nullopt;
        st.Combine(1, ptg == kPtgUplus ? "+" : "-", "", "", kPrecUnary, {kPrecUnary});
        continue;
      case kPtgPercent:
        if (st.empty()) return std::nullopt;
        st.Combine(1, {}, "", "%", kPrecPercent, {kPrecPercent});
        continue;
      case kPtgParen:
        if (st.empty()) return std::nullopt;
        st.Combine(1, "(", "", ")", kPrecPrimary, {kPrecUnion});
        continue;
      case kPtgMissArg:
        st.Leaf("");
        continue;
      case kPtgStr: {
        if (!need(2)) return std::nullopt;
        size_t cch = p[i];
        bool wide = p[i + 1] & 0x01;
        i += 2;
        if (!need(cch * (wide ? 2 : 1))) return std::nullopt;
        std::string s = "\"";
        // Lone surrogates are kept as they are: the text goes back into a token unchanged.
        Utf16ToUtf8 text(s, Utf16ToUtf8::Lone::kKeep);
        for (size_t k = 0; k < cch; ++k) {
          const uint16_t cu = wide ? U16(p + i + 2 * k) : p[i + k];
          text.Unit(cu);
          if (cu == '"') s.push_back('"');
        }
        text.Finish();
        s.push_back('"');
        i += cch * (wide ? 2 : 1);
        st.Leaf(std::move(s));
        continue;
      }
      case kPtgAttr: {  // only the one-argument SUM carries meaning for the text
        if (!need(3)) return std::nullopt;
        uint8_t grbit = p[i];
        uint16_t data = U16(p + i + 1);
        i += 3;
        if (grbit & kAttrChoose) {  // a jump table follows
          if (!need(2 * (static_cast<size_t>(data) + 1))) return std::nullopt;
          i += 2 * (static_cast<size_t>(data) + 1);
        } else if (grbit & kAttrSum) {
          if (!call("SUM", 1)) return std::nullopt;
        }
        continue;
      }
      case kPtgErr:
        if (!need(1) || !IsErrorCode(p[i])) return std::nullopt;
        st.Leaf(ErrorText(p[i]));
        i += 1;
        continue;
      case kPtgBool:
        if (!need(1)) return std::nullopt;
        st.Leaf(p[i] ? "TRUE" : "FALSE");
        i += 1;
        continue;
      case kPtgInt:
        if (!need(2)) return std::nullopt;
        st.Leaf(std::to_string(U16(p + i)));
        i += 2;
        continue;
      case kPtgNum: {
        if (!need(8)) return std::nullopt;
        double d;
        std::memcpy(&d, p + i, 8);
        i += 8;
        auto s = NumberText(d);
        if (!s) return std::nullopt;
        st.Leaf(std::move(*s), d < 0 ? kPrecUnary : kPrecPrimary);
        continue;
      }
      default:
        break;
    }
    if (ptg < 0x20 || ptg >= 0x80) return std::nullopt;  // ptgExp, ptgTbl, extended tokens
    switch (ptg & 0x1F) {                                // operand tokens of every class
      case kPtgFunc:
      case kPtgFuncVar: {
        const bool var = (ptg & 0x1F) == kPtgFuncVar;
        if (!need(var ? 3 : 2)) return std::nullopt;
        size_t argc = var ? (p[i] & 0x7F) : 0;
        uint16_t id = U16(p + i + (var ? 1 : 0));
        i += var ? 3 : 2;
        if (id & 0x8000) return std::nullopt;  // a command equivalent
        const FunctionInfo* f = formula::FunctionById(id);
        if (!f) return std::nullopt;  // add-ins and functions we do not know
        if (!var) {
          if (!f->fixed()) return std::nullopt;
          argc = f->min_args;
        }
        if (!call(f->name, argc)) return std::nullopt;
        continue;
      }
      case kPtgRef:
      case kPtgRefN: {
        if (!need(4)) return std::nullopt;
        RefPart a = DecodePart(U16(p + i), U16(p + i + 2), (ptg & 0x1F) == kPtgRefN, row0, col0);
        i += 4;
        std::string s;
        formula::AppendPart(s, a, true, true);
        st.Leaf(std::move(s));
        continue;
      }
      case kPtgArea:
      case kPtgAreaN: {
        if (!need(8)) return std::nullopt;
        const bool offs = (ptg & 0x1F) == kPtgAreaN;
        RefPart a = DecodePart(U16(p + i), U16(p + i + 4), offs, row0, col0);
        RefPart b = DecodePart(U16(p + i + 2), U16(p + i + 6), offs, row0, col0);
        i += 8;
        st.Leaf(AreaText(a, b));
        continue;
      }
      case kPtgMemArea:  // the memory tokens only announce the sub-expression that follows
      case kPtgMemErr:
      case kPtgMemNoMem:
        if (!need(6)) return std::nullopt;
        i += 6;
        continue;
      case kPtgMemFunc:
        if (!need(2)) return std::nullopt;
        i += 2;
        continue;
      case kPtgRefErr:  // reference to a deleted cell
        if (!need(4)) return std::nullopt;
        i += 4;
        st.Leaf("#REF!");
        continue;
      case kPtgAreaErr:
        if (!need(8)) return std::nullopt;
        i += 8;
        st.Leaf("#REF!");
        continue;
      default:  // arrays, names, other sheets, external names
        return std::nullopt;
    }
  }
  if (st.operands() != 1) return std::nullopt;
  return st.Spell();
}

}  // namespace qm
