// Seven branch reports of one month, as real folders hold them: a trailing space in a header,
// full-width brackets, an extra column, columns in another order, a staff number as a number in
// one file and as text in another, totals and blank rows, a title row, Chinese file names.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "test_engines_port.h"

namespace qm::testing {

inline std::vector<std::pair<std::string, Rows>> BranchReports() {
  return {
      {"北京分公司.xls",
       {{"工号", "姓名", "部门", "金额（元）"},
        {1001, "张三", "销售部", 100},
        {1002, "李四", "市场部", 200},
        {},
        {"合计", V(), V(), 300}}},
      {"上海分公司.xlsx", {{"姓名 ", "工号", "部门", "金额(元)"}, {"王五", 1003, "销售部", 150}}},
      {"广州分公司.xls",
       {{"工号", "姓名", "部门", "金额(元)", "备注"}, {1004, "赵六", "研发部", 300, "新员工"}}},
      {"深圳分公司.xlsx",
       {{"工号", "姓名", "部门", "金额（元）"},
        {"1001", "张三", "销售部", 120},
        {"小计：", V(), V(), 120}}},
      {"成都分公司.xls",
       {{"成都分公司三月报表"},
        {"工号", "姓　名", "部门", "金额（元）"},
        {1005, "孙七", "财务部", 80},
        {},
        {},
        {1006, "周八", "财务部", 90}}},
      {"杭州分公司.xls", {{"工号", "姓名", "金额（元）", "部门"}, {1007, "吴九", 60, "行政部"}}},
      {"武汉分公司.xlsx",
       {{"工号", "姓名", "金额（元）"}, {"1002 ", "李四", 250}, {"合 计", V(), 250}}},
  };
}

}  // namespace qm::testing
