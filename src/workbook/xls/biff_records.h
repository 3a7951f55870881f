// Record ids of the BIFF record streams. BIFF8 records carry their names from [MS-XLS]; records
// of BIFF2-4 only carry that name with the version they belong to.
#pragma once

#include <cstdint>

namespace qm::xls {

enum RecordId : uint16_t {
  // Cells
  kBlank = 0x0201,
  kBoolErr = 0x0205,
  kFormula = 0x0006,
  kLabel = 0x0204,
  kLabelSst = 0x00FD,
  kMulBlank = 0x00BE,
  kMulRk = 0x00BD,
  kNumber = 0x0203,
  kRk = 0x027E,
  kRString = 0x00D6,
  kString = 0x0207,
  kShrFmla = 0x04BC,
  kArray = 0x0221,
  // Cells of BIFF2-4
  kBlank2 = 0x0001,
  kInteger2 = 0x0002,
  kNumber2 = 0x0003,
  kLabel2 = 0x0004,
  kBoolErr2 = 0x0005,
  kString2 = 0x0007,
  kFormula3 = 0x0206,
  kFormula4 = 0x0406,

  // Stream structure
  kBof = 0x0809,
  kBof2 = 0x0009,
  kBof3 = 0x0209,
  kBof4 = 0x0409,
  kEof = 0x000A,
  kContinue = 0x003C,
  kFilePass = 0x002F,

  // Workbook globals
  kBackup = 0x0040,
  kBookBool = 0x00DA,
  kBoundSheet8 = 0x0085,
  kBuiltInFnGroupCount = 0x009C,
  kCalcPrecision = 0x000E,
  kCodePage = 0x0042,
  kCountry = 0x008C,
  kDate1904 = 0x0022,
  kDsf = 0x0161,
  kExtSst = 0x00FF,
  kFileLock = 0x0195,
  kFont = 0x0031,
  kFont3 = 0x0231,  // BIFF3-4
  kFormat = 0x041E,
  kFormat2 = 0x001E,  // BIFF2-4
  kHideObj = 0x008D,
  kInterfaceEnd = 0x00E2,
  kInterfaceHdr = 0x00E1,
  kMms = 0x00C1,
  kPalette = 0x0092,
  kPassword = 0x0013,
  kProt4Rev = 0x01AF,
  kProt4RevPass = 0x01BC,
  kProtect = 0x0012,
  kRefreshAll = 0x01B7,
  kRRDHead = 0x0138,
  kRRDInfo = 0x0196,
  kRRTabId = 0x013D,
  kSst = 0x00FC,
  kStyle = 0x0293,
  kUsesElfs = 0x0160,
  kUsrExcl = 0x0194,
  kWinProtect = 0x0019,
  kWindow1 = 0x003D,
  kWriteAccess = 0x005C,
  kXf = 0x00E0,
  kXf2 = 0x0043,  // BIFF2
  kXf3 = 0x0243,
  kXf4 = 0x0443,

  // Worksheet
  kCalcCount = 0x000C,
  kCalcDelta = 0x0010,
  kCalcIter = 0x0011,
  kCalcMode = 0x000D,
  kCalcRefMode = 0x000F,
  kCalcSaveRecalc = 0x005F,
  kColInfo = 0x007D,
  kDbCell = 0x00D7,
  kDefaultRowHeight = 0x0225,
  kDefColWidth = 0x0055,
  kDimensions = 0x0200,
  kFooter = 0x0015,
  kGridSet = 0x0082,
  kGuts = 0x0080,
  kHCenter = 0x0083,
  kHeader = 0x0014,
  kIndex = 0x020B,
  kMergeCells = 0x00E5,
  kPrintGrid = 0x002B,
  kPrintRowCol = 0x002A,
  kRow = 0x0208,
  kVCenter = 0x0084,
  kWindow2 = 0x023E,
  kWsBool = 0x0081,
};

}  // namespace qm::xls
