// Fixed texts of a run that more than one engine, or the presenter and an engine, share.
#pragma once

namespace qm::texts {

inline constexpr const char* kAppTitle = "合并";
inline constexpr const char* kStartLine = "开始合并...";
inline constexpr const char* kEndLine = "合并操作结束！";
inline constexpr const char* kStoppedLine = "已退出合并操作！";
inline constexpr const char* kStoppedByUserLine = "已停止，未保存结果";
inline constexpr const char* kStopMessage = "输入为0或输入错误，退出合并操作！";
inline constexpr const char* kResultFolder = "合并结果";
inline constexpr const char* kMergeResultName = "合并结果.xls";
inline constexpr const char* kSmartResultName = "智能合并结果.xls";

}  // namespace qm::texts
