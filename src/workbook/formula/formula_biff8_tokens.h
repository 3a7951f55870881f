// The token table of BIFF8 parsed formulas ([MS-XLS] 2.5.198), shared by the decoder and the
// encoder: token ids, operand classes and the error codes a formula may hold.
#pragma once

#include <cstdint>

namespace qm::biff8 {

// Tokens without an operand class.
enum Ptg : uint8_t {
  kPtgAdd = 0x03,  // the binary operators run from here to kPtgRange
  kPtgSub = 0x04,
  kPtgMul = 0x05,
  kPtgDiv = 0x06,
  kPtgPower = 0x07,
  kPtgConcat = 0x08,
  kPtgLt = 0x09,
  kPtgLe = 0x0A,
  kPtgEq = 0x0B,
  kPtgGe = 0x0C,
  kPtgGt = 0x0D,
  kPtgNe = 0x0E,
  kPtgIsect = 0x0F,
  kPtgUnion = 0x10,
  kPtgRange = 0x11,
  kPtgUplus = 0x12,
  kPtgUminus = 0x13,
  kPtgPercent = 0x14,
  kPtgParen = 0x15,
  kPtgMissArg = 0x16,
  kPtgStr = 0x17,
  kPtgAttr = 0x19,
  kPtgErr = 0x1C,
  kPtgBool = 0x1D,
  kPtgInt = 0x1E,
  kPtgNum = 0x1F,
};

// Operand tokens: the low five bits name the token, the class bits below are added to them.
enum PtgOperand : uint8_t {
  kPtgFunc = 0x01,
  kPtgFuncVar = 0x02,
  kPtgRef = 0x04,
  kPtgArea = 0x05,
  kPtgMemArea = 0x06,
  kPtgMemErr = 0x07,
  kPtgMemNoMem = 0x08,
  kPtgMemFunc = 0x09,
  kPtgRefErr = 0x0A,
  kPtgAreaErr = 0x0B,
  kPtgRefN = 0x0C,  // relative to the formula's cell (shared formulas)
  kPtgAreaN = 0x0D,
};
constexpr uint8_t kClassRef = 0x20, kClassValue = 0x40, kClassArray = 0x60;

// kPtgAttr bits that matter to the text form.
constexpr uint8_t kAttrChoose = 0x04, kAttrSum = 0x10;
// The kPtgAttr token that marks a formula volatile.
constexpr uint8_t kAttrVolatile = 0x01;

// The error codes a formula (and a cell) can hold.
inline bool IsErrorCode(uint8_t code) {
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

}  // namespace qm::biff8
