// A1 formula text compiled to BIFF8 parsed formulas (reverse-Polish token arrays): parsed into a
// tree, then emitted with the operand classes each function's parameters ask for. Nothing here
// recurses, so a crafted formula costs heap, never stack; text nested deeper than
// kMaxFormulaNesting is refused before it is parsed.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
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
  uint32_t first = 0, count = 0;  // children, in Tree::kids
};

// The parsed formula: nodes and their children in flat arrays, so that neither building,
// walking nor freeing a tree recurses, however long a chain of operators runs.
struct Tree {
  std::vector<Node> nodes;
  std::vector<uint32_t> kids;
};

// A1 text to a tree by operator precedence with explicit stacks (shunting-yard): binary
// operators from the loosest, comparisons, through &, + -, * / to ^, all left-associative; then
// the percent sign, the signs, and the range operator ":" binding tightest. Negation binds
// tighter than the percent sign: -A1% is (-A1)%.
class Parser {
 public:
  Parser(std::string_view text, Tree& tree) : text_(text), tree_(tree) {
    formula::Lexer lex(text);
    for (;;) {
      formula::Token t = lex.Next();
      if (t.kind == formula::Tok::kSpace) continue;
      toks_.push_back(t);
      if (t.kind == formula::Tok::kEnd || t.kind == formula::Tok::kUnsupported) break;
    }
    tree_.nodes.reserve(toks_.size());
    tree_.kids.reserve(toks_.size());
  }

  // The root node's index; nullopt when the text is not a formula of the supported set.
  std::optional<uint32_t> Parse() {
    bool operand_next = true;
    for (size_t pos = 0;; ++pos) {
      const formula::Token& t = toks_[pos];
      const bool ok = operand_next ? Operand(t, pos, operand_next) : Operator(t, operand_next);
      if (!ok) return std::nullopt;
      if (t.kind == formula::Tok::kEnd) break;
    }
    if (out_.size() != 1) return std::nullopt;
    return out_.back();
  }

 private:
  enum class Open : uint8_t { kNone, kGroup, kCall };
  struct Pending {
    Open open = Open::kNone;  // kNone: an operator
    uint8_t ptg = 0;          // the operator's token; a sign is kPtgUplus or kPtgUminus
    int prec = 0;
    size_t base = 0;  // for parentheses: the operands before them
    const FunctionInfo* fn = nullptr;
  };
  static constexpr int kPrecPercent = 6, kPrecSign = 7, kPrecRange = 8;

  std::string_view Text(const formula::Token& t) const {
    return text_.substr(t.begin, t.end - t.begin);
  }

  uint32_t Add(NodeKind k) {
    tree_.nodes.emplace_back().kind = k;
    return static_cast<uint32_t>(tree_.nodes.size() - 1);
  }
  // A node over the top `count` operands, which it replaces.
  void Combine(uint32_t node, size_t count) {
    Node& n = tree_.nodes[node];
    n.first = static_cast<uint32_t>(tree_.kids.size());
    n.count = static_cast<uint32_t>(count);
    tree_.kids.insert(tree_.kids.end(), out_.end() - static_cast<std::ptrdiff_t>(count),
                      out_.end());
    out_.resize(out_.size() - count);
    out_.push_back(node);
  }

  bool IsReference(uint32_t i) const {
    while (tree_.nodes[i].kind == NodeKind::kParen) i = tree_.kids[tree_.nodes[i].first];
    const Node& n = tree_.nodes[i];
    switch (n.kind) {
      case NodeKind::kCell:
      case NodeKind::kArea:
      case NodeKind::kUnion:
        return true;
      case NodeKind::kBinary:
        return n.op == kPtgRange;
      case NodeKind::kFunction:
        return n.fn->result == 'R';
      default:
        return false;
    }
  }

  // Applies the operator on top of the pending ones to its operands.
  bool Reduce() {
    const Pending p = ops_.back();
    ops_.pop_back();
    if (p.prec == kPrecSign) {
      if (out_.empty()) return false;
      uint32_t n = Add(NodeKind::kUnary);
      tree_.nodes[n].op = p.ptg;
      Combine(n, 1);
      return true;
    }
    if (out_.size() < 2) return false;
    uint32_t n = Add(NodeKind::kBinary);
    tree_.nodes[n].op = p.ptg;
    Combine(n, 2);
    if (p.ptg == kPtgRange) {
      const Node& r = tree_.nodes[n];
      if (!IsReference(tree_.kids[r.first]) || !IsReference(tree_.kids[r.first + 1])) return false;
    }
    return true;
  }
  // Applies the pending operators that bind at least as tightly as `prec`, down to the nearest
  // open parenthesis.
  bool ReduceTo(int prec) {
    while (!ops_.empty() && ops_.back().open == Open::kNone && ops_.back().prec >= prec)
      if (!Reduce()) return false;
    return true;
  }

  static int BinaryPrec(std::string_view op, uint8_t& ptg) {
    static const struct {
      std::string_view text;
      uint8_t ptg;
      int prec;
    } kOps[] = {{"=", kPtgEq, 1},
                {"<>", kPtgNe, 1},
                {"<", kPtgLt, 1},
                {">", kPtgGt, 1},
                {"<=", kPtgLe, 1},
                {">=", kPtgGe, 1},
                {"&", kPtgConcat, 2},
                {"+", kPtgAdd, 3},
                {"-", kPtgSub, 3},
                {"*", kPtgMul, 4},
                {"/", kPtgDiv, 4},
                {"^", kPtgPower, 5},
                {":", kPtgRange, kPrecRange}};
    for (const auto& o : kOps)
      if (o.text == op) {
        ptg = o.ptg;
        return o.prec;
      }
    return 0;
  }

  // A token where an operand is due: a sign, an opening parenthesis or call, a constant or a
  // reference; in a call, a comma or the closing parenthesis leaves an argument out.
  bool Operand(const formula::Token& t, size_t& pos, bool& operand_next) {
    const bool in_call = !ops_.empty() && ops_.back().open == Open::kCall;
    switch (t.kind) {
      case formula::Tok::kOp:
        if (Text(t) != "+" && Text(t) != "-") return false;
        ops_.push_back({Open::kNone, Text(t) == "-" ? kPtgUminus : kPtgUplus, kPrecSign});
        return true;
      case formula::Tok::kLParen:
        ops_.push_back({Open::kGroup, 0, 0, out_.size()});
        return true;
      case formula::Tok::kFunc: {
        const FunctionInfo* f = formula::FunctionByName(Text(t));
        if (!f || toks_[pos + 1].kind != formula::Tok::kLParen) return false;
        ++pos;
        ops_.push_back({Open::kCall, 0, 0, out_.size(), f});
        return true;
      }
      case formula::Tok::kComma:
        if (!in_call) return false;
        out_.push_back(Add(NodeKind::kMissing));
        operand_next = false;
        return Operator(t, operand_next);
      case formula::Tok::kRParen:
        if (!in_call) return false;
        // F() has no arguments; F(1,) ends with a missing one.
        if (out_.size() > ops_.back().base) out_.push_back(Add(NodeKind::kMissing));
        operand_next = false;
        return Operator(t, operand_next);
      default:
        break;
    }
    std::optional<uint32_t> leaf = Leaf(t);
    if (!leaf) return false;
    out_.push_back(*leaf);
    operand_next = false;
    return true;
  }

  // A token after an operand: an operator, a comma, a closing parenthesis or the end.
  bool Operator(const formula::Token& t, bool& operand_next) {
    switch (t.kind) {
      case formula::Tok::kOp: {
        if (Text(t) == "%") {
          if (!ReduceTo(kPrecPercent + 1)) return false;
          uint32_t n = Add(NodeKind::kPercent);
          Combine(n, 1);
          return true;
        }
        uint8_t ptg = 0;
        const int prec = BinaryPrec(Text(t), ptg);
        if (prec == 0 || !ReduceTo(prec)) return false;
        ops_.push_back({Open::kNone, ptg, prec});
        operand_next = true;
        return true;
      }
      case formula::Tok::kComma:
        if (!ReduceTo(0) || ops_.empty()) return false;  // a comma outside parentheses
        operand_next = true;
        return true;
      case formula::Tok::kRParen:
        if (!ReduceTo(0) || ops_.empty()) return false;
        return Close();
      case formula::Tok::kEnd:
        return ReduceTo(0) && ops_.empty();  // a parenthesis left open
      default:
        return false;
    }
  }

  // The closing parenthesis of the open group or call on top, its contents reduced.
  bool Close() {
    const Pending p = ops_.back();
    ops_.pop_back();
    const size_t items = out_.size() - p.base;
    if (p.open == Open::kCall) {
      if (static_cast<int>(items) < p.fn->min_args || static_cast<int>(items) > p.fn->max_args)
        return false;
      uint32_t n = Add(NodeKind::kFunction);
      tree_.nodes[n].fn = p.fn;
      Combine(n, items);
      return true;
    }
    if (items == 0) return false;
    if (items > 1) Combine(Add(NodeKind::kUnion), items);  // (A1,B2)
    Combine(Add(NodeKind::kParen), 1);
    return true;
  }

  std::optional<uint32_t> Leaf(const formula::Token& t) {
    switch (t.kind) {
      case formula::Tok::kNumber: {
        double d = 0;
        std::string_view s = Text(t);
        auto res = std::from_chars(s.data(), s.data() + s.size(), d);
        if (res.ec != std::errc() || !std::isfinite(d)) return std::nullopt;
        uint32_t n = Add(NodeKind::kNumber);
        tree_.nodes[n].number = d;
        return n;
      }
      case formula::Tok::kString: {
        uint32_t n = Add(NodeKind::kString);
        std::string& text = tree_.nodes[n].text;
        std::string_view s = Text(t);
        for (size_t k = 1; k + 1 < s.size(); ++k) {
          text.push_back(s[k]);
          if (s[k] == '"') ++k;
        }
        return n;
      }
      case formula::Tok::kBool: {
        uint32_t n = Add(NodeKind::kBool);
        tree_.nodes[n].number = (Text(t)[0] == 'T' || Text(t)[0] == 't') ? 1 : 0;
        return n;
      }
      case formula::Tok::kError: {
        std::string up(Text(t));
        for (char& c : up)
          if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        int code = ErrorFromText(up);
        if (code < 0 || !IsErrorCode(static_cast<uint8_t>(code))) return std::nullopt;
        uint32_t n = Add(NodeKind::kError);
        tree_.nodes[n].op = static_cast<uint8_t>(code);
        return n;
      }
      case formula::Tok::kCell: {
        uint32_t n = Add(NodeKind::kCell);
        tree_.nodes[n].a = t.a;
        return n;
      }
      case formula::Tok::kArea:
      case formula::Tok::kCols:
      case formula::Tok::kRows: {
        uint32_t i = Add(NodeKind::kArea);
        Node& n = tree_.nodes[i];
        n.a = t.a;
        n.b = t.b;
        if (t.kind == formula::Tok::kCols) {
          n.a.row = 1, n.b.row = kXlsMaxRows;
          n.a.row_abs = n.b.row_abs = true;
        } else if (t.kind == formula::Tok::kRows) {
          n.a.col = 1, n.b.col = kXlsMaxCols;
          n.a.col_abs = n.b.col_abs = true;
        }
        return i;
      }
      default:  // array constants, a stray operator or parenthesis, unsupported text
        return std::nullopt;
    }
  }

  std::string_view text_;
  Tree& tree_;
  std::vector<formula::Token> toks_;
  std::vector<uint32_t> out_;  // operands built so far
  std::vector<Pending> ops_;   // operators and parentheses waiting for their operands
};

// Writes the tree as reverse-Polish tokens, children before their node, with the operand class
// each position asks for; the walk keeps its own stack.
class Emitter {
 public:
  explicit Emitter(const Tree& tree) : tree_(tree) {}
  std::vector<uint8_t> out;
  bool is_volatile = false;

  bool Emit(uint32_t root) {
    struct Step {
      uint32_t node;
      uint8_t cls;
      uint32_t next = 0;  // children written
    };
    std::vector<Step> todo;
    todo.reserve(16);
    todo.push_back({root, kClassValue});
    while (!todo.empty()) {
      Step& s = todo.back();
      const Node& n = tree_.nodes[s.node];
      const uint8_t cls = s.cls;
      const uint8_t inner = cls == kClassArray ? kClassArray : kClassValue;
      if (n.count == 0 && n.kind != NodeKind::kFunction) {
        if (!Leaf(n, cls)) return false;
        todo.pop_back();
        continue;
      }
      if (n.kind == NodeKind::kFunction && s.next == 0) is_volatile |= n.fn->is_volatile;
      // A union token follows every operand of a union after the first.
      if (n.kind == NodeKind::kUnion && s.next >= 2) out.push_back(kPtgUnion);
      if (s.next < n.count) {
        const uint32_t k = s.next++;
        uint8_t kc = inner;
        switch (n.kind) {
          case NodeKind::kBinary:
            if (n.op == kPtgRange) kc = kClassRef;
            break;
          case NodeKind::kParen:
            kc = cls;
            break;
          case NodeKind::kUnion:
            kc = kClassRef;
            break;
          case NodeKind::kFunction: {
            const char pc = n.fn->ParamClass(static_cast<int>(k));
            kc = pc == 'R' ? kClassRef : pc == 'A' ? kClassArray : kClassValue;
            if (cls == kClassArray && kc == kClassValue) kc = kClassArray;
            break;
          }
          default:
            break;
        }
        todo.push_back({tree_.kids[n.first + k], kc});  // `s` is not used past this
        continue;
      }
      switch (n.kind) {
        case NodeKind::kUnary:
        case NodeKind::kBinary:
          out.push_back(n.op);
          break;
        case NodeKind::kPercent:
          out.push_back(kPtgPercent);
          break;
        case NodeKind::kParen:
          out.push_back(kPtgParen);
          break;
        case NodeKind::kFunction: {
          const FunctionInfo& f = *n.fn;
          uint8_t fc = cls == kClassArray                      ? kClassArray
                       : (f.result == 'R' && cls == kClassRef) ? kClassRef
                                                               : kClassValue;
          if (f.fixed()) {
            out.push_back(static_cast<uint8_t>(kPtgFunc | fc));
          } else {
            out.push_back(static_cast<uint8_t>(kPtgFuncVar | fc));
            out.push_back(static_cast<uint8_t>(n.count));
          }
          U16Out(f.id);
          break;
        }
        default:
          break;
      }
      todo.pop_back();
    }
    return true;
  }

 private:
  bool Leaf(const Node& n, uint8_t cls) {
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
      default:
        return false;
    }
  }
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

  const Tree& tree_;
};

}  // namespace

std::optional<std::vector<uint8_t>> EncodeBiff8Formula(std::string_view a1, int /*row*/,
                                                       int /*col*/) {
  // Cell formulas hold absolute coordinates plus relative flags, so the cell's own position
  // does not enter the tokens.
  if (FormulaNestsTooDeep(a1)) return std::nullopt;
  Tree tree;
  Parser parser(a1, tree);
  std::optional<uint32_t> root = parser.Parse();
  if (!root) return std::nullopt;
  Emitter em(tree);
  if (!em.Emit(*root)) return std::nullopt;
  if (em.out.size() > 0xFFFF) return std::nullopt;
  if (em.is_volatile) em.out.insert(em.out.begin(), {kPtgAttr, kAttrVolatile, 0x00, 0x00});
  return std::move(em.out);
}

}  // namespace qm
