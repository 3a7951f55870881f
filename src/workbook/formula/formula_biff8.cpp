// BIFF8 parsed formulas (reverse-Polish token arrays) to and from A1 text, for the tokens a
// formula needs to travel into another workbook: constants, operators, parentheses, cell and
// area references of the formula's own sheet and built-in functions.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>

#include "workbook/cell.h"
#include "workbook/formula/formula.h"
#include "workbook/formula/formula_functions.h"
#include "workbook/formula/formula_lexer.h"

namespace qm {
namespace {

using formula::FunctionInfo;
using formula::RefPart;

constexpr int kBiffRows = 65536;
constexpr int kBiffCols = 256;

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

struct Operand {
  std::string text;
  int prec = kPrecPrimary;
};

uint16_t U16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// UTF-8 to UTF-16 code units; false on malformed input.
bool ToUtf16(std::string_view s, std::vector<uint16_t>& out) {
  for (size_t i = 0; i < s.size();) {
    uint8_t c = static_cast<uint8_t>(s[i]);
    uint32_t cp;
    int extra;
    if (c < 0x80) {
      cp = c, extra = 0;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F, extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F, extra = 2;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07, extra = 3;
    } else {
      return false;
    }
    if (i + static_cast<size_t>(extra) >= s.size()) return false;
    for (int k = 1; k <= extra; ++k) {
      uint8_t d = static_cast<uint8_t>(s[i + static_cast<size_t>(k)]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    i += static_cast<size_t>(extra) + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<uint16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<uint16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<uint16_t>(cp));
    }
  }
  return true;
}

bool IsErrorCode(uint8_t code) {
  switch (code) {
    case 0x00:
    case 0x07:
    case 0x0F:
    case 0x17:
    case 0x1D:
    case 0x24:
    case 0x2A:
      return true;
    default:
      return false;
  }
}

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
  if (a.row == 1 && b.row == kBiffRows) {  // whole columns
    formula::AppendPart(s, a, true, false);
    s.push_back(':');
    formula::AppendPart(s, b, true, false);
  } else if (a.col == 1 && b.col == kBiffCols) {  // whole rows
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

// Built by appending: GCC 12 warns falsely about `"(" + std::string&&`.
std::string Join(std::string_view a, std::string_view b, std::string_view c = {}) {
  std::string s;
  s.reserve(a.size() + b.size() + c.size());
  s.append(a).append(b).append(c);
  return s;
}

std::string Wrap(const Operand& o, int min_prec) {
  if (o.prec >= min_prec) return o.text;
  return Join("(", o.text, ")");
}

const char* BinaryOperator(uint8_t ptg) {
  static const char* const kOps[] = {
      "+", "-", "*", "/", "^", "&", "<", "<=", "=", ">=", ">", "<>", " ", ",", ":"};
  return kOps[ptg - 0x03];
}

int BinaryPrec(uint8_t ptg) {
  if (ptg <= 0x04) return kPrecAdd;
  if (ptg <= 0x06) return kPrecMul;
  if (ptg == 0x07) return kPrecPower;
  if (ptg == 0x08) return kPrecConcat;
  if (ptg <= 0x0E) return kPrecCompare;
  if (ptg == 0x10) return kPrecUnion;
  return kPrecRef;
}

}  // namespace

std::optional<std::string> DecodeBiff8Formula(std::span<const uint8_t> rgce, int row, int col) {
  const uint8_t* p = rgce.data();
  const size_t n = rgce.size();
  const int row0 = row - 1, col0 = col - 1;
  std::vector<Operand> st;
  size_t i = 0;
  auto need = [&](size_t bytes) { return i + bytes <= n; };
  auto pop = [&]() {
    Operand o = std::move(st.back());
    st.pop_back();
    return o;
  };
  auto call = [&](const char* name, size_t argc) -> bool {
    if (st.size() < argc) return false;
    std::string s = name;
    s.push_back('(');
    for (size_t k = st.size() - argc; k < st.size(); ++k) {
      if (k != st.size() - argc) s.push_back(',');
      s += Wrap(st[k], kPrecCompare);
    }
    s.push_back(')');
    st.resize(st.size() - argc);
    st.push_back({std::move(s), kPrecPrimary});
    return true;
  };

  while (i < n) {
    const uint8_t ptg = p[i++];
    if (ptg >= 0x03 && ptg <= 0x11) {
      if (st.size() < 2) return std::nullopt;
      Operand b = pop(), a = pop();
      int prec = BinaryPrec(ptg);
      std::string s = Wrap(a, prec);
      s += BinaryOperator(ptg);
      s += Wrap(b, prec + 1);
      st.push_back({std::move(s), prec});
      continue;
    }
    switch (ptg) {
      case 0x12:  // unary plus
      case 0x13:  // unary minus
      {
        if (st.empty()) return std::nullopt;
        Operand a = pop();
        st.push_back({Join(ptg == 0x12 ? "+" : "-", Wrap(a, kPrecUnary)), kPrecUnary});
        continue;
      }
      case 0x14: {  // percent
        if (st.empty()) return std::nullopt;
        Operand a = pop();
        st.push_back({Join(Wrap(a, kPrecPercent), "%"), kPrecPercent});
        continue;
      }
      case 0x15:  // parentheses
        if (st.empty()) return std::nullopt;
        st.back().text = Join("(", st.back().text, ")");
        st.back().prec = kPrecPrimary;
        continue;
      case 0x16:  // missing argument
        st.push_back({"", kPrecPrimary});
        continue;
      case 0x17: {  // string
        if (!need(2)) return std::nullopt;
        size_t cch = p[i];
        bool wide = p[i + 1] & 0x01;
        i += 2;
        if (!need(cch * (wide ? 2 : 1))) return std::nullopt;
        std::string s = "\"";
        for (size_t k = 0; k < cch; ++k) {
          uint32_t cu = wide ? U16(p + i + 2 * k) : p[i + k];
          if (wide && cu >= 0xD800 && cu < 0xDC00 && k + 1 < cch) {
            uint32_t lo = U16(p + i + 2 * (k + 1));
            if (lo >= 0xDC00 && lo < 0xE000) {
              cu = 0x10000 + ((cu - 0xD800) << 10) + (lo - 0xDC00);
              ++k;
            }
          }
          if (cu == '"') s.push_back('"');
          AppendUtf8(s, cu);
        }
        s.push_back('"');
        i += cch * (wide ? 2 : 1);
        st.push_back({std::move(s), kPrecPrimary});
        continue;
      }
      case 0x19: {  // attributes: only the one-argument SUM carries meaning for the text
        if (!need(3)) return std::nullopt;
        uint8_t grbit = p[i];
        uint16_t data = U16(p + i + 1);
        i += 3;
        if (grbit & 0x04) {  // choose: a jump table follows
          if (!need(2 * (static_cast<size_t>(data) + 1))) return std::nullopt;
          i += 2 * (static_cast<size_t>(data) + 1);
        } else if (grbit & 0x10) {
          if (!call("SUM", 1)) return std::nullopt;
        }
        continue;
      }
      case 0x1C:  // error
        if (!need(1) || !IsErrorCode(p[i])) return std::nullopt;
        st.push_back({ErrorText(p[i]), kPrecPrimary});
        i += 1;
        continue;
      case 0x1D:  // boolean
        if (!need(1)) return std::nullopt;
        st.push_back({p[i] ? "TRUE" : "FALSE", kPrecPrimary});
        i += 1;
        continue;
      case 0x1E:  // integer
        if (!need(2)) return std::nullopt;
        st.push_back({std::to_string(U16(p + i)), kPrecPrimary});
        i += 2;
        continue;
      case 0x1F: {  // number
        if (!need(8)) return std::nullopt;
        double d;
        std::memcpy(&d, p + i, 8);
        i += 8;
        auto s = NumberText(d);
        if (!s) return std::nullopt;
        st.push_back({std::move(*s), d < 0 ? kPrecUnary : kPrecPrimary});
        continue;
      }
      default:
        break;
    }
    if (ptg < 0x20 || ptg >= 0x80) return std::nullopt;  // ptgExp, ptgTbl, extended tokens
    switch (ptg & 0x1F) {                                // operand tokens of every class
      case 0x01:
      case 0x02: {  // function with a fixed / a variable argument count
        const bool var = (ptg & 0x1F) == 0x02;
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
      case 0x04:    // reference
      case 0x0C: {  // reference relative to the formula's cell (shared formulas)
        if (!need(4)) return std::nullopt;
        RefPart a = DecodePart(U16(p + i), U16(p + i + 2), (ptg & 0x1F) == 0x0C, row0, col0);
        i += 4;
        std::string s;
        formula::AppendPart(s, a, true, true);
        st.push_back({std::move(s), kPrecPrimary});
        continue;
      }
      case 0x05:
      case 0x0D: {
        if (!need(8)) return std::nullopt;
        const bool offs = (ptg & 0x1F) == 0x0D;
        RefPart a = DecodePart(U16(p + i), U16(p + i + 4), offs, row0, col0);
        RefPart b = DecodePart(U16(p + i + 2), U16(p + i + 6), offs, row0, col0);
        i += 8;
        st.push_back({AreaText(a, b), kPrecPrimary});
        continue;
      }
      case 0x06:  // the memory tokens only announce the sub-expression that follows
      case 0x07:
      case 0x08:
        if (!need(6)) return std::nullopt;
        i += 6;
        continue;
      case 0x09:
        if (!need(2)) return std::nullopt;
        i += 2;
        continue;
      case 0x0A:  // reference to a deleted cell
        if (!need(4)) return std::nullopt;
        i += 4;
        st.push_back({"#REF!", kPrecPrimary});
        continue;
      case 0x0B:
        if (!need(8)) return std::nullopt;
        i += 8;
        st.push_back({"#REF!", kPrecPrimary});
        continue;
      default:  // arrays, names, other sheets, external names
        return std::nullopt;
    }
  }
  if (st.size() != 1) return std::nullopt;
  return std::move(st.back().text);
}

// --- Compiling text --------------------------------------------------------------------------

namespace {

enum class NodeKind : uint8_t {
  kNumber,
  kString,
  kBool,
  kError,
  kCell,
  kArea,  // also whole rows and columns, expanded to the binary grid
  kMissing,
  kUnary,  // op: '+' or '-'
  kPercent,
  kBinary,  // op: ptg of the operator
  kParen,
  kUnion,
  kFunction,
};

struct Node {
  NodeKind kind;
  uint8_t op = 0;
  double number = 0;
  std::string text;  // string value, unquoted
  RefPart a, b;
  const FunctionInfo* fn = nullptr;
  std::vector<std::unique_ptr<Node>> kids;
};
using NodePtr = std::unique_ptr<Node>;

NodePtr MakeNode(NodeKind k) {
  auto n = std::make_unique<Node>();
  n->kind = k;
  return n;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {
    formula::Lexer lex(text);
    for (;;) {
      formula::Token t = lex.Next();
      if (t.kind == formula::Tok::kSpace) continue;
      toks_.push_back(t);
      if (t.kind == formula::Tok::kEnd || t.kind == formula::Tok::kUnsupported) break;
    }
  }

  NodePtr ParseAll() {
    if (toks_.back().kind == formula::Tok::kUnsupported) return nullptr;
    NodePtr n = Expr();
    if (!n || Peek().kind != formula::Tok::kEnd) return nullptr;
    return n;
  }

 private:
  // Past the end it keeps answering the final token (the end, or the unsupported text).
  const formula::Token& Peek() const { return toks_[std::min(pos_, toks_.size() - 1)]; }
  std::string_view Text(const formula::Token& t) const {
    return text_.substr(t.begin, t.end - t.begin);
  }
  bool PeekOp(std::string_view op) const {
    return Peek().kind == formula::Tok::kOp && Text(Peek()) == op;
  }

  NodePtr Binary(uint8_t ptg, NodePtr l, NodePtr r) {
    if (!l || !r) return nullptr;
    auto n = MakeNode(NodeKind::kBinary);
    n->op = ptg;
    n->kids.push_back(std::move(l));
    n->kids.push_back(std::move(r));
    return n;
  }

  NodePtr Expr() {  // comparisons
    NodePtr l = Concat();
    for (;;) {
      static const std::pair<std::string_view, uint8_t> kCmp[] = {
          {"<", 0x09}, {"<=", 0x0A}, {"=", 0x0B}, {">=", 0x0C}, {">", 0x0D}, {"<>", 0x0E}};
      uint8_t ptg = 0;
      for (auto& [s, code] : kCmp)
        if (PeekOp(s)) ptg = code;
      if (!ptg || !l) return l;
      ++pos_;
      l = Binary(ptg, std::move(l), Concat());
    }
  }
  NodePtr Concat() {
    NodePtr l = Additive();
    while (l && PeekOp("&")) {
      ++pos_;
      l = Binary(0x08, std::move(l), Additive());
    }
    return l;
  }
  NodePtr Additive() {
    NodePtr l = Multiplicative();
    while (l && (PeekOp("+") || PeekOp("-"))) {
      uint8_t ptg = PeekOp("+") ? 0x03 : 0x04;
      ++pos_;
      l = Binary(ptg, std::move(l), Multiplicative());
    }
    return l;
  }
  NodePtr Multiplicative() {
    NodePtr l = Power();
    while (l && (PeekOp("*") || PeekOp("/"))) {
      uint8_t ptg = PeekOp("*") ? 0x05 : 0x06;
      ++pos_;
      l = Binary(ptg, std::move(l), Power());
    }
    return l;
  }
  NodePtr Power() {
    NodePtr l = Postfix();
    while (l && PeekOp("^")) {
      ++pos_;
      l = Binary(0x07, std::move(l), Postfix());
    }
    return l;
  }
  // Negation binds tighter than the percent sign: -A1% is (-A1)%.
  NodePtr Postfix() {
    NodePtr n = Prefix();
    while (n && PeekOp("%")) {
      ++pos_;
      auto p = MakeNode(NodeKind::kPercent);
      p->kids.push_back(std::move(n));
      n = std::move(p);
    }
    return n;
  }
  NodePtr Prefix() {
    if (PeekOp("-") || PeekOp("+")) {
      auto n = MakeNode(NodeKind::kUnary);
      n->op = PeekOp("-") ? 0x13 : 0x12;
      ++pos_;
      NodePtr k = Prefix();
      if (!k) return nullptr;
      n->kids.push_back(std::move(k));
      return n;
    }
    return RangeExpr();
  }
  NodePtr RangeExpr() {  // the ":" operator between references that are not one plain area
    NodePtr l = Primary();
    while (l && PeekOp(":")) {
      ++pos_;
      l = Binary(0x11, std::move(l), Primary());
      if (l && (!IsReference(*l->kids[0]) || !IsReference(*l->kids[1]))) return nullptr;
    }
    return l;
  }
  static bool IsReference(const Node& n) {
    switch (n.kind) {
      case NodeKind::kCell:
      case NodeKind::kArea:
      case NodeKind::kUnion:
        return true;
      case NodeKind::kParen:
        return IsReference(*n.kids[0]);
      case NodeKind::kBinary:
        return n.op == 0x11;
      case NodeKind::kFunction:
        return n.fn->result == 'R';
      default:
        return false;
    }
  }

  NodePtr Primary() {
    const formula::Token t = Peek();
    ++pos_;
    switch (t.kind) {
      case formula::Tok::kNumber: {
        auto n = MakeNode(NodeKind::kNumber);
        std::string_view s = Text(t);
        auto res = std::from_chars(s.data(), s.data() + s.size(), n->number);
        if (res.ec != std::errc() || !std::isfinite(n->number)) return nullptr;
        return n;
      }
      case formula::Tok::kString: {
        auto n = MakeNode(NodeKind::kString);
        std::string_view s = Text(t);
        for (size_t k = 1; k + 1 < s.size(); ++k) {
          n->text.push_back(s[k]);
          if (s[k] == '"') ++k;
        }
        return n;
      }
      case formula::Tok::kBool: {
        auto n = MakeNode(NodeKind::kBool);
        n->number = (Text(t)[0] == 'T' || Text(t)[0] == 't') ? 1 : 0;
        return n;
      }
      case formula::Tok::kError: {
        std::string up(Text(t));
        for (char& c : up)
          if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        int code = ErrorFromText(up);
        if (code < 0 || !IsErrorCode(static_cast<uint8_t>(code))) return nullptr;
        auto n = MakeNode(NodeKind::kError);
        n->op = static_cast<uint8_t>(code);
        return n;
      }
      case formula::Tok::kCell: {
        auto n = MakeNode(NodeKind::kCell);
        n->a = t.a;
        return n;
      }
      case formula::Tok::kArea:
      case formula::Tok::kCols:
      case formula::Tok::kRows: {
        auto n = MakeNode(NodeKind::kArea);
        n->a = t.a;
        n->b = t.b;
        if (t.kind == formula::Tok::kCols) {
          n->a.row = 1, n->b.row = kBiffRows;
          n->a.row_abs = n->b.row_abs = true;
        } else if (t.kind == formula::Tok::kRows) {
          n->a.col = 1, n->b.col = kBiffCols;
          n->a.col_abs = n->b.col_abs = true;
        }
        return n;
      }
      case formula::Tok::kFunc:
        return Function(Text(t));
      case formula::Tok::kLParen: {
        NodePtr inner = Expr();
        if (!inner) return nullptr;
        if (Peek().kind == formula::Tok::kComma) {
          auto u = MakeNode(NodeKind::kUnion);
          u->kids.push_back(std::move(inner));
          while (Peek().kind == formula::Tok::kComma) {
            ++pos_;
            NodePtr k = Expr();
            if (!k) return nullptr;
            u->kids.push_back(std::move(k));
          }
          inner = std::move(u);
        }
        if (Peek().kind != formula::Tok::kRParen) return nullptr;
        ++pos_;
        auto n = MakeNode(NodeKind::kParen);
        n->kids.push_back(std::move(inner));
        return n;
      }
      default:
        return nullptr;
    }
  }

  NodePtr Function(std::string_view name) {
    const FunctionInfo* f = formula::FunctionByName(name);
    if (!f || Peek().kind != formula::Tok::kLParen) return nullptr;
    ++pos_;
    auto n = MakeNode(NodeKind::kFunction);
    n->fn = f;
    if (Peek().kind == formula::Tok::kRParen) {
      ++pos_;
    } else {
      for (;;) {
        NodePtr arg;
        if (Peek().kind == formula::Tok::kComma || Peek().kind == formula::Tok::kRParen)
          arg = MakeNode(NodeKind::kMissing);
        else
          arg = Expr();
        if (!arg) return nullptr;
        n->kids.push_back(std::move(arg));
        if (Peek().kind == formula::Tok::kComma) {
          ++pos_;
          continue;
        }
        if (Peek().kind != formula::Tok::kRParen) return nullptr;
        ++pos_;
        break;
      }
    }
    int argc = static_cast<int>(n->kids.size());
    if (argc < f->min_args || argc > f->max_args) return nullptr;
    return n;
  }

  std::string_view text_;
  std::vector<formula::Token> toks_;
  size_t pos_ = 0;
};

// Operand classes as the top bits of operand tokens.
constexpr uint8_t kClassRef = 0x20, kClassValue = 0x40, kClassArray = 0x60;

class Emitter {
 public:
  std::vector<uint8_t> out;
  bool is_volatile = false;

  bool Emit(const Node& n, uint8_t cls) {
    const uint8_t inner = cls == kClassArray ? kClassArray : kClassValue;
    switch (n.kind) {
      case NodeKind::kNumber:
        if (n.number >= 0 && n.number <= 65535 && n.number == std::floor(n.number) &&
            !(n.number == 0 && std::signbit(n.number))) {
          out.push_back(0x1E);
          U16Out(static_cast<uint16_t>(n.number));
        } else {
          out.push_back(0x1F);
          uint8_t b[8];
          std::memcpy(b, &n.number, 8);
          out.insert(out.end(), b, b + 8);
        }
        return true;
      case NodeKind::kString: {
        std::vector<uint16_t> u;
        if (!ToUtf16(n.text, u) || u.size() > 255) return false;
        bool wide = false;
        for (uint16_t c : u) wide |= c > 0xFF;
        out.push_back(0x17);
        out.push_back(static_cast<uint8_t>(u.size()));
        out.push_back(wide ? 1 : 0);
        for (uint16_t c : u) {
          if (wide)
            U16Out(c);
          else
            out.push_back(static_cast<uint8_t>(c));
        }
        return true;
      }
      case NodeKind::kBool:
        out.push_back(0x1D);
        out.push_back(n.number != 0 ? 1 : 0);
        return true;
      case NodeKind::kError:
        out.push_back(0x1C);
        out.push_back(n.op);
        return true;
      case NodeKind::kCell:
        if (!Fits(n.a)) return false;
        out.push_back(static_cast<uint8_t>(0x04 | cls));
        PartOut(n.a);
        return true;
      case NodeKind::kArea: {
        RefPart a = n.a, b = n.b;
        if (!Fits(a) || !Fits(b)) return false;
        if (a.row > b.row) std::swap(a.row, b.row), std::swap(a.row_abs, b.row_abs);
        if (a.col > b.col) std::swap(a.col, b.col), std::swap(a.col_abs, b.col_abs);
        out.push_back(static_cast<uint8_t>(0x05 | cls));
        U16Out(static_cast<uint16_t>(a.row - 1));
        U16Out(static_cast<uint16_t>(b.row - 1));
        U16Out(ColWord(a));
        U16Out(ColWord(b));
        return true;
      }
      case NodeKind::kMissing:
        out.push_back(0x16);
        return true;
      case NodeKind::kUnary:
        if (!Emit(*n.kids[0], inner)) return false;
        out.push_back(n.op);
        return true;
      case NodeKind::kPercent:
        if (!Emit(*n.kids[0], inner)) return false;
        out.push_back(0x14);
        return true;
      case NodeKind::kBinary: {
        const uint8_t k = n.op == 0x11 ? kClassRef : inner;
        if (!Emit(*n.kids[0], k) || !Emit(*n.kids[1], k)) return false;
        out.push_back(n.op);
        return true;
      }
      case NodeKind::kParen:
        if (!Emit(*n.kids[0], cls)) return false;
        out.push_back(0x15);
        return true;
      case NodeKind::kUnion:
        for (size_t k = 0; k < n.kids.size(); ++k) {
          if (!Emit(*n.kids[k], kClassRef)) return false;
          if (k > 0) out.push_back(0x10);
        }
        return true;
      case NodeKind::kFunction: {
        const FunctionInfo& f = *n.fn;
        is_volatile |= f.is_volatile;
        for (size_t k = 0; k < n.kids.size(); ++k) {
          char pc = f.ParamClass(static_cast<int>(k));
          uint8_t ac = pc == 'R' ? kClassRef : pc == 'A' ? kClassArray : kClassValue;
          if (cls == kClassArray && ac == kClassValue) ac = kClassArray;
          if (!Emit(*n.kids[k], ac)) return false;
        }
        uint8_t fc = cls == kClassArray                      ? kClassArray
                     : (f.result == 'R' && cls == kClassRef) ? kClassRef
                                                             : kClassValue;
        if (f.fixed()) {
          out.push_back(static_cast<uint8_t>(0x01 | fc));
        } else {
          out.push_back(static_cast<uint8_t>(0x02 | fc));
          out.push_back(static_cast<uint8_t>(n.kids.size()));
        }
        U16Out(f.id);
        return true;
      }
    }
    return false;
  }

 private:
  void U16Out(uint16_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
  }
  static bool Fits(const RefPart& p) {
    return p.row >= 1 && p.row <= kBiffRows && p.col >= 1 && p.col <= kBiffCols;
  }
  static uint16_t ColWord(const RefPart& p) {
    return static_cast<uint16_t>((p.col - 1) | (p.col_abs ? 0 : 0x4000) | (p.row_abs ? 0 : 0x8000));
  }
  void PartOut(const RefPart& p) {
    U16Out(static_cast<uint16_t>(p.row - 1));
    U16Out(ColWord(p));
  }
};

}  // namespace

std::optional<std::vector<uint8_t>> EncodeBiff8Formula(std::string_view a1, int /*row*/,
                                                       int /*col*/) {
  // Cell formulas hold absolute coordinates plus relative flags, so the cell's own position
  // does not enter the tokens.
  Parser parser(a1);
  NodePtr root = parser.ParseAll();
  if (!root) return std::nullopt;
  Emitter em;
  if (!em.Emit(*root, kClassValue)) return std::nullopt;
  if (em.out.size() > 0xFFFF) return std::nullopt;
  if (em.is_volatile) em.out.insert(em.out.begin(), {0x19, 0x01, 0x00, 0x00});
  return std::move(em.out);
}

}  // namespace qm
