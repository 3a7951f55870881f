// Formulas travel as A1 text (without the leading "="), the form .xlsx stores. These functions
// move them as a spreadsheet program does when cells are pasted elsewhere or rows are deleted,
// and translate the binary format's token arrays to and from that text.
//
// What travels: numbers, strings, booleans, error literals, array constants (text only), the
// operators + - * / ^ & % = <> < > <= >= and the range ":", parentheses, references to cells,
// areas, whole columns and whole rows of the formula's own sheet with their $ markers, and
// function calls. What does not: references to other sheets or workbooks, defined names,
// structured table references, and malformed text. The binary translation further needs every
// function to be a built-in one of the binary format's function table (IFERROR and other later
// additions are not) and every reference to fit its 65,536 × 256 grid; array constants, the
// intersection operator (a space between references) and array or data-table formulas stay out.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// How deeply a formula may nest (parentheses, unary operators and function calls counted
// together) and still be carried as a formula. Excel stops at 64 nested functions; anything
// deeper comes from a damaged or crafted file, and its cell keeps the cached value instead.
constexpr int kMaxFormulaNesting = 256;

// Whether the A1 text nests deeper than kMaxFormulaNesting. The text is scanned once, character
// by character and without recursion, so any text may be given, also text the functions below
// refuse (other sheets, defined names, unbalanced parentheses).
bool FormulaNestsTooDeep(std::string_view a1);

// The formula as it reads after its cell moved by (drow, dcol): relative references move with
// it, absolute ones ($A$1) stay; a reference pushed off the grid becomes #REF!. nullopt when the
// text cannot be carried faithfully (references to other sheets or workbooks, defined names,
// anything outside the supported set); callers then keep the cached value only.
std::optional<std::string> ShiftFormula(std::string_view a1, int drow, int dcol);

// The formula of a cell after rows [first, first + count) were deleted from its sheet: references
// below move up, references to deleted rows become #REF!, areas spanning them shrink. nullopt as
// above.
std::optional<std::string> FormulaAfterRowDeletion(std::string_view a1, int first, int count);

// A BIFF8 token array (rgce) of the cell at (row, col) (1-based) as A1 text, nullopt when a token
// is outside the supported set. Tokens nested however deep still give their text, in time linear
// in its length: whether it can be written again is for the writers to say, and saying it is what
// lets a save count the formulas it had to turn into values.
std::optional<std::string> DecodeBiff8Formula(std::span<const uint8_t> rgce, int row, int col);

// A1 text compiled to a BIFF8 token array for the cell at (row, col); nullopt when unsupported,
// and for text nested deeper than kMaxFormulaNesting.
std::optional<std::vector<uint8_t>> EncodeBiff8Formula(std::string_view a1, int row, int col);

}  // namespace qm
