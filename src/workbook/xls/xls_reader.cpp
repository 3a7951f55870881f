// Reader of .xls workbooks: BIFF8 (Excel 97 and later) and the older BIFF5, BIFF4, BIFF3 and
// BIFF2 record streams, in a compound file or raw. Record layouts follow [MS-XLS]. This file
// reads the workbook globals and finds the sheets; xls_sheet.cpp reads each sheet.
#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "../office/cfb_reader.h"
#include "../office/ooxml_decrypt.h"
#include "biff_records.h"
#include "xls.h"
#include "xls_book.h"
#include "xls_decrypt.h"

namespace qm::xls {

using le::U16;
using le::U32;

namespace {

constexpr size_t kMaxSstStrings = 1u << 24;

// WPS Spreadsheets (.et, .ett) keeps its own streams ("ETExtData", ...) beside the workbook.
bool WrittenByWps(const cfb::Reader& cfb, const std::string& name) {
  for (const cfb::Entry& e : cfb.entries())
    if (e.type == 2 && e.name.size() >= 2 && e.name[0] == u'E' && e.name[1] == u'T') return true;
  std::string ext = name.substr(std::min(name.size(), name.find_last_of('.')));
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return ext == ".et" || ext == ".ett";
}

}  // namespace

void Book::ReadSst(const BiffRecord& r, RecordReader& rr) {
  const uint8_t* p = r.data;
  size_t n = r.size;
  if (text.biff < 8 || n < 8) return;
  Pieces in;
  in.Add(p + 8, n - 8);
  in.AddContinues(rr);
  // Each string takes at least three bytes, which caps what the count may claim.
  size_t unique = std::min<size_t>({U32(p + 4), in.Left() / 3 + 1, kMaxSstStrings});
  // One scratch text for the decoding, the texts themselves in one pool: no allocation per text.
  std::string s;
  for (size_t i = 0; i < unique && !in.AtEnd(); ++i) {
    s.clear();
    bool ok = ReadUnicode(in, true, s);
    const size_t before = sst.MemoryBytes();
    sst.Add(s);
    sst_account.Note(sst.MemoryBytes() - before);
    sst_account.Settle(size_t{1} << 20);
    if (!ok) break;
  }
}

bool Book::GlobalRecord(const BiffRecord& r, RecordReader& rr) {
  const uint8_t* p = r.data;
  size_t n = r.size;
  switch (r.id) {
    case kCodePage:
      if (n >= 2) text.codepage.Set(U16(p));
      break;
    case kDate1904:
      if (n >= 2) wb->styles().date1904 = U16(p) == 1;
      break;
    case kFilePass:
      pending_filepass = true;
      filepass_at = r.offset;
      return false;
    case kFont:
    case kFont3:
      styles.ReadFont(r, text);
      break;
    case kFormat:
    case kFormat2:
      styles.ReadFormat(r, text, wb->styles());
      break;
    case kXf:
    case kXf2:
    case kXf3:
    case kXf4:
      styles.ReadXf(r, text.biff);
      break;
    case kPalette:
      styles.ReadPalette(r);
      break;
    case kBoundSheet8:
      if (n >= 6 && sheets.size() < 65536) {
        SheetInfo s;
        s.offset = U32(p);
        s.hidden = (p[4] & 3) != 0;  // hidden or very hidden
        s.type = p[5];
        size_t pos = 6;
        text.ByteString(p, n, pos, false, s.name);
        sheets.push_back(std::move(s));
      }
      break;
    case kSst:
      ReadSst(r, rr);
      break;
    default:
      break;
  }
  return true;
}

namespace {

class BiffReader {
 public:
  BiffReader(const uint8_t* data, size_t size, const std::string& name, const ReadOptions& opt)
      : data_(data), size_(size), opt_(opt), book_(name) {}

  Result<std::unique_ptr<Workbook>> Run();
  std::string used_password;  // the user's password that decrypted the stream, if one did

 private:
  // `why` for the developer's detail, `note` for the user's bracket.
  Error Fail(ErrorCode code, const std::string& why, std::string note = {}) const {
    Error e = book_.Fail(code, why);
    e.note = std::move(note);
    return e;
  }
  int VersionOf(uint16_t bof_id, const uint8_t* d, size_t n) const;
  void ReadGlobals(RecordReader& rr);

  const uint8_t* data_;
  size_t size_;
  const ReadOptions& opt_;
  Book book_;
  std::vector<uint8_t> decrypted_;  // the stream after decryption, when it was encrypted
};

int BiffReader::VersionOf(uint16_t bof_id, const uint8_t* d, size_t n) const {
  switch (bof_id) {
    case kBof2:
      return 2;
    case kBof3:
      return 3;
    case kBof4:
      return 4;
    default:
      break;
  }
  uint16_t vers = n >= 2 ? U16(d) : 0;
  if (vers == 0x0600) return 8;
  if (vers == 0x0500 || vers == 0x0580 || (vers != 0 && vers < 0x0600)) return 5;
  // Some writers leave the version empty; BIFF8 BOFs are 16 bytes, BIFF5 ones 8.
  return n >= 16 ? 8 : 5;
}

void BiffReader::ReadGlobals(RecordReader& rr) {
  // A missing EOF is tolerated; the sheets tell whether data is missing. At FILEPASS the caller
  // decrypts and reads on.
  BiffRecord r;
  while (rr.Next(r)) {
    if (r.id == kEof || !book_.GlobalRecord(r, rr)) return;
  }
}

Result<std::unique_ptr<Workbook>> BiffReader::Run() {
  std::unique_ptr<Workbook>& wb = book_.wb;
  wb = std::make_unique<Workbook>();
  RecordReader rr(data_, size_);
  BiffRecord bof;
  if (!rr.Next(bof) || (bof.id != kBof && bof.id != kBof2 && bof.id != kBof3 && bof.id != kBof4))
    return Fail(ErrorCode::kCorrupt, "the workbook stream does not start with a BOF record",
                "工作簿数据的开头已损坏");
  int& biff = book_.text.biff;
  biff = VersionOf(bof.id, bof.data, bof.size);
  static const SourceFormat kFormats[] = {
      SourceFormat::kNone,  SourceFormat::kNone,  SourceFormat::kBiff2,
      SourceFormat::kBiff3, SourceFormat::kBiff4, SourceFormat::kBiff5,
      SourceFormat::kNone,  SourceFormat::kNone,  SourceFormat::kBiff8};
  wb->SetFormat(kFormats[biff]);
  if (biff >= 8) book_.text.codepage.Set(1200);

  uint16_t dt = bof.size >= 4 ? U16(bof.data + 2) : 0x10;
  if (biff <= 4 || (dt != 0x0005 && dt != 0x0100)) {
    // A single-sheet file (BIFF2-4, or a lone worksheet stream): formats live in the sheet.
    if (biff >= 5 && (dt == 0x20 || dt == 0x40))
      return Fail(ErrorCode::kNotAWorkbook, "the file holds a chart or macro sheet, no worksheet",
                  "只有图表或宏表，没有工作表");
    // The sheet has no name of its own; spreadsheet programs show the file's base name.
    std::string stem = book_.name.substr(book_.name.find_last_of("/\\") + 1);
    if (size_t dot = stem.rfind('.'); dot != std::string::npos && dot > 0) stem.resize(dot);
    if (stem.empty()) stem = "Sheet1";
    Worksheet& ws = wb->AddWorksheet(stem);
    if (auto e = ReadSheet(book_, rr, ws, true)) return *e;
    return std::move(wb);
  }

  ReadGlobals(rr);
  if (book_.pending_filepass) {
    decrypted_.assign(data_, data_ + size_);
    if (Status st = Decrypt(decrypted_, book_.filepass_at, book_.name, opt_, &used_password); !st)
      return st.error();
    data_ = decrypted_.data();
    book_.pending_filepass = false;
    RecordReader rest(data_, size_, rr.pos());
    ReadGlobals(rest);
    rr = rest;
  }
  book_.BuildStyles();

  // The substreams after the globals, in file order, in case a sheet's recorded offset is wrong.
  std::vector<size_t> bofs;
  auto find_bofs = [&] {
    RecordReader scan(data_, size_, rr.pos());
    BiffRecord x;
    int depth = 0;
    while (scan.Next(x)) {
      if (x.id == kBof) {
        if (depth == 0) bofs.push_back(x.offset);
        ++depth;
      } else if (x.id == kEof && depth > 0) {
        --depth;
      }
    }
  };
  bool scanned = false;
  int worksheets = 0;
  for (size_t i = 0; i < book_.sheets.size(); ++i) {
    const SheetInfo& s = book_.sheets[i];
    if (s.type != 0) continue;  // macro sheets, charts and VB modules are not worksheets
    size_t at = s.offset;
    bool good = at + 8 <= size_ && U16(data_ + at) == kBof;
    if (!good) {
      if (!scanned) find_bofs(), scanned = true;
      if (i < bofs.size()) {
        at = bofs[i];
        good = true;
      }
    }
    if (!good) continue;
    RecordReader sr(data_, size_, at);
    BiffRecord sb;
    if (!sr.Next(sb)) continue;  // a sheet BOF cut off by the end of the stream
    uint16_t sdt = sb.size >= 4 ? U16(sb.data + 2) : 0x10;
    if (sdt == 0x20 || sdt == 0x40 || sdt == 0x06) continue;  // a chart or macro sheet after all
    Worksheet& ws = wb->AddWorksheet(s.name);
    ws.SetHidden(s.hidden);
    if (auto e = ReadSheet(book_, sr, ws, false)) return *e;
    // Only the first worksheet decides; a damaged later one is kept as far as it goes.
    if (sr.truncated() && ws.CellCount() == 0 && worksheets == 0)
      return Fail(ErrorCode::kCorrupt, "the worksheet \"" + s.name + "\" is truncated",
                  "工作表“" + s.name + "”不完整");
    if (sr.truncated())
      wb->warnings.push_back(book_.name + ": the worksheet \"" + s.name +
                             "\" is truncated; the cells before the break were read");
    ++worksheets;
    if (opt_.first_worksheet_only) break;
  }
  if (worksheets == 0) {
    if (rr.truncated())
      return Fail(ErrorCode::kCorrupt, "the workbook stream is truncated before any worksheet",
                  "工作簿数据在第一个工作表之前中断");
    return Fail(ErrorCode::kNotAWorkbook, "the workbook holds no worksheet", "没有工作表");
  }
  return std::move(wb);
}

Result<std::unique_ptr<Workbook>> RunBiff(const uint8_t* d, size_t n, const std::string& name,
                                          const ReadOptions& options, std::string* used_password) {
  BiffReader reader(d, n, name, options);
  Result<std::unique_ptr<Workbook>> r = reader.Run();
  if (r.ok() && used_password) *used_password = reader.used_password;
  return r;
}

}  // namespace

Result<std::unique_ptr<Workbook>> Read(const uint8_t* data, size_t size, const std::string& name,
                                       const ReadOptions& options, std::string* used_password) {
  ContainerKind kind = SniffContainer(data, size);
  if (kind == ContainerKind::kRawBiff) return RunBiff(data, size, name, options, used_password);
  if (kind != ContainerKind::kCompoundFile)
    return MakeError(ErrorCode::kNotAWorkbook, name + ": not a workbook");
  cfb::Reader cfb;
  std::string why = cfb.Open(data, size);
  if (!why.empty()) return MakeError(ErrorCode::kCorrupt, name + ": " + why);
  return Read(cfb, name, options, used_password);
}

Result<std::unique_ptr<Workbook>> Read(const cfb::Reader& cfb, const std::string& name,
                                       const ReadOptions& options, std::string* used_password) {
  int index = cfb.Find(u"Workbook");
  if (index < 0) index = cfb.Find(u"Book");
  const bool wps = WrittenByWps(cfb, name);
  if (index < 0) {
    if (ooxml::IsEncryptedPackage(cfb))
      return MakeError(ErrorCode::kNotAWorkbook,
                       name + ": an encrypted package, which the package reader reads");
    if (wps) return MakeError(ErrorCode::kWpsFormat, name + ": 不支持的WPS表格格式");
    return MakeError(ErrorCode::kNotAWorkbook,
                     name + ": not a workbook (a compound file without a workbook stream)");
  }
  Result<std::unique_ptr<Workbook>> r = MakeError(ErrorCode::kCorrupt, "");
  if (std::span<const uint8_t> in_place = cfb.InPlace(index); !in_place.empty()) {
    r = RunBiff(in_place.data(), in_place.size(), name, options, used_password);
  } else {
    std::vector<uint8_t> stream = cfb.ReadStream(index);
    if (stream.empty())
      return MakeError(ErrorCode::kCorrupt, name + ": the workbook stream is empty or unreadable",
                       "工作簿数据是空的或无法读取");
    r = RunBiff(stream.data(), stream.size(), name, options, used_password);
  }
  if (r.ok() && wps && (*r)->format() == SourceFormat::kBiff8) (*r)->SetFormat(SourceFormat::kEt);
  return r;
}

}  // namespace qm::xls
