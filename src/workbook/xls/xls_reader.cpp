// Reader of .xls workbooks: BIFF8 (Excel 97 and later) and the older BIFF5, BIFF4, BIFF3 and
// BIFF2 record streams, in a compound file or raw. Record ids and layouts follow [MS-XLS].
#include <iconv.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "../formula/formula.h"
#include "../io.h"
#include "../memory_budget.h"
#include "../xlsx/ooxml_decrypt.h"
#include "cfb_reader.h"
#include "xls_decrypt.h"

namespace qm::xls {

namespace {

// Record ids ([MS-XLS] 2.3).
enum : uint16_t {
  kBlank2 = 0x0001,
  kInteger2 = 0x0002,
  kNumber2 = 0x0003,
  kLabel2 = 0x0004,
  kBoolErr2 = 0x0005,
  kFormula = 0x0006,
  kString2 = 0x0007,
  kBof2 = 0x0009,
  kEof = 0x000A,
  kDateMode = 0x0022,
  kFont2 = 0x0031,
  kFilePass = 0x002F,
  kFormat2 = 0x001E,
  kContinue = 0x003C,
  kCodePage = 0x0042,
  kDefColWidth = 0x0055,
  kColInfo = 0x007D,
  kBoundSheet = 0x0085,
  kPalette = 0x0092,
  kMulRk = 0x00BD,
  kMulBlank = 0x00BE,
  kRString = 0x00D6,
  kXf = 0x00E0,
  kMergedCells = 0x00E5,
  kSst = 0x00FC,
  kLabelSst = 0x00FD,
  kBlank = 0x0201,
  kNumber = 0x0203,
  kLabel = 0x0204,
  kBoolErr = 0x0205,
  kFormula3 = 0x0206,
  kString = 0x0207,
  kRow = 0x0208,
  kBof3 = 0x0209,
  kArray = 0x0221,
  kFont3 = 0x0231,
  kDefaultRowHeight = 0x0225,
  kXf3 = 0x0243,
  kRk = 0x027E,
  kFormula4 = 0x0406,
  kBof4 = 0x0409,
  kFormat = 0x041E,
  kXf4 = 0x0443,
  kShrFmla = 0x04BC,
  kBof = 0x0809,
};

constexpr size_t kMaxSstStrings = 1u << 24;

uint16_t U16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t U32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
double F64(const uint8_t* p) {
  double d;
  std::memcpy(&d, p, 8);
  return d;
}

double RkValue(uint32_t rk) {
  double v;
  if (rk & 2) {
    v = static_cast<double>(static_cast<int32_t>(rk) >> 2);
  } else {
    uint64_t bits = static_cast<uint64_t>(rk & 0xFFFFFFFCu) << 32;
    std::memcpy(&v, &bits, 8);
  }
  return (rk & 1) ? v / 100 : v;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | cp >> 18);
    out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// UTF-16 code units as UTF-8; a lone surrogate becomes U+FFFD.
class Utf16Builder {
 public:
  explicit Utf16Builder(std::string& out) : out_(out) {}
  void Unit(uint16_t u) {
    if (pending_) {
      if (u >= 0xDC00 && u <= 0xDFFF) {
        AppendUtf8(out_, 0x10000 + ((pending_ - 0xD800) << 10) + (u - 0xDC00));
        pending_ = 0;
        return;
      }
      AppendUtf8(out_, 0xFFFD);
      pending_ = 0;
    }
    if (u >= 0xD800 && u <= 0xDBFF)
      pending_ = u;
    else if (u >= 0xDC00 && u <= 0xDFFF)
      AppendUtf8(out_, 0xFFFD);
    else
      AppendUtf8(out_, u);
  }
  void Finish() {
    if (pending_) AppendUtf8(out_, 0xFFFD);
    pending_ = 0;
  }

 private:
  std::string& out_;
  uint32_t pending_ = 0;
};

// Bytes in a Windows code page as UTF-8 (BIFF5 and older store text that way).
class CodePage {
 public:
  ~CodePage() { Close(); }
  void Set(uint16_t cp) {
    if (cp == cp_) return;
    Close();
    cp_ = cp;
  }
  uint16_t cp() const { return cp_; }
  void Convert(const uint8_t* p, size_t n, std::string& out) {
    bool ascii = true;
    for (size_t i = 0; i < n && ascii; ++i) ascii = p[i] < 0x80;
    if (ascii) {
      out.append(reinterpret_cast<const char*>(p), n);
      return;
    }
    if (cp_ == 1200 || cp_ == 0xFFFF) {  // Latin-1 bytes in a file that claims UTF-16
      for (size_t i = 0; i < n; ++i) AppendUtf8(out, p[i]);
      return;
    }
    if (!opened_) Open();
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      for (size_t i = 0; i < n; ++i) AppendUtf8(out, p[i]);
      return;
    }
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(reinterpret_cast<const char*>(p));
    size_t in_left = n;
    std::string buf(n * 4 + 8, '\0');
    while (in_left > 0) {
      char* o = buf.data();
      size_t o_left = buf.size();
      size_t r = iconv(cd_, &in, &in_left, &o, &o_left);
      out.append(buf.data(), buf.size() - o_left);
      if (r == static_cast<size_t>(-1)) {
        if (errno == E2BIG) continue;
        // An invalid or incomplete sequence: show it as one replacement character and go on.
        AppendUtf8(out, 0xFFFD);
        ++in;
        --in_left;
      }
    }
  }

 private:
  void Open() {
    opened_ = true;
    std::string name;
    switch (cp_) {
      case 10000:
      case 32768:
        name = "MACINTOSH";
        break;
      case 367:
        name = "ASCII";
        break;
      case 1361:
        name = "CP1361";
        break;
      default:
        name = "CP" + std::to_string(cp_);
    }
    cd_ = iconv_open("UTF-8", name.c_str());
    if (cd_ == reinterpret_cast<iconv_t>(-1)) cd_ = iconv_open("UTF-8", "CP1252");
  }
  void Close() {
    if (opened_ && cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    opened_ = false;
    cd_ = reinterpret_cast<iconv_t>(-1);
  }
  uint16_t cp_ = 1252;
  bool opened_ = false;
  iconv_t cd_ = reinterpret_cast<iconv_t>(-1);
};

struct Record {
  uint16_t id = 0;
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  size_t offset = 0;  // of the header within the stream
};

// Walks the records of a stream. A record whose body runs past the end stops the walk and
// marks the stream truncated.
class RecordReader {
 public:
  RecordReader(const uint8_t* data, size_t size, size_t pos = 0)
      : data_(data), size_(size), pos_(pos) {}
  bool Next(Record& r) {
    if (pos_ + 4 > size_) {
      truncated_ = true;  // the stream ended before the EOF record
      return false;
    }
    uint32_t n = U16(data_ + pos_ + 2);
    if (pos_ + 4 + n > size_) {
      truncated_ = true;
      return false;
    }
    r.id = U16(data_ + pos_);
    r.size = n;
    r.offset = pos_;
    r.data = data_ + pos_ + 4;
    pos_ += 4 + n;
    return true;
  }
  // The next record's id without consuming it; 0xFFFF at the end.
  uint16_t PeekId() const { return pos_ + 4 <= size_ ? U16(data_ + pos_) : 0xFFFF; }
  size_t pos() const { return pos_; }
  void Seek(size_t pos) { pos_ = pos; }
  bool truncated() const { return truncated_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_;
  bool truncated_ = false;
};

// A record body together with its CONTINUE records, read as one sequence; a string's characters
// that cross into a CONTINUE restart with one option byte that may switch between 8-bit and
// 16-bit characters.
class Pieces {
 public:
  void Clear() {
    segs_.clear();
    seg_ = 0;
    off_ = 0;
  }
  void Add(const uint8_t* p, size_t n) { segs_.push_back({p, n}); }
  bool AtEnd() {
    Normalize();
    return seg_ >= segs_.size();
  }
  size_t Left() const {
    size_t n = 0;
    for (size_t i = seg_; i < segs_.size(); ++i) n += segs_[i].size() - (i == seg_ ? off_ : 0);
    return n;
  }
  bool U8(uint8_t& v) {
    Normalize();
    if (seg_ >= segs_.size()) return false;
    v = segs_[seg_][off_++];
    return true;
  }
  bool U16v(uint16_t& v) {
    uint8_t a, b;
    if (!U8(a) || !U8(b)) return false;
    v = static_cast<uint16_t>(a | b << 8);
    return true;
  }
  bool U32v(uint32_t& v) {
    uint16_t a, b;
    if (!U16v(a) || !U16v(b)) return false;
    v = a | static_cast<uint32_t>(b) << 16;
    return true;
  }
  bool Skip(size_t n) {
    while (n > 0) {
      Normalize();
      if (seg_ >= segs_.size()) return false;
      size_t k = std::min(n, segs_[seg_].size() - off_);
      off_ += k;
      n -= k;
    }
    return true;
  }
  // `cch` characters, starting with 16-bit ones when `wide`.
  bool Chars(size_t cch, bool wide, std::string& out) {
    Utf16Builder b(out);
    bool first = true;
    while (cch > 0) {
      if (!first || off_ >= (seg_ < segs_.size() ? segs_[seg_].size() : 0)) {
        if (off_ >= (seg_ < segs_.size() ? segs_[seg_].size() : 0)) {
          // Crossing into the next record: its first byte repeats the option flags.
          ++seg_;
          off_ = 0;
          while (seg_ < segs_.size() && segs_[seg_].empty()) ++seg_;
          if (seg_ >= segs_.size()) break;
          wide = segs_[seg_][off_++] & 1;
        }
      }
      first = false;
      std::span<const uint8_t> s = segs_[seg_];
      size_t avail = (s.size() - off_) / (wide ? 2 : 1);
      size_t k = std::min(cch, avail);
      if (k == 0) {
        if (off_ < s.size()) off_ = s.size();  // half a unit left: cannot be split, skip it
        continue;
      }
      const uint8_t* p = s.data() + off_;
      if (wide) {
        for (size_t i = 0; i < k; ++i) b.Unit(U16(p + 2 * i));
      } else {
        for (size_t i = 0; i < k; ++i) AppendUtf8(out, p[i]);
      }
      off_ += k * (wide ? 2 : 1);
      cch -= k;
    }
    b.Finish();
    return cch == 0;
  }

 private:
  void Normalize() {
    while (seg_ < segs_.size() && off_ >= segs_[seg_].size()) {
      ++seg_;
      off_ = 0;
    }
  }
  std::vector<std::span<const uint8_t>> segs_;
  size_t seg_ = 0;
  size_t off_ = 0;
};

// A BIFF8 unicode string: length (16- or 8-bit), options, optional run and phonetic sizes, the
// characters, then the runs and the phonetic block, all of which may cross record boundaries.
bool ReadUnicode(Pieces& in, bool long_len, std::string& out) {
  uint16_t cch = 0;
  if (long_len) {
    if (!in.U16v(cch)) return false;
  } else {
    uint8_t c8;
    if (!in.U8(c8)) return false;
    cch = c8;
  }
  uint8_t flags;
  if (!in.U8(flags)) return false;
  uint16_t runs = 0;
  uint32_t ext = 0;
  if ((flags & 0x08) && !in.U16v(runs)) return false;
  if ((flags & 0x04) && !in.U32v(ext)) return false;
  if (!in.Chars(cch, flags & 1, out)) return false;
  return in.Skip(size_t{runs} * 4) && in.Skip(ext);
}

// A BIFF8 unicode string inside one record body; advances `pos`.
bool ReadUnicodeFlat(const uint8_t* p, size_t n, size_t& pos, bool long_len, std::string& out) {
  Pieces in;
  in.Add(p + pos, n - pos);
  size_t before = in.Left();
  if (!ReadUnicode(in, long_len, out)) return false;
  pos += before - in.Left();
  return true;
}

struct RawXf {
  uint16_t font = 0;
  uint16_t fmt = 0;
  Xf xf;
  // Colour indexes resolved once the palette is known.
  uint16_t fill_pattern = 0, fill_fg = 64, fill_bg = 65;
  uint8_t border_style[5] = {};
  uint16_t border_color[5] = {64, 64, 64, 64, 64};
  bool diag_down = false, diag_up = false;
};

struct RawFont {
  Font font;
  uint16_t color = 0x7FFF;
};

struct SheetInfo {
  std::string name;
  uint32_t offset = 0;
  uint8_t type = 0;  // 0 worksheet, 1 macro sheet, 2 chart, 6 VB module
};

class BiffReader {
 public:
  BiffReader(const uint8_t* data, size_t size, const std::string& name, const ReadOptions& opt)
      : data_(data), size_(size), name_(name), opt_(opt) {}

  Result<std::unique_ptr<Workbook>> Run();
  std::vector<uint8_t> decrypted;  // the stream after decryption, when it was encrypted
  std::string used_password;       // the user's password that decrypted it, if one did

 private:
  Error Fail(ErrorCode code, const std::string& why) const {
    return MakeError(code, name_ + ": " + why);
  }
  int VersionOf(uint16_t bof_id, const uint8_t* d, size_t n) const;
  std::optional<Error> ReadGlobals(RecordReader& rr);
  bool GlobalRecord(const Record& r, RecordReader& rr);
  void BuildStyles();
  Color PaletteColor(uint16_t icv) const;
  std::optional<Error> ReadSheet(RecordReader& rr, Worksheet& ws, bool embedded_globals);
  std::string Text8(const uint8_t* p, size_t n) {
    std::string s;
    codepage_.Convert(p, n, s);
    return s;
  }
  // BIFF5-and-older byte string with an 8- or 16-bit length; BIFF8 unicode otherwise.
  bool ByteString(const uint8_t* p, size_t n, size_t& pos, bool long_len, std::string& out);
  void ReadFont(const Record& r);
  void ReadFormat(const Record& r);
  void ReadXf(const Record& r);

  const uint8_t* data_;
  size_t size_;
  const std::string& name_;
  const ReadOptions& opt_;
  int biff_ = 8;
  std::unique_ptr<Workbook> wb_;
  CodePage codepage_;
  std::vector<std::string> sst_;
  memory::Account sst_account_;  // what sst_ holds, charged to the memory budget
  std::vector<SheetInfo> sheets_;
  std::vector<RawFont> fonts_;
  std::vector<RawXf> xfs_;
  std::vector<uint16_t> xf_map_;
  uint32_t palette_[56];
  int next_format_index_ = 0;  // BIFF3/4 number their formats by order
  std::vector<uint16_t> font_map_;
  bool pending_filepass_ = false;
  size_t filepass_at_ = 0;
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

bool BiffReader::ByteString(const uint8_t* p, size_t n, size_t& pos, bool long_len,
                            std::string& out) {
  if (biff_ >= 8) return ReadUnicodeFlat(p, n, pos, long_len, out);
  size_t need = long_len ? 2 : 1;
  if (pos + need > n) return false;
  size_t cch = long_len ? U16(p + pos) : p[pos];
  pos += need;
  cch = std::min(cch, n - pos);  // older writers are sloppy with lengths; take what is there
  codepage_.Convert(p + pos, cch, out);
  pos += cch;
  return true;
}

Color BiffReader::PaletteColor(uint16_t icv) const {
  if (icv < 8) return Rgb(kDefaultPalette[icv]);
  if (icv < 64) return Rgb(palette_[icv - 8]);
  return kAutoColor;  // system colours and "automatic"
}

void BiffReader::ReadFont(const Record& r) {
  const uint8_t* p = r.data;
  size_t n = r.size;
  RawFont f;
  if (n < 4) return;
  f.font.size = U16(p) / 20.0;
  uint16_t grbit = U16(p + 2);
  f.font.italic = grbit & 0x02;
  f.font.strike = grbit & 0x08;
  f.font.bold = grbit & 0x01;
  size_t pos = 4;
  if (biff_ >= 5 || r.id == kFont3) {
    if (n < 6) return;
    f.color = U16(p + 4);
    pos = 6;
  }
  if (biff_ >= 5) {
    if (n < 14) return;
    uint16_t weight = U16(p + 6);
    f.font.bold = weight >= 700 || (grbit & 0x01);
    f.font.script = static_cast<uint8_t>(U16(p + 8));
    f.font.underline = p[10];
    f.font.family = p[11];
    f.font.charset = p[12];
    pos = 14;
  }
  std::string name;
  if (ByteString(p, n, pos, false, name)) f.font.name = name;
  if (fonts_.size() < 1024) fonts_.push_back(std::move(f));
}

void BiffReader::ReadFormat(const Record& r) {
  const uint8_t* p = r.data;
  size_t n = r.size;
  int id;
  size_t pos;
  std::string text;
  if (biff_ >= 5) {
    if (n < 3) return;
    id = U16(p);
    pos = 2;
    if (!ByteString(p, n, pos, biff_ >= 8, text)) return;
  } else {
    id = next_format_index_++;
    pos = biff_ == 4 ? 2 : 0;
    if (!ByteString(p, n, pos, false, text)) return;
  }
  wb_->styles().SetNumFmt(id, std::move(text));
}

void BiffReader::ReadXf(const Record& r) {
  const uint8_t* p = r.data;
  size_t n = r.size;
  RawXf x;
  if (biff_ >= 8) {
    if (n < 20) return;
    x.font = U16(p);
    x.fmt = U16(p + 2);
    uint16_t prot = U16(p + 4);
    x.xf.locked = prot & 1;
    x.xf.hidden = prot & 2;
    x.xf.align.horizontal = p[6] & 7;
    x.xf.align.wrap = p[6] & 8;
    x.xf.align.vertical = (p[6] >> 4) & 7;
    x.xf.align.rotation = p[7];
    x.xf.align.indent = p[8] & 15;
    x.xf.align.shrink = p[8] & 16;
    uint32_t b1 = U32(p + 10), b2 = U32(p + 14);
    uint16_t fill = U16(p + 18);
    x.border_style[0] = b1 & 15;          // left
    x.border_style[1] = (b1 >> 4) & 15;   // right
    x.border_style[2] = (b1 >> 8) & 15;   // top
    x.border_style[3] = (b1 >> 12) & 15;  // bottom
    x.border_color[0] = (b1 >> 16) & 0x7F;
    x.border_color[1] = (b1 >> 23) & 0x7F;
    x.diag_down = b1 & (1u << 30);
    x.diag_up = b1 & (1u << 31);
    x.border_color[2] = b2 & 0x7F;
    x.border_color[3] = (b2 >> 7) & 0x7F;
    x.border_color[4] = (b2 >> 14) & 0x7F;
    x.border_style[4] = (b2 >> 21) & 15;
    x.fill_pattern = (b2 >> 26) & 0x3F;
    x.fill_fg = fill & 0x7F;
    x.fill_bg = (fill >> 7) & 0x7F;
  } else if (biff_ == 5) {
    if (n < 16) return;
    x.font = U16(p);
    x.fmt = U16(p + 2);
    uint16_t prot = U16(p + 4);
    x.xf.locked = prot & 1;
    x.xf.hidden = prot & 2;
    x.xf.align.horizontal = p[6] & 7;
    x.xf.align.wrap = p[6] & 8;
    x.xf.align.vertical = (p[6] >> 4) & 7;
    uint32_t a = U32(p + 8), b = U32(p + 12);
    x.fill_fg = a & 0x7F;
    x.fill_bg = (a >> 7) & 0x7F;
    x.fill_pattern = (a >> 16) & 0x3F;
    x.border_style[3] = (a >> 22) & 7;
    x.border_color[3] = (a >> 25) & 0x7F;
    x.border_style[2] = b & 7;
    x.border_style[0] = (b >> 3) & 7;
    x.border_style[1] = (b >> 6) & 7;
    x.border_color[2] = (b >> 9) & 0x7F;
    x.border_color[0] = (b >> 16) & 0x7F;
    x.border_color[1] = (b >> 23) & 0x7F;
  } else {
    // BIFF3/4: font and format only.
    if (n < 2) return;
    x.font = p[0];
    x.fmt = p[1];
  }
  if (xfs_.size() < 65000) xfs_.push_back(x);
}

// Maps the fonts and formats read so far into the style table. Older files may interleave them
// with cells, so only what is new since the last call is mapped.
void BiffReader::BuildStyles() {
  StyleTable& st = wb_->styles();
  std::vector<uint16_t>& font_map = font_map_;
  for (size_t i = font_map.size(); i < fonts_.size(); ++i) {
    Font f = fonts_[i].font;
    f.color = fonts_[i].color == 0x7FFF ? kAutoColor : PaletteColor(fonts_[i].color);
    if (i == 0) {
      st.SetDefaultFont(f);
      font_map.push_back(0);
    } else {
      font_map.push_back(st.AddFont(f));
    }
  }
  size_t done = xf_map_.size();
  xf_map_.resize(xfs_.size(), 0);
  for (size_t i = done; i < xfs_.size(); ++i) {
    const RawXf& r = xfs_[i];
    Xf xf = r.xf;
    // Font index 4 does not exist in the file; the fifth record is number 5.
    size_t fi = r.font >= 4 && biff_ >= 5 ? r.font - 1u : r.font;
    xf.font = fi < font_map.size() ? font_map[fi] : 0;
    xf.num_fmt = r.fmt;
    if (r.fill_pattern) {
      xf.fill = st.AddFill(Fill{static_cast<uint8_t>(r.fill_pattern), PaletteColor(r.fill_fg),
                                PaletteColor(r.fill_bg)});
    }
    Border b;
    BorderSide* sides[5] = {&b.left, &b.right, &b.top, &b.bottom, &b.diagonal};
    bool any = false;
    for (int s = 0; s < 5; ++s) {
      if (!r.border_style[s]) continue;
      any = true;
      sides[s]->style = r.border_style[s];
      sides[s]->color = PaletteColor(r.border_color[s]);
    }
    if (b.diagonal.style) {
      b.diag_down = r.diag_down;
      b.diag_up = r.diag_up;
    }
    if (any) xf.border = st.AddBorder(b);
    xf_map_[i] = st.AddXf(xf);
  }
}

bool BiffReader::GlobalRecord(const Record& r, RecordReader& rr) {
  const uint8_t* p = r.data;
  size_t n = r.size;
  switch (r.id) {
    case kCodePage:
      if (n >= 2) codepage_.Set(U16(p));
      break;
    case kDateMode:
      if (n >= 2) wb_->styles().date1904 = U16(p) == 1;
      break;
    case kFilePass:
      pending_filepass_ = true;
      filepass_at_ = r.offset;
      return false;
    case kFont2:
    case kFont3:
      ReadFont(r);
      break;
    case kFormat:
    case kFormat2:
      ReadFormat(r);
      break;
    case kXf:
    case kXf3:
    case kXf4:
    case 0x0043:  // BIFF2 XF
      ReadXf(r);
      break;
    case kPalette:
      if (n >= 2) {
        size_t count = std::min<size_t>({U16(p), 56, (n - 2) / 4});
        for (size_t i = 0; i < count; ++i) {
          const uint8_t* c = p + 2 + 4 * i;
          palette_[i] = static_cast<uint32_t>(c[0]) << 16 | c[1] << 8 | c[2];
        }
      }
      break;
    case kBoundSheet:
      if (n >= 6 && sheets_.size() < 65536) {
        SheetInfo s;
        s.offset = U32(p);
        s.type = p[5];
        size_t pos = 6;
        ByteString(p, n, pos, false, s.name);
        sheets_.push_back(std::move(s));
      }
      break;
    case kSst: {
      if (biff_ < 8 || n < 8) break;
      Pieces in;
      in.Add(p + 8, n - 8);
      while (rr.PeekId() == kContinue) {
        Record c;
        if (!rr.Next(c)) break;
        in.Add(c.data, c.size);
      }
      // Each string takes at least three bytes, which caps what the count may claim.
      size_t unique = std::min<size_t>({U32(p + 4), in.Left() / 3 + 1, kMaxSstStrings});
      sst_.reserve(unique);
      for (size_t i = 0; i < unique && !in.AtEnd(); ++i) {
        std::string s;
        bool ok = ReadUnicode(in, true, s);
        // Millions of short strings take far more memory than their records: they count.
        sst_account_.Note(sizeof(std::string) + (s.size() > 15 ? s.size() + 17 : 0));
        sst_account_.Settle(size_t{1} << 20);
        sst_.push_back(std::move(s));
        if (!ok) break;
      }
      break;
    }
    default:
      break;
  }
  return true;
}

std::optional<Error> BiffReader::ReadGlobals(RecordReader& rr) {
  Record r;
  while (rr.Next(r)) {
    if (r.id == kEof) return std::nullopt;
    if (!GlobalRecord(r, rr)) return std::nullopt;  // FILEPASS: the caller decrypts
  }
  return std::nullopt;  // a missing EOF is tolerated; the sheets tell whether data is missing
}

std::optional<Error> BiffReader::ReadSheet(RecordReader& rr, Worksheet& ws, bool embedded_globals) {
  // Cells of the sheet go in row by row; a formula waiting for its STRING record is kept aside.
  struct PendingString {
    int row = 0, col = 0;
    uint16_t style = 0;
    std::optional<std::string> formula;
    bool active = false;
  } pending;
  struct LastFormula {
    int row = 0, col = 0;
    int anchor_row = -1, anchor_col = -1;
  } last;
  // Shared formulas by their anchor cell; each cell of the group decodes the same tokens at its
  // own position.
  std::unordered_map<uint32_t, std::vector<uint8_t>> shared;
  std::vector<uint32_t> sst_index(sst_.size(), UINT32_MAX);
  int depth = 1;
  auto style_of = [&](uint16_t ixfe) -> uint16_t {
    return ixfe < xf_map_.size() ? xf_map_[ixfe] : 0;
  };
  auto in_grid = [](int row, int col) {
    // The .xls grid has 256 columns; a cell past it is damage, and keeping rows that narrow keeps
    // out-of-order inserts cheap.
    return row >= 0 && row < kMaxRows && col >= 0 && col < 256;
  };
  auto put = [&](int row, int col, CellType type, uint64_t bits, uint16_t style) {
    if (!in_grid(row, col)) return;
    Cell c{};
    c.bits = bits;
    c.col = static_cast<uint16_t>(col + 1);
    c.style = style;
    c.type = static_cast<uint32_t>(type);
    c.formula = 0;
    ws.AppendCell(row + 1, c);
  };
  auto put_number = [&](int row, int col, double v, uint16_t style) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    put(row, col, CellType::kNumber, bits, style);
  };
  auto put_text = [&](int row, int col, std::string_view s, uint16_t style) {
    if (!in_grid(row, col)) return;
    ws.AppendText(row + 1, col + 1, s, style);
  };
  auto flush_pending = [&](std::string_view text) {
    if (!pending.active) return;
    put_text(pending.row, pending.col, text, pending.style);
    if (pending.formula) ws.SetFormula(pending.row + 1, pending.col + 1, *pending.formula);
    pending.active = false;
  };
  auto decode = [&](std::span<const uint8_t> rgce, int row, int col) {
    return DecodeBiff8Formula(rgce, row + 1, col + 1);
  };
  const bool b8 = biff_ >= 8;
  const size_t cell_hdr = biff_ == 2 ? 7 : 6;  // BIFF2 cells carry 3 attribute bytes, no XF
  Record r;
  Pieces pieces;
  while (rr.Next(r)) {
    const uint8_t* p = r.data;
    const size_t n = r.size;
    if (r.id == kBof || r.id == kBof2 || r.id == kBof3 || r.id == kBof4) {
      ++depth;  // an embedded chart: skip to its EOF
      continue;
    }
    if (r.id == kEof) {
      if (--depth == 0) break;
      continue;
    }
    if (depth > 1) continue;
    if (pending.active && r.id != kString && r.id != kString2 && r.id != kShrFmla &&
        r.id != kArray && r.id != kContinue)
      flush_pending("");
    if (embedded_globals) {
      // BIFF2-4 files keep their formats in the sheet stream itself.
      switch (r.id) {
        case kCodePage:
        case kDateMode:
        case kFont2:
        case kFont3:
        case kFormat:
        case kFormat2:
        case kXf:
        case kXf3:
        case kXf4:
        case 0x0043:
        case kPalette:
          GlobalRecord(r, rr);
          continue;
        case kFilePass:
          return Fail(ErrorCode::kEncrypted, "the workbook is password protected");
        default:
          if (xf_map_.size() < xfs_.size() || font_map_.size() < fonts_.size()) BuildStyles();
          break;
      }
    }
    uint16_t ixfe = n >= 6 && biff_ > 2 ? U16(p + 4) : 0;
    int row = n >= 4 ? U16(p) : 0, col = n >= 4 ? U16(p + 2) : 0;
    switch (r.id) {
      case kNumber:
      case kNumber2:
        if (n >= cell_hdr + 8) put_number(row, col, F64(p + cell_hdr), style_of(ixfe));
        break;
      case kInteger2:
        if (n >= 9) put_number(row, col, U16(p + 7), 0);
        break;
      case kRk:
        if (n >= 10) put_number(row, col, RkValue(U32(p + 6)), style_of(ixfe));
        break;
      case kMulRk: {
        if (n < 6) break;
        size_t count = (n - 6) / 6;
        for (size_t i = 0; i < count; ++i) {
          const uint8_t* q = p + 4 + 6 * i;
          put_number(row, col + static_cast<int>(i), RkValue(U32(q + 2)), style_of(U16(q)));
        }
        break;
      }
      case kLabelSst:
        if (n >= 10) {
          uint32_t isst = U32(p + 6);
          if (isst >= sst_.size()) {
            // A reference past the shared strings is a broken file; the cell reads as empty text.
            put_text(row, col, "", style_of(ixfe));
            break;
          }
          if (!in_grid(row, col)) break;
          if (sst_index[isst] == UINT32_MAX) sst_index[isst] = ws.AddString(sst_[isst]);
          put(row, col, CellType::kText, sst_index[isst], style_of(ixfe));
        }
        break;
      case kLabel:
      case kRString:
      case kLabel2: {
        if (n < cell_hdr) break;
        std::string s;
        if (b8) {
          pieces.Clear();
          pieces.Add(p + 6, n - 6);
          while (rr.PeekId() == kContinue) {
            Record c;
            if (!rr.Next(c)) break;
            pieces.Add(c.data, c.size);
          }
          ReadUnicode(pieces, true, s);
        } else {
          size_t pos = cell_hdr;
          ByteString(p, n, pos, r.id != kLabel2, s);
        }
        put_text(row, col, s, r.id == kLabel2 ? 0 : style_of(ixfe));
        break;
      }
      case kBoolErr:
      case kBoolErr2:
        if (n >= cell_hdr + 2) {
          uint8_t v = p[cell_hdr], is_err = p[cell_hdr + 1];
          put(row, col, is_err ? CellType::kError : CellType::kBool, is_err ? v : (v ? 1 : 0),
              r.id == kBoolErr2 ? 0 : style_of(ixfe));
        }
        break;
      case kBlank:
        if (n >= 6) put(row, col, CellType::kBlank, 0, style_of(ixfe));
        break;
      case kBlank2:
        break;  // BIFF2 blanks carry no format we keep
      case kMulBlank: {
        if (n < 6) break;
        size_t count = (n - 6) / 2;
        for (size_t i = 0; i < count; ++i)
          put(row, col + static_cast<int>(i), CellType::kBlank, 0, style_of(U16(p + 4 + 2 * i)));
        break;
      }
      case kFormula:
      case kFormula3:
      case kFormula4: {
        size_t val = cell_hdr;
        if (n < val + 8) break;
        const uint8_t* v = p + val;
        uint16_t style = biff_ == 2 ? 0 : style_of(ixfe);
        std::optional<std::string> text;
        last = {row, col, -1, -1};
        if (b8 && n >= 22) {
          size_t cce = U16(p + 20);
          std::span<const uint8_t> rgce(p + 22, std::min(cce, n - 22));
          if (!rgce.empty() && rgce[0] == 0x01 && rgce.size() >= 5) {
            last.anchor_row = U16(rgce.data() + 1);
            last.anchor_col = U16(rgce.data() + 3);
            auto it = shared.find(static_cast<uint32_t>(last.anchor_row) << 16 | last.anchor_col);
            if (it != shared.end()) text = decode(it->second, row, col);
          } else if (!rgce.empty()) {
            text = decode(rgce, row, col);
          }
        }
        if (v[6] == 0xFF && v[7] == 0xFF) {
          switch (v[0]) {
            case 0:  // a string: the STRING record follows
              pending = {row, col, style, text, true};
              continue;
            case 1:
              put(row, col, CellType::kBool, v[2] ? 1 : 0, style);
              break;
            case 2:
              put(row, col, CellType::kError, v[2], style);
              break;
            case 3:
              put_text(row, col, "", style);
              break;
            default:
              put(row, col, CellType::kBlank, 0, style);
              break;
          }
        } else {
          put_number(row, col, F64(v), style);
        }
        if (text && in_grid(row, col)) ws.SetFormula(row + 1, col + 1, *text);
        break;
      }
      case kShrFmla: {
        if (!b8 || n < 10) break;
        size_t cce = U16(p + 8);
        std::vector<uint8_t> rgce(p + 10, p + 10 + std::min(cce, n - 10));
        uint32_t key = static_cast<uint32_t>(last.anchor_row) << 16 | last.anchor_col;
        if (last.anchor_row < 0) key = static_cast<uint32_t>(U16(p)) << 16 | p[4];
        // The anchor cell came just before its SHRFMLA and could not be decoded then.
        if (last.anchor_row >= 0 && shared.size() < 65536) {
          auto f = decode(rgce, last.row, last.col);
          if (f) {
            if (pending.active && pending.row == last.row && pending.col == last.col)
              pending.formula = f;
            else if (in_grid(last.row, last.col))
              ws.SetFormula(last.row + 1, last.col + 1, *f);
          }
          shared[key] = std::move(rgce);
        }
        break;
      }
      case kString:
      case kString2: {
        if (!pending.active) break;
        std::string s;
        if (b8) {
          pieces.Clear();
          pieces.Add(p, n);
          while (rr.PeekId() == kContinue) {
            Record c;
            if (!rr.Next(c)) break;
            pieces.Add(c.data, c.size);
          }
          ReadUnicode(pieces, true, s);
        } else {
          size_t pos = 0;
          ByteString(p, n, pos, r.id == kString, s);
        }
        flush_pending(s);
        break;
      }
      case kRow:
        if (n >= 16) {
          uint16_t height = U16(p + 6);
          uint16_t flags = U16(p + 12);
          if ((flags & 0x40) && !(height & 0x8000) && row < 65536)
            ws.SetRowHeight(row + 1, (height & 0x7FFF) / 20.0);
        }
        break;
      case kColInfo:
        if (n >= 6) {
          int first = U16(p), last_col = std::min<int>(U16(p + 2), 255);
          double width = U16(p + 4) / 256.0;
          for (int c = first; c <= last_col; ++c) ws.SetColumnWidth(c + 1, width);
        }
        break;
      case kDefColWidth:
        if (n >= 2) ws.default_column_width = U16(p) + 0.43;  // plus the cell padding
        break;
      case kDefaultRowHeight:
        if (n >= 4 && U16(p + 2) > 0 && U16(p + 2) < 8192)
          ws.default_row_height = U16(p + 2) / 20.0;
        break;
      case kMergedCells:
        if (n >= 2) {
          size_t count = std::min<size_t>(U16(p), (n - 2) / 8);
          for (size_t i = 0; i < count; ++i) {
            const uint8_t* q = p + 2 + 8 * i;
            Range m{U16(q) + 1, U16(q + 4) + 1, U16(q + 2) + 1, U16(q + 6) + 1};
            if (m.r2 >= m.r1 && m.c2 >= m.c1 && m.c2 <= kMaxCols) ws.AddMerge(m);
          }
        }
        break;
      default:
        break;
    }
  }
  flush_pending("");
  return std::nullopt;
}

Result<std::unique_ptr<Workbook>> BiffReader::Run() {
  // The default palette covers indexes 8-63; 0-7 repeat its first eight colours.
  std::copy(std::begin(kDefaultPalette), std::end(kDefaultPalette), palette_);
  wb_ = std::make_unique<Workbook>();
  RecordReader rr(data_, size_);
  Record bof;
  if (!rr.Next(bof) || (bof.id != kBof && bof.id != kBof2 && bof.id != kBof3 && bof.id != kBof4))
    return Fail(ErrorCode::kCorrupt, "the workbook stream does not start with a BOF record");
  biff_ = VersionOf(bof.id, bof.data, bof.size);
  static const SourceFormat kFormats[] = {
      SourceFormat::kNone,  SourceFormat::kNone,  SourceFormat::kBiff2,
      SourceFormat::kBiff3, SourceFormat::kBiff4, SourceFormat::kBiff5,
      SourceFormat::kNone,  SourceFormat::kNone,  SourceFormat::kBiff8};
  wb_->SetFormat(kFormats[biff_]);
  if (biff_ >= 8) codepage_.Set(1200);

  uint16_t dt = bof.size >= 4 ? U16(bof.data + 2) : 0x10;
  if (biff_ <= 4 || (dt != 0x0005 && dt != 0x0100)) {
    // A single-sheet file (BIFF2-4, or a lone worksheet stream): formats live in the sheet.
    if (biff_ >= 5 && (dt == 0x20 || dt == 0x40))
      return Fail(ErrorCode::kNotAWorkbook, "the file holds a chart or macro sheet, no worksheet");
    // The sheet has no name of its own; spreadsheet programs show the file's base name.
    std::string stem = name_.substr(name_.find_last_of("/\\") + 1);
    if (size_t dot = stem.rfind('.'); dot != std::string::npos && dot > 0) stem.resize(dot);
    if (stem.empty()) stem = "Sheet1";
    Worksheet& ws = wb_->AddWorksheet(stem);
    if (auto e = ReadSheet(rr, ws, true)) return *e;
    return std::move(wb_);
  }

  if (auto e = ReadGlobals(rr)) return *e;
  if (pending_filepass_) {
    decrypted.assign(data_, data_ + size_);
    switch (DecryptWithPasswords(decrypted, filepass_at_, opt_.passwords, &used_password)) {
      case DecryptOutcome::kDecrypted:
        break;
      case DecryptOutcome::kWrongPassword:
        return MakeError(ErrorCode::kEncrypted,
                         name_ + ": the workbook is password protected (wrong or no password)",
                         "密码不对或未提供");
      case DecryptOutcome::kUnsupported:
        return MakeError(
            ErrorCode::kEncrypted,
            name_ + ": the workbook is password protected (an encryption this program cannot open)",
            "不支持的加密方式");
    }
    data_ = decrypted.data();
    pending_filepass_ = false;
    RecordReader rest(data_, size_, rr.pos());
    if (auto e = ReadGlobals(rest)) return *e;
    rr = rest;
  }
  BuildStyles();

  // The substreams after the globals, in file order, in case a sheet's recorded offset is wrong.
  std::vector<size_t> bofs;
  auto find_bofs = [&] {
    RecordReader scan(data_, size_, rr.pos());
    Record x;
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
  for (size_t i = 0; i < sheets_.size(); ++i) {
    const SheetInfo& s = sheets_[i];
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
    Record sb;
    if (!sr.Next(sb)) continue;  // a sheet BOF cut off by the end of the stream
    uint16_t sdt = sb.size >= 4 ? U16(sb.data + 2) : 0x10;
    if (sdt == 0x20 || sdt == 0x40 || sdt == 0x06) continue;  // a chart or macro sheet after all
    Worksheet& ws = wb_->AddWorksheet(s.name);
    if (auto e = ReadSheet(sr, ws, false)) return *e;
    // Only the first worksheet decides; a damaged later one is kept as far as it goes.
    if (sr.truncated() && ws.CellCount() == 0 && worksheets == 0)
      return Fail(ErrorCode::kCorrupt, "the worksheet \"" + s.name + "\" is truncated");
    if (sr.truncated())
      wb_->warnings.push_back(name_ + ": the worksheet \"" + s.name +
                              "\" is truncated; the cells before the break were read");
    ++worksheets;
    if (opt_.first_worksheet_only) break;
  }
  if (worksheets == 0) {
    if (rr.truncated())
      return Fail(ErrorCode::kCorrupt, "the workbook stream is truncated before any worksheet");
    return Fail(ErrorCode::kNotAWorkbook, "the workbook holds no worksheet");
  }
  return std::move(wb_);
}

}  // namespace

Result<std::unique_ptr<Workbook>> Read(const uint8_t* data, size_t size, const std::string& name,
                                       const ReadOptions& options, std::string* used_password) {
  auto run = [&](const uint8_t* d, size_t n) {
    BiffReader reader(d, n, name, options);
    Result<std::unique_ptr<Workbook>> r = reader.Run();
    if (r.ok() && used_password) *used_password = reader.used_password;
    return r;
  };
  ContainerKind kind = SniffContainer(data, size);
  if (kind == ContainerKind::kRawBiff) return run(data, size);
  if (kind != ContainerKind::kCompoundFile)
    return MakeError(ErrorCode::kNotAWorkbook, name + ": not a workbook");
  cfb::Reader cfb;
  std::string why = cfb.Open(data, size);
  if (!why.empty()) return MakeError(ErrorCode::kCorrupt, name + ": " + why);
  int index = cfb.Find(u"Workbook");
  if (index < 0) index = cfb.Find(u"Book");
  if (index < 0) {
    if (ooxml::IsEncryptedPackage(cfb))
      return ooxml::ReadEncryptedPackage(cfb, name, options, used_password);
    return MakeError(ErrorCode::kNotAWorkbook,
                     name + ": not a workbook (a compound file without a workbook stream)");
  }
  if (std::span<const uint8_t> in_place = cfb.InPlace(index); !in_place.empty())
    return run(in_place.data(), in_place.size());
  std::vector<uint8_t> stream = cfb.ReadStream(index);
  if (stream.empty())
    return MakeError(ErrorCode::kCorrupt, name + ": the workbook stream is empty or unreadable");
  return run(stream.data(), stream.size());
}

}  // namespace qm::xls
