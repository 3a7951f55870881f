// Excel binary workbooks. The package is laid out as an .xlsx one (relationships in XML), but the
// workbook, shared strings, styles and sheets are BIFF12 record streams ([MS-XLSB]). Parts are
// streamed through the record splitter, so memory follows the cells, not the part's size.
#include <algorithm>
#include <new>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "../memory_budget.h"
#include "../xls/biff_in.h"
#include "../xlsx/xlsx_read_parts.h"
#include "../xlsx/zip_reader.h"
#include "../xml_doc.h"
#include "xlsb.h"
#include "xlsb_records.h"

namespace qm::xlsb {
namespace {

// Record types ([MS-XLSB] 2.3).
enum : uint32_t {
  kRowHdr = 0x00,
  kCellBlank = 0x01,
  kCellRk = 0x02,
  kCellError = 0x03,
  kCellBool = 0x04,
  kCellReal = 0x05,
  kCellSt = 0x06,
  kCellIsst = 0x07,
  kFmlaString = 0x08,
  kFmlaNum = 0x09,
  kFmlaBool = 0x0A,
  kFmlaError = 0x0B,
  kSstItem = 0x13,
  kFmt = 0x2C,
  kXf = 0x2F,
  kColInfo = 0x3C,
  kCellRString = 0x3E,
  kWbProp = 0x99,
  kBundleSh = 0x9C,
  kEndSheetData = 0x92,
  kMergeCell = 0xB0,
  kBeginCellXfs = 0x269,
  kEndCellXfs = 0x26A,
};

constexpr size_t kMaxSheets = 65535;
constexpr size_t kMaxSstStrings = size_t{1} << 26;

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

std::string DirOf(std::string_view part) {
  const size_t slash = part.rfind('/');
  return slash == std::string_view::npos ? std::string() : std::string(part.substr(0, slash + 1));
}

struct Relationship {
  std::string id, type, target;
  bool external = false;
};

class RelsHandler : public xmldoc::Handler {
 public:
  std::vector<Relationship> rels;
  void Start(const XML_Char* name, const XML_Char** a) {
    if (xmldoc::Local(name) != "Relationship") return;
    Relationship r;
    if (const char* v = xmldoc::Attr(a, "Id")) r.id = v;
    if (const char* v = xmldoc::Attr(a, "Type")) r.type = v;
    if (const char* v = xmldoc::Attr(a, "Target")) r.target = v;
    const char* mode = xmldoc::Attr(a, "TargetMode");
    r.external = mode && std::string_view(mode) == "External";
    rels.push_back(std::move(r));
  }
  void End(const XML_Char*) {}
  void Text(const char*, int) {}
};

struct SheetEntry {
  std::string name, rel_id;
  bool hidden = false;
};

class PackageReader {
 public:
  PackageReader(zip::Archive& zip, const std::string& name, const ReadOptions& options)
      : zip_(zip), name_(name), options_(options) {}

  Result<std::unique_ptr<Workbook>> Read() {
    wb_ = std::make_unique<Workbook>();
    wb_->SetFormat(SourceFormat::kXlsb);
    std::string main_part = "xl/workbook.bin";
    auto root = ReadRels("_rels/.rels");
    if (!root.ok()) return root.error();
    for (const auto& r : *root)
      if (EndsWith(r.type, "/officeDocument") && !r.external) {
        std::string t = xlsx::ResolveTarget("", r.target);
        if (zip_.Find(t)) main_part = t;
      }
    const zip::Entry* main = zip_.Find(main_part);
    if (!main) return Damaged("缺少工作簿部件" + main_part);
    const std::string dir = DirOf(main->name);
    auto rels = ReadRels(dir + "_rels/" + main->name.substr(dir.size()) + ".rels");
    if (!rels.ok()) return rels.error();
    std::unordered_map<std::string, const Relationship*> by_id;
    std::string styles_part, sst_part;
    for (const auto& r : *rels) {
      by_id[r.id] = &r;
      if (EndsWith(r.type, "/styles"))
        styles_part = xlsx::ResolveTarget(dir, r.target);
      else if (EndsWith(r.type, "/sharedStrings"))
        sst_part = xlsx::ResolveTarget(dir, r.target);
    }

    std::vector<SheetEntry> sheets;
    if (auto st = Walk(*main,
                       [&](const Record& r) {
                         Body b(r);
                         if (r.type == kBundleSh) {
                           SheetEntry s;
                           const uint32_t state = b.U32();
                           b.U32();  // iTabID
                           b.WideString(s.rel_id);
                           b.WideString(s.name);
                           if (!b.ok()) return Malformed(main->name);
                           s.hidden = state == 1 || state == 2;
                           if (sheets.size() >= kMaxSheets) return Absurd("工作表多得离谱");
                           sheets.push_back(std::move(s));
                         } else if (r.type == kWbProp) {
                           wb_->styles().date1904 = b.U32() & 1;
                         }
                         return true;
                       });
        !st)
      return st.error();

    if (const zip::Entry* e = styles_part.empty() ? nullptr : zip_.Find(styles_part))
      if (auto st = ReadStyles(*e); !st) return st.error();
    if (xf_map_.empty()) xf_map_.push_back(0);
    if (const zip::Entry* e = sst_part.empty() ? nullptr : zip_.Find(sst_part))
      if (auto st = ReadSharedStrings(*e); !st) return st.error();

    int worksheets = 0;
    for (const SheetEntry& s : sheets) {
      auto it = by_id.find(s.rel_id);
      // Chart, dialog and macro sheets are not worksheets.
      if (it == by_id.end() || !EndsWith(it->second->type, "/worksheet")) continue;
      const std::string part = xlsx::ResolveTarget(dir, it->second->target);
      const zip::Entry* e = zip_.Find(part);
      if (!e) return Damaged("缺少工作表“" + s.name + "”的部件" + part);
      Worksheet& ws = wb_->AddWorksheet(s.name);
      ws.SetHidden(s.hidden);
      if (auto st = ReadSheet(*e, ws); !st) return st.error();
      ++worksheets;
      if (options_.first_worksheet_only) break;
    }
    if (worksheets == 0)
      return MakeError(ErrorCode::kNotAWorkbook, name_ + ": 工作簿中没有工作表",
                       "工作簿中没有工作表");
    return std::move(wb_);
  }

 private:
  Error Damaged(const std::string& why) const {
    return MakeError(ErrorCode::kCorrupt, name_ + ": " + why, why);
  }

  // Record callbacks report a failure by storing it and returning false.
  bool Malformed(const std::string& part) {
    failure_ = Damaged(part + "中有残缺的记录");
    return false;
  }
  bool Absurd(const std::string& why) {
    failure_ = MakeError(ErrorCode::kTooLarge, name_ + ": " + why, why);
    return false;
  }

  // Streams the records of a part through `on`, which returns false to stop (after storing a
  // failure in failure_, or not, when it has all it wants).
  template <class F>
  Status Walk(const zip::Entry& e, F&& on) {
    failure_.reset();
    RecordSplitter split;
    bool malformed = false;
    Status st = zip_.Extract(e, [&](const char* d, size_t n) {
      // Running out of memory stops the walk here, not by unwinding through the inflater.
      try {
        RecordSplitter::State s = split.Push(d, n, on);
        malformed = s == RecordSplitter::State::kMalformed;
        return s == RecordSplitter::State::kOk;
      } catch (const std::bad_alloc& ex) {
        failure_ =
            MakeError(ErrorCode::kNoMemory, name_ + ": not enough memory to hold the workbook",
                      memory::NoMemoryNote(ex));
        return false;
      }
    });
    if (failure_) return *failure_;
    if (!st) return st;
    if (malformed || split.Leftover() > 0) return Damaged(e.name + "中有残缺的记录");
    return Status::Ok();
  }

  Result<std::vector<Relationship>> ReadRels(const std::string& part) {
    const zip::Entry* e = zip_.Find(part);
    if (!e) return std::vector<Relationship>{};
    RelsHandler h;
    if (auto st = xmldoc::ParseEntry(zip_, *e, h, name_); !st) return st.error();
    return std::move(h.rels);
  }

  Status ReadStyles(const zip::Entry& e) {
    StyleTable& st = wb_->styles();
    bool in_cell_xfs = false;
    return Walk(e, [&](const Record& r) {
      Body b(r);
      switch (r.type) {
        case kFmt: {
          const uint16_t id = b.U16();
          std::string code;
          if (b.WideString(code)) st.SetNumFmt(id, std::move(code));
          break;
        }
        case kBeginCellXfs:
          in_cell_xfs = true;
          break;
        case kEndCellXfs:
          in_cell_xfs = false;
          break;
        case kXf:
          // Style formats (the cell styles' own) come in another block; cells index these.
          if (in_cell_xfs && xf_map_.size() < 65536) {
            b.U16();  // ixfeParent
            Xf x;
            x.num_fmt = b.U16();
            xf_map_.push_back(st.AddXf(x));
          }
          break;
        default:
          break;
      }
      return true;
    });
  }

  Status ReadSharedStrings(const zip::Entry& e) {
    return Walk(e, [&](const Record& r) {
      if (r.type != kSstItem) return true;
      Body b(r);
      b.U8();  // rich-text and phonetic flags: runs and phonetic text follow the string
      std::string s;
      if (!b.WideString(s)) return Malformed(e.name);
      if (sst_.size() >= kMaxSstStrings) return Absurd("共享字符串多得离谱");
      // Millions of short strings take far more memory than their records: they count.
      sst_account_.Note(sizeof(std::string) + (s.size() > 15 ? s.size() + 17 : 0));
      sst_account_.Settle(size_t{1} << 20);
      sst_.push_back(std::move(s));
      return true;
    });
  }

  Status ReadSheet(const zip::Entry& e, Worksheet& ws) {
    std::vector<uint32_t> pooled(sst_.size(), UINT32_MAX);
    int row = 0;  // 1-based; 0 before the first row header
    int width_entries_left = 1 << 16;
    std::string text;
    return Walk(e, [&](const Record& r) {
      if (r.type == kRowHdr) {
        const uint32_t rw = Body(r).U32();
        if (rw >= static_cast<uint32_t>(kMaxRows)) return Outside(rw + 1, 1);
        row = static_cast<int>(rw) + 1;
        return true;
      }
      if (r.type <= kFmlaError || r.type == kCellRString) {
        if (row == 0) return true;
        Body b(r);
        const uint32_t col = b.U32();
        const uint32_t style_ref = b.U32() & 0xFFFFFF;
        if (!b.ok()) return Malformed(e.name);
        if (col >= static_cast<uint32_t>(kMaxCols)) return Outside(row, col + 1);
        Cell cell;
        cell.bits = 0;
        cell.col = static_cast<uint16_t>(col + 1);
        cell.style = style_ref < xf_map_.size() ? xf_map_[style_ref] : xf_map_[0];
        cell.type = static_cast<uint32_t>(CellType::kNumber);
        cell.formula = 0;
        switch (r.type) {
          case kCellBlank:
            cell.type = static_cast<uint32_t>(CellType::kBlank);
            if (cell.style == 0) return true;
            break;
          case kCellRk:
            cell.number = xls::RkValue(b.U32());
            break;
          case kCellReal:
          case kFmlaNum:
            cell.number = b.F64();
            break;
          case kCellError:
          case kFmlaError:
            cell.type = static_cast<uint32_t>(CellType::kError);
            cell.bits = b.U8();
            break;
          case kCellBool:
          case kFmlaBool:
            cell.type = static_cast<uint32_t>(CellType::kBool);
            cell.bits = b.U8() ? 1 : 0;
            break;
          case kCellIsst: {
            const uint32_t i = b.U32();
            if (i >= sst_.size()) {
              // A dangling index: the cell shows nothing.
              cell.type = static_cast<uint32_t>(CellType::kBlank);
              if (cell.style == 0) return true;
              break;
            }
            if (pooled[i] == UINT32_MAX) pooled[i] = ws.AddString(sst_[i]);
            cell.type = static_cast<uint32_t>(CellType::kText);
            cell.bits = pooled[i];
            break;
          }
          case kCellRString:
            b.U8();  // flags of the rich string
            [[fallthrough]];
          case kCellSt:
          case kFmlaString:
            b.WideString(text);
            cell.type = static_cast<uint32_t>(CellType::kText);
            cell.bits = ws.AddString(text);
            break;
          default:
            return true;
        }
        if (!b.ok()) return Malformed(e.name);
        ws.AppendCell(row, cell);
        return true;
      }
      if (r.type == kMergeCell) {
        Body b(r);
        const uint32_t r1 = b.U32(), r2 = b.U32(), c1 = b.U32(), c2 = b.U32();
        if (!b.ok()) return Malformed(e.name);
        if (r1 <= r2 && c1 <= c2 && r2 < static_cast<uint32_t>(kMaxRows) &&
            c2 < static_cast<uint32_t>(kMaxCols)) {
          if (++merges_ > 1'000'000) return Absurd("合并区域多得离谱");
          ws.AddMerge(Range{static_cast<int>(r1) + 1, static_cast<int>(c1) + 1,
                            static_cast<int>(r2) + 1, static_cast<int>(c2) + 1});
        }
        return true;
      }
      if (r.type == kColInfo) {
        Body b(r);
        const uint32_t c1 = b.U32(), c2 = b.U32(), width = b.U32();
        b.U32();  // ixfe
        const bool hidden = b.U16() & 1;
        if (b.ok() && c1 <= c2 && c1 < static_cast<uint32_t>(kMaxCols)) {
          // A single entry often spans every column to the end of the grid; only columns near
          // the used area are worth an entry each.
          // However many entries a part repeats, they cost a bounded number of map entries.
          const uint32_t last = std::min({c2, static_cast<uint32_t>(kMaxCols) - 1, c1 + 1023});
          for (uint32_t c = c1; c <= last && width_entries_left > 0; ++c, --width_entries_left)
            ws.SetColumnWidth(static_cast<int>(c) + 1, hidden ? 0 : width / 256.0);
        }
      }
      return true;
    });
  }

  bool Outside(uint64_t r, uint64_t c) {
    const std::string why = "单元格（第" + std::to_string(r) + "行第" + std::to_string(c) +
                            "列）超出了1048576行、16384列的工作表范围";
    failure_ = MakeError(ErrorCode::kTooLarge, name_ + ": " + why, why);
    return false;
  }

  zip::Archive& zip_;
  const std::string& name_;
  const ReadOptions& options_;
  std::unique_ptr<Workbook> wb_;
  std::vector<uint16_t> xf_map_;
  std::vector<std::string> sst_;
  memory::Account sst_account_;
  size_t merges_ = 0;
  std::optional<Error> failure_;
};

}  // namespace

Result<std::unique_ptr<Workbook>> Read(const uint8_t* data, size_t size, const std::string& name,
                                       const ReadOptions& options) {
  auto zip = zip::Archive::Open(data, size, name);
  if (!zip.ok()) return zip.error();
  return ReadArchive(*zip, name, options);
}

Result<std::unique_ptr<Workbook>> ReadArchive(zip::Archive& zip, const std::string& name,
                                              const ReadOptions& options) {
  PackageReader reader(zip, name, options);
  return reader.Read();
}

}  // namespace qm::xlsb
