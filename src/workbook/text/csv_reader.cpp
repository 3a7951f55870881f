#include "csv_reader.h"

#include <cstring>
#include <optional>
#include <vector>

#include "../memory_budget.h"
#include "../paths.h"
#include "encoding.h"
#include "text_source.h"

namespace qm::text {
namespace {

// How many records the separator is judged on.
constexpr int kSampleRecords = 20;

std::string LowerExtension(const std::string& name) {
  std::string ext = PathToUtf8(PathFromUtf8(name).extension());
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext;
}

// Walks the records of CSV text: fields separated by `sep`, records by CR LF, LF or CR, quotes
// as RFC 4180. Lenient where files are: text after a closing quote is kept as it stands, and a
// quote left open runs to the end of the file.
class CsvScanner {
 public:
  CsvScanner(std::string_view text, char sep)
      : p_(text.data()), end_(text.data() + text.size()), sep_(sep) {
    stops_['\n'] = stops_['\r'] = stops_[static_cast<unsigned char>(sep)] = true;
  }

  bool AtEnd() const { return p_ == end_; }

  // Reads the next field into `*field` (a view of the text, or of `scratch_` when quotes had to
  // be undone) and says what ends it.
  enum class Ending { kSeparator, kRecord, kEnd };
  Ending Field(std::string_view* field) {
    if (p_ < end_ && *p_ == '"') {
      *field = Quoted();
    } else {
      const char* start = p_;
      while (p_ < end_ && !stops_[static_cast<unsigned char>(*p_)]) ++p_;
      *field = std::string_view(start, static_cast<size_t>(p_ - start));
    }
    if (p_ == end_) return Ending::kEnd;
    if (*p_ == sep_) {
      ++p_;
      return Ending::kSeparator;
    }
    if (*p_++ == '\r' && p_ < end_ && *p_ == '\n') ++p_;
    return Ending::kRecord;
  }

  size_t ScratchCapacity() const { return scratch_.capacity(); }

 private:
  std::string_view Quoted() {
    const char* start = ++p_;
    bool copied = false;
    std::string_view out;
    for (;;) {
      const char* q =
          static_cast<const char*>(std::memchr(p_, '"', static_cast<size_t>(end_ - p_)));
      if (!q) q = end_;
      if (q + 1 < end_ && q[1] == '"') {
        // A doubled quote stands for one.
        if (!copied) scratch_.clear(), copied = true;
        scratch_.append(p_, static_cast<size_t>(q + 1 - p_));
        p_ = q + 2;
        continue;
      }
      if (copied) {
        scratch_.append(p_, static_cast<size_t>(q - p_));
      } else {
        out = std::string_view(start, static_cast<size_t>(q - start));
      }
      p_ = q < end_ ? q + 1 : end_;
      break;
    }
    if (p_ < end_ && *p_ != sep_ && *p_ != '\n' && *p_ != '\r') {
      // `"ab"cd` is read as spreadsheet programs read it: abcd.
      if (!copied) scratch_.assign(out), copied = true;
      const char* rest = p_;
      while (p_ < end_ && *p_ != sep_ && *p_ != '\n' && *p_ != '\r') ++p_;
      scratch_.append(rest, static_cast<size_t>(p_ - rest));
    }
    std::string_view field = copied ? std::string_view(scratch_) : out;
    // A line break inside a cell is LF, whichever line ends the file has.
    if (field.find('\r') != std::string_view::npos) {
      std::string lf;
      lf.reserve(field.size());
      for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\r') {
          lf += field[i];
        } else if (i + 1 == field.size() || field[i + 1] != '\n') {
          lf += '\n';
        }
      }
      scratch_ = std::move(lf);
      field = scratch_;
    }
    return field;
  }

  const char* p_;
  const char* end_;
  char sep_;
  bool stops_[256] = {};  // the bytes that end an unquoted field
  std::string scratch_;
};

// True when the first records (empty lines aside) all split into the same number, at least two,
// of fields on `sep`.
bool SplitsEvenly(std::string_view text, char sep) {
  CsvScanner scan(text, sep);
  int records = 0, want = 0;
  while (!scan.AtEnd() && records < kSampleRecords) {
    int fields = 1;
    std::string_view field;
    while (scan.Field(&field) == CsvScanner::Ending::kSeparator) ++fields;
    if (fields == 1 && field.empty()) continue;
    if (fields < 2 || (want != 0 && fields != want)) return false;
    want = fields;
    ++records;
  }
  return records > 0;
}

bool IsAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

Error RowsPastGrid(const std::string& name) {
  return MakeError(ErrorCode::kTooLarge,
                   name + ": the text holds more than " + std::to_string(kMaxRows) + " rows",
                   "超过" + std::to_string(kMaxRows) + "行");
}

Error ColumnsPastGrid(const std::string& name) {
  return MakeError(ErrorCode::kTooLarge,
                   name + ": a line holds more than " + std::to_string(kMaxCols) + " fields",
                   "超过" + std::to_string(kMaxCols) + "列");
}

}  // namespace

char DetectSeparator(std::string_view text, const std::string& name) {
  const std::string ext = LowerExtension(name);
  if (ext == ".tsv") return '\t';
  if ((ext == ".xls" || ext == ".txt") && SplitsEvenly(text, '\t')) return '\t';
  if (SplitsEvenly(text, ',')) return ',';
  if (SplitsEvenly(text, ';')) return ';';
  if (SplitsEvenly(text, '\t')) return '\t';
  return ',';
}

Result<std::unique_ptr<Workbook>> ReadCsv(const uint8_t* data, size_t size,
                                          const std::string& name) {
  size_t bom_len;
  const Bom bom = DetectBom(data, size, &bom_len);
  const uint8_t* body = data + bom_len;
  const size_t n = size - bom_len;
  Charset charset = Charset::ForBom(bom);
  const bool utf8 = bom != Bom::kUtf16Le && bom != Bom::kUtf16Be && IsUtf8(body, n);
  if (bom == Bom::kNone && !utf8) charset = Charset::Gb18030();

  // UTF-8 and GB18030 are read where they lie: no byte of a GB18030 character is a quote, a
  // separator or a line end, so fields are found in the bytes and converted one by one. UTF-16
  // and broken UTF-8 are converted once, and the copy counts against the memory budget while the
  // sheet is built from it.
  memory::ScopedCharge charge;
  std::string decoded;
  std::string_view text(reinterpret_cast<const char*>(body), n);
  const bool gb18030 = bom == Bom::kNone && !utf8;
  if (!utf8 && !gb18030) {
    charge.AddOrThrow(n);
    charset.Decode(body, n, decoded);
    charge.AddOrThrow(decoded.capacity() > n ? decoded.capacity() - n : 0);
    text = decoded;
  }

  const char sep = DetectSeparator(text, name);
  auto wb = std::make_unique<Workbook>();
  wb->SetFormat(SourceFormat::kCsv);
  wb->SetTextSource(charset.name(), sep);
  Worksheet& ws = wb->AddWorksheet(SheetNameFromPath(name));
  TypedCells cells(ws);

  CsvScanner scan(text, sep);
  std::optional<Gb18030Decoder> gb;
  if (gb18030) gb.emplace();
  std::string field_utf8;
  size_t scratch_charged = 0;
  int row = 1, col = 1;
  while (!scan.AtEnd()) {
    std::string_view field;
    const CsvScanner::Ending e = scan.Field(&field);
    if (!field.empty()) {
      if (row > kMaxRows) return RowsPastGrid(name);
      if (col > kMaxCols) return ColumnsPastGrid(name);
      if (gb && !IsAscii(field)) {
        field_utf8.clear();
        gb->Decode(reinterpret_cast<const uint8_t*>(field.data()), field.size(), field_utf8);
        field = field_utf8;
      }
      cells.Append(row, col, field);
      // A quoted field with doubled quotes is unescaped into a buffer as long as the field, and
      // converted into another.
      const size_t scratch = scan.ScratchCapacity() + field_utf8.capacity();
      if (scratch > scratch_charged + (1u << 20)) {
        charge.AddOrThrow(scratch - scratch_charged);
        scratch_charged = scratch;
      }
    }
    if (e == CsvScanner::Ending::kSeparator) {
      ++col;
    } else {
      ++row;
      col = 1;
    }
  }
  return wb;
}

}  // namespace qm::text
