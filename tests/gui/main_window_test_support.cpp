// The stand-ins and fixtures the window's tests share.
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <thread>

#include "core/run_merge.h"
#include "main_window_test.h"
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
std::unique_ptr<MainWindow> MakeWindow(Recorded& rec, const QString& program_folder,
                                       std::function<RunResult(StandIn&)> body) {
  MainWindowHooks hooks;
  hooks.program_folder = program_folder.toStdString();
  hooks.run_merge = [&rec, body](const MergeRequest& request, Answers& answers, RunView& view,
                                 HeaderState&) {
    rec.runs.push_back(*Dispatch(request.kind, request.variant));
    rec.folders_seen.push_back(request.folder);
    rec.lists_seen.push_back(request.files);
    StandIn in{request, answers, view};
    return body ? body(in) : RunResult{Outcome::kDone, std::nullopt};
  };
  hooks.open_result = [&rec](const std::string& p) {
    rec.opened.push_back(p);
    return rec.opener_works;
  };
  hooks.open_folder = [&rec](const std::string& f) { rec.folders_opened.push_back(f); };
  return std::make_unique<MainWindow>(std::move(hooks));
}

namespace {

// The run's view with a pause after every log line.
class SlowView : public RunView {
 public:
  SlowView(RunView& view, int delay_ms) : view_(view), delay_ms_(delay_ms) {}
  void BeginReport(ReportPlace where) override { view_.BeginReport(where); }
  void ReplaceLog(const std::string& text) override { view_.ReplaceLog(text); }
  void AppendLog(const std::string& line) override {
    view_.AppendLog(line);
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms_));
  }
  void ScrollLogToEnd() override { view_.ScrollLogToEnd(); }
  void SetProgressMax(double max) override { view_.SetProgressMax(max); }
  void SetProgressValue(double value) override { view_.SetProgressValue(value); }
  void ClearStatus() override { view_.ClearStatus(); }
  void PrintStatus(const std::string& line) override { view_.PrintStatus(line); }
  void SetCurrentEntry(size_t index) override { view_.SetCurrentEntry(index); }
  void ShowNotice(const std::string& line) override { view_.ShowNotice(line); }
  void ShowResult(const std::string& path) override { view_.ShowResult(path); }
  void ReportTable(const TableOutcome& outcome) override { view_.ReportTable(outcome); }

 private:
  RunView& view_;
  int delay_ms_;
};

}  // namespace

MainWindowHooks SlowRealMerges(Recorded& rec, const QString& program_folder, int delay_ms) {
  MainWindowHooks hooks;
  hooks.program_folder = program_folder.toStdString();
  hooks.run_merge = [delay_ms](const MergeRequest& request, Answers& answers, RunView& view,
                               HeaderState& header) {
    SlowView slow(view, delay_ms);
    return RunMerge(request, answers, slow, header);
  };
  hooks.open_result = [&rec](const std::string& p) {
    rec.opened.push_back(p);
    return true;
  };
  hooks.open_folder = [&rec](const std::string& f) { rec.folders_opened.push_back(f); };
  return hooks;
}

void StartAndWait(MainWindow& w) {
  QTest::mouseClick(w.startButton, Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(!w.IsRunning(), 60000);
}

TableOutcome Reported(size_t index, const std::string& name, TableStatus status) {
  TableOutcome o;
  o.file_index = index;
  o.name = name;
  o.status = status;
  return o;
}

QStringList LogLines(MainWindow& w) {
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
