#include "merge/run_view.h"
#include "merge/answers.h"

namespace qm {

std::string PasswordQuestion::Text() const {
  return wrong_before ? file + " 的密码不对，请重新输入打开密码："
                      : file + " 受密码保护，请输入打开密码：";
}

const char* TableStatusName(TableStatus status) {
  switch (status) {
    case TableStatus::kTemplate:
      return "template";
    case TableStatus::kMerged:
      return "merged";
    case TableStatus::kHeaderMismatch:
      return "header-mismatch";
    case TableStatus::kUnreadable:
      return "unreadable";
    case TableStatus::kNotReached:
      return "not-reached";
  }
  return "not-reached";
}

}  // namespace qm
