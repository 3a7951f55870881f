// The stand-ins and fixtures the window's tests share.
#include <QDir>
#include <QFile>
#include <QTest>

#include "form1_test.h"
#include "workbook/io.h"

using namespace qm;

QString S(const std::string& s) {
  return QString::fromStdString(s);
}

// Creates empty files: the listing looks at names only.
void Touch(const QString& folder, const QStringList& names) {
  for (const QString& n : names) {
    QFile f(folder + "/" + n);
    QVERIFY(f.open(QIODevice::WriteOnly));
  }
}

QStringList Entries(const QListWidget* list) {
  QStringList out;
  for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
  return out;
}

QString Shown(const QString& folder) {
  return QDir::toNativeSeparators(folder + "/");
}

// A window whose engines and result viewer are stand-ins that record their calls.
std::unique_ptr<Form1> MakeWindow(Recorded& rec, const QString& program_folder,
                                  std::function<RunResult(MergeContext&)> body) {
  Form1Hooks hooks;
  hooks.program_folder = program_folder.toStdString();
  hooks.run_engine = [&rec, body](const DispatchChoice& c, MergeContext& ctx) {
    rec.runs.push_back(c);
    rec.folders_seen.push_back(ctx.port.SourceFolder());
    rec.lists_seen.push_back(ctx.port.FileList());
    return body ? body(ctx) : RunResult{Outcome::kDone, std::nullopt};
  };
  hooks.open_result = [&rec](const std::string& p) {
    rec.opened.push_back(p);
    return rec.opener_works;
  };
  return std::make_unique<Form1>(std::move(hooks));
}

FileOutcome Reported(size_t index, const std::string& name, FileStatus status) {
  FileOutcome o;
  o.index = index;
  o.name = name;
  o.status = status;
  return o;
}

QStringList LogLines(Form1& w) {
  return S(w.LogText()).split("\r\n");
}

// Writes small .xlsx tables keyed on column 1: a header row 工号 / <title>, then the rows.
bool WriteTables(const QString& folder, const QStringList& names) {
  for (int f = 0; f < names.size(); ++f) {
    Workbook wb;
    Worksheet& ws = wb.AddWorksheet("Sheet1");
    (void)ws.SetText(1, 1, "工号");
    (void)ws.SetText(1, 2, "列" + std::to_string(f + 1));
    for (int r = 2; r <= 4; ++r) {
      (void)ws.SetNumber(r, 1, r - 1);
      (void)ws.SetNumber(r, 2, f * 100 + r);
    }
    if (!SaveWorkbookFile(wb, (folder + "/" + names[f]).toStdString()).ok()) return false;
  }
  return true;
}
