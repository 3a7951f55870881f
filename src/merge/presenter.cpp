#include "merge/presenter.h"

#include "merge/texts.h"

namespace qm {

std::string SkippedLine(const std::string& file, const std::string& reason) {
  return "无法读取，已跳过：" + file + "（" + reason + "）";
}

std::string HiddenFirstSheetLine(const std::string& file, const std::string& sheet) {
  return "注意：" + file + "的第一个工作表“" + sheet + "”是隐藏的";
}

std::string HiddenSheetsLine(const std::string& file, const std::vector<std::string>& sheets) {
  std::string names;
  for (const std::string& s : sheets) names += (names.empty() ? "“" : "、“") + s + "”";
  return "注意：" + file + "的隐藏工作表" + names + "未合并";
}

std::string SwitchedToXlsxLine(const std::string& path) {
  return "结果超出.xls格式的行列上限，已保存为" + path;
}

std::string AlignmentLine(const std::vector<std::string>& added,
                          const std::vector<std::string>& missing) {
  auto names = [](const std::vector<std::string>& list) {
    std::string s;
    for (const std::string& name : list) s += (s.empty() ? "" : "、") + name;
    return s;
  };
  std::string line = "按列名对齐：";
  if (!added.empty()) line += "新增列 " + names(added);
  if (!added.empty() && !missing.empty()) line += "；";
  if (!missing.empty()) line += "缺少列 " + names(missing);
  return line;
}

std::string FormulasTurnedToValuesLine(long long count) {
  return std::to_string(count) + "个公式引用的单元格不在结果中，已改为其值";
}

void Presenter::Tell(const std::string& line, bool scroll) {
  if (road_ == RunRoad::kSortedSmart) {
    view_.PrintStatus(line);
    return;
  }
  view_.AppendLog(line);
  if (scroll) view_.ScrollLogToEnd();
}

// Each road opens in its own order; only the sorted one reports on the status lines.
void Presenter::Apply(const ev::Started& e) {
  road_ = e.road;
  view_.BeginReport(road_ == RunRoad::kSortedSmart ? ReportPlace::kStatusLines : ReportPlace::kLog);
  switch (road_) {
    case RunRoad::kFastVertical:
      view_.ReplaceLog(texts::kStartLine);
      view_.SetProgressMax(e.steps);
      view_.SetProgressValue(0);
      break;
    case RunRoad::kSafeVertical:
      view_.ClearStatus();
      view_.SetProgressMax(e.steps);
      view_.SetProgressValue(0);
      view_.ReplaceLog(texts::kStartLine);
      break;
    case RunRoad::kSmart:
      view_.SetProgressMax(e.steps);
      view_.SetProgressValue(0);
      view_.ClearStatus();
      view_.ReplaceLog(texts::kStartLine);
      break;
    case RunRoad::kSortedSmart:
      view_.SetProgressMax(e.steps);
      view_.SetProgressValue(0);
      view_.ClearStatus();
      view_.PrintStatus("开始智能合并...");
      break;
  }
}

void Presenter::On(const RunEvent& event) {
  struct Visit {
    Presenter& p;
    RunView& v;
    void operator()(const ev::Started& e) { p.Apply(e); }
    void operator()(const ev::TableChecking& e) {
      // The sorted road names no table; the others scroll to every table after the first.
      if (p.road_ == RunRoad::kSortedSmart) return;
      v.AppendLog("检测表" + std::to_string(e.number) + ":" + e.name);
      if (e.number > 1) v.ScrollLogToEnd();
    }
    void operator()(const ev::CurrentEntry& e) { v.SetCurrentEntry(e.index); }
    void operator()(const ev::FirstSheetHidden& e) {
      p.Tell(HiddenFirstSheetLine(e.file, e.sheet), true);
    }
    void operator()(const ev::HiddenSheetsLeftOut& e) {
      p.Tell(HiddenSheetsLine(e.file, e.sheets), true);
    }
    void operator()(const ev::TableUnreadable& e) { p.Tell(SkippedLine(e.name, e.reason), true); }
    void operator()(const ev::TemplateShown& e) { v.AppendLog(e.text); }
    void operator()(const ev::TableHeader& e) {
      if (!e.matches) v.AppendLog("未合并，表格不规范！");
      v.AppendLog(e.list_text);
      v.ScrollLogToEnd();
    }
    void operator()(const ev::Progress& e) { v.SetProgressValue(e.value); }
    void operator()(const ev::KeyRefused&) {
      // The fast road replaces its log; the others, which cleared the status lines, print there.
      if (p.road_ == RunRoad::kFastVertical)
        v.ReplaceLog(texts::kStoppedLine);
      else
        v.PrintStatus(texts::kStoppedLine);
    }
    void operator()(const ev::Overwriting& e) {
      v.AppendLog("正在将关键字(" + e.key_name + ")相同的新记录覆盖旧记录...");
      v.ScrollLogToEnd();
    }
    void operator()(const ev::PasswordTriesTakeLong& e) { v.ShowNotice("正在尝试密码：" + e.file); }
    void operator()(const ev::Saved& e) {
      // Said after the save, so that a failed save is never announced as the end.
      if (e.switched_to_xlsx) p.Tell(SwitchedToXlsxLine(e.path), false);
      for (const std::string& w : e.warnings) p.Tell(w, false);
      for (const std::string& n : e.notes) p.Tell(n, false);
      p.Tell(p.road_ == RunRoad::kSortedSmart ? "智能合并操作完成！" : texts::kEndLine, true);
      v.ShowResult(e.path);
    }
    void operator()(const ev::Interrupted&) { p.Tell(texts::kStoppedByUserLine, true); }
    void operator()(const ev::TableDone& e) { v.ReportTable(e.outcome); }
    void operator()(const ev::ColumnsAligned& e) {
      v.AppendLog(AlignmentLine(e.added, e.missing));
      v.ScrollLogToEnd();
    }
    void operator()(const ev::RowsLeftOut& e) {
      v.AppendLog("跳过空行" + std::to_string(e.blank) + "行、合计行" + std::to_string(e.totals) +
                  "行");
      v.ScrollLogToEnd();
    }
  };
  std::visit(Visit{*this, view_}, event);
}

}  // namespace qm
