// Cell values as the model stores them and as callers read them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

enum class CellType : uint8_t { kBlank = 0, kNumber, kText, kBool, kError };

// Error values use the codes of the binary file format so readers and writers pass them through.
enum class CellError : uint8_t {
  kNull = 0x00,
  kDiv0 = 0x07,
  kValue = 0x0F,
  kRef = 0x17,
  kName = 0x1D,
  kNum = 0x24,
  kNA = 0x2A,
  kGettingData = 0x2B,
};

// "#N/A", "#DIV/0!" ...; an unknown code reads "#N/A".
const char* ErrorText(uint8_t code);
// The code for a display text, or -1 when the text is not an error literal.
int ErrorFromText(std::string_view text);

// A stored cell: 16 bytes. Text and formulas live in pools of the owning sheet; `number` holds a
// number, and `bits` the boolean (0/1), the error code, or the index into the text pool.
struct Cell {
  union {
    double number;
    uint64_t bits;
  };
  uint16_t col;    // 1-based column
  uint16_t style;  // index into the workbook's cell formats (XF)
  uint32_t type : 4;
  uint32_t formula : 28;  // 0 = no formula; else 1 + index into the sheet's formula pool

  CellType Type() const { return static_cast<CellType>(type); }
};
static_assert(sizeof(Cell) == 16, "cells must stay small: a million rows of ten must fit");

constexpr uint32_t kMaxFormulas = (1u << 28) - 2;

// A cell's value as a caller sees it. `text` points into the sheet's pool and stays valid until
// the sheet is changed. Dates are numbers whose number format is a date format; `is_date` says so.
struct CellValue {
  CellType type = CellType::kBlank;
  bool is_date = false;
  bool date1904 = false;
  uint16_t style = 0;
  double number = 0;  // number, date serial, bool (0/1)
  uint8_t error = 0;
  std::string_view text;
  std::string_view formula;  // A1 text without the leading "=", empty when none

  bool IsBlank() const { return type == CellType::kBlank; }
  bool IsNumber() const { return type == CellType::kNumber; }
  bool IsText() const { return type == CellType::kText; }
  bool IsBool() const { return type == CellType::kBool; }
  bool IsError() const { return type == CellType::kError; }
};

// Constructors for values to write with Worksheet::SetValue.
struct NewValue {
  CellType type = CellType::kBlank;
  double number = 0;
  uint8_t error = 0;
  std::string text;

  static NewValue Blank() { return {}; }
  static NewValue Number(double d) { return {CellType::kNumber, d, 0, {}}; }
  static NewValue Text(std::string s) { return {CellType::kText, 0, 0, std::move(s)}; }
  static NewValue Bool(bool b) { return {CellType::kBool, b ? 1.0 : 0.0, 0, {}}; }
  static NewValue Err(uint8_t code) { return {CellType::kError, 0, code, {}}; }
  static NewValue From(const CellValue& v) {
    NewValue n;
    n.type = v.type;
    n.number = v.number;
    n.error = v.error;
    if (v.type == CellType::kText) n.text = std::string(v.text);
    return n;
  }
};

}  // namespace qm
