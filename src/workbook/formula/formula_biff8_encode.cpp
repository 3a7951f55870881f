// A1 formula text compiled to BIFF8 parsed formulas (reverse-Polish token arrays): parsed into a
// tree, then emitted with the operand classes each function's parameters ask for.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>

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
using namespace biff8;

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
  kBinary,  // op: the operator's token
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
      static const std::pair<std::string_view, uint8_t> kCmp[] = {{"<", kPtgLt}, {"<=", kPtgLe},
                                                                  {"=", kPtgEq}, {">=", kPtgGe},
                                                                  {">", kPtgGt}, {"<>", kPtgNe}};
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
      l = Binary(kPtgConcat, std::move(l), Additive());
    }
    return l;
  }
  NodePtr Additive() {
    NodePtr l = Multiplicative();
    while (l && (PeekOp("+") || PeekOp("-"))) {
      uint8_t ptg = PeekOp("+") ? kPtgAdd : kPtgSub;
      ++pos_;
      l = Binary(ptg, std::move(l), Multiplicative());
    }
    return l;
  }
  NodePtr Multiplicative() {
    NodePtr l = Power();
    while (l && (PeekOp("*") || PeekOp("/"))) {
      uint8_t ptg = PeekOp("*") ? kPtgMul : kPtgDiv;
      ++pos_;
      l = Binary(ptg, std::move(l), Power());
    }
    return l;
  }
  NodePtr Power() {
    NodePtr l = Postfix();
    while (l && PeekOp("^")) {
      ++pos_;
      l = Binary(kPtgPower, std::move(l), Postfix());
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
      n->op = PeekOp("-") ? kPtgUminus : kPtgUplus;
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
      l = Binary(kPtgRange, std::move(l), Primary());
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
        return n.op == kPtgRange;
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
          n->a.row = 1, n->b.row = kXlsMaxRows;
          n->a.row_abs = n->b.row_abs = true;
        } else if (t.kind == formula::Tok::kRows) {
          n->a.col = 1, n->b.col = kXlsMaxCols;
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
          out.push_back(kPtgInt);
          U16Out(static_cast<uint16_t>(n.number));
        } else {
          out.push_back(kPtgNum);
          uint8_t b[8];
          le::PutF64(b, n.number);
          out.insert(out.end(), b, b + 8);
        }
        return true;
      case NodeKind::kString: {
        std::u16string u;
        if (!Utf8ToUtf16(n.text, u, BadUtf8::kFail) || u.size() > 255) return false;
        bool wide = false;
        for (char16_t c : u) wide |= c > 0xFF;
        out.push_back(kPtgStr);
        out.push_back(static_cast<uint8_t>(u.size()));
        out.push_back(wide ? 1 : 0);
        for (char16_t c : u) {
          if (wide)
            U16Out(c);
          else
            out.push_back(static_cast<uint8_t>(c));
        }
        return true;
      }
      case NodeKind::kBool:
        out.push_back(kPtgBool);
        out.push_back(n.number != 0 ? 1 : 0);
        return true;
      case NodeKind::kError:
        out.push_back(kPtgErr);
        out.push_back(n.op);
        return true;
      case NodeKind::kCell:
        if (!Fits(n.a)) return false;
        out.push_back(static_cast<uint8_t>(kPtgRef | cls));
        PartOut(n.a);
        return true;
      case NodeKind::kArea: {
        RefPart a = n.a, b = n.b;
        if (!Fits(a) || !Fits(b)) return false;
        if (a.row > b.row) std::swap(a.row, b.row), std::swap(a.row_abs, b.row_abs);
        if (a.col > b.col) std::swap(a.col, b.col), std::swap(a.col_abs, b.col_abs);
        out.push_back(static_cast<uint8_t>(kPtgArea | cls));
        U16Out(static_cast<uint16_t>(a.row - 1));
        U16Out(static_cast<uint16_t>(b.row - 1));
        U16Out(ColWord(a));
        U16Out(ColWord(b));
        return true;
      }
      case NodeKind::kMissing:
        out.push_back(kPtgMissArg);
        return true;
      case NodeKind::kUnary:
        if (!Emit(*n.kids[0], inner)) return false;
        out.push_back(n.op);
        return true;
      case NodeKind::kPercent:
        if (!Emit(*n.kids[0], inner)) return false;
        out.push_back(kPtgPercent);
        return true;
      case NodeKind::kBinary: {
        const uint8_t k = n.op == kPtgRange ? kClassRef : inner;
        if (!Emit(*n.kids[0], k) || !Emit(*n.kids[1], k)) return false;
        out.push_back(n.op);
        return true;
      }
      case NodeKind::kParen:
        if (!Emit(*n.kids[0], cls)) return false;
        out.push_back(kPtgParen);
        return true;
      case NodeKind::kUnion:
        for (size_t k = 0; k < n.kids.size(); ++k) {
          if (!Emit(*n.kids[k], kClassRef)) return false;
          if (k > 0) out.push_back(kPtgUnion);
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
          out.push_back(static_cast<uint8_t>(kPtgFunc | fc));
        } else {
          out.push_back(static_cast<uint8_t>(kPtgFuncVar | fc));
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
    uint8_t b[2];
    le::Put16(b, v);
    out.insert(out.end(), b, b + 2);
  }
  static bool Fits(const RefPart& p) {
    return p.row >= 1 && p.row <= kXlsMaxRows && p.col >= 1 && p.col <= kXlsMaxCols;
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
  if (em.is_volatile) em.out.insert(em.out.begin(), {kPtgAttr, kAttrVolatile, 0x00, 0x00});
  return std::move(em.out);
}

}  // namespace qm
