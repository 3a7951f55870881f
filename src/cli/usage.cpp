#include "cli/usage.h"

#include <cctype>

namespace qm {

// Written out rather than made by the parser's formatter: its headings are English and it pads
// by bytes, which misaligns Chinese.
const char* const kCliHelp =
    "quillmere-cli：把一个文件夹中的Excel工作簿（以及CSV、WPS、ODS、xlsb等表格文件）\n"
    "合并成一个结果工作簿，结果存入该文件夹的子文件夹“合并结果”；源文件只读不改。\n"
    "\n"
    "用法：\n"
    "  quillmere-cli FOLDER --kind vertical|overwrite|smart --variant "
    "safe|fast|byname|horizontal|both [选项]\n"
    "  quillmere-cli --check FOLDER [--files NAME,...] [--sheet ...] [--password TEXT]... "
    "[--json]\n"
    "  quillmere-cli --dump WORKBOOK [--sheet ...] [--json] [--password TEXT]...\n"
    "\n"
    "合并方式：\n"
    "  --kind vertical          纵向拼接\n"
    "  --kind overwrite         覆盖合并：关键字相同的记录，新的覆盖旧的\n"
    "  --kind smart             智能合并：按关键字列把各表横向合并\n"
    "  --variant safe|fast|byname\n"
    "                           用于 vertical 和 overwrite：safe 为安全合并，表头与模板\n"
    "                           不同的表不合并；fast 为快速合并，不检查表头；byname 为\n"
    "                           按列名合并，按表头名称对齐各表的列，跳过空行和合计行\n"
    "  --variant horizontal|both\n"
    "                           用于 smart：horizontal 为横向合并；both 为纵横合并，\n"
    "                           模板中没有的关键字追加在后\n"
    "\n"
    "选项：\n"
    "  --files NAME,...         只合并这些文件，按给出的顺序，第一个为模板；名称用逗号\n"
    "                           分隔，也可多次给出\n"
    "  --header-rows N          快速合并问“表头占几行”时的回答\n"
    "  --key N                  问关键字列的列号时的回答\n"
    "  --sorted yes|no          横向合并问各表是否已按关键字排序时的回答，默认 no\n"
    "  --cancel                 合并前确认时回答“取消”\n"
    "  --sheet first|first-visible|all|NAME\n"
    "                           每个工作簿合并哪些工作表：first 为第一个（默认）；\n"
    "                           first-visible 为第一个可见的；all 为全部可见的，按顺序，\n"
    "                           隐藏的不合并；NAME 为该名称的工作表，没有它的工作簿跳过。\n"
    "                           CSV和网页文件只有一个表，总是合并\n"
    "  --source-column          结果加一列“来源文件”，写明每行来自哪个工作簿；与\n"
    "                           --sheet all 一起用时再加一列“来源工作表”\n"
    "  --password TEXT          打开受密码保护的工作簿时，在默认密码之后依次尝试的密码；\n"
    "                           可多次给出，以 - 开头的密码写成 --password=TEXT\n"
    "  --transcript FILE        把这次运行的记录以 JSON 格式写到此文件\n"
    "  --check FOLDER           读取要合并的每个工作簿，说明合并会遇到什么；不写任何文件\n"
    "  --dump WORKBOOK          显示工作簿的第一个工作表（或 --sheet 选的工作表）\n"
    "  --json                   与 --check 或 --dump 一起用：输出 JSON\n"
    "  -h, --help               显示本说明\n"
    "\n"
    "没有给出 --header-rows 或 --key 时，在终端上询问；不在终端上运行则视为取消。\n"
    "\n"
    "退出状态：\n"
    "  0    合并完成\n"
    "  1    已取消、按回答停止，或没有要合并的文件\n"
    "  2    合并失败，消息写明文件和原因\n"
    "  3    结果已保存，但有列出的文件整个未合并：无法读取，或表头与模板不符\n"
    "  64   命令行参数有误\n"
    "  --check：0 每个文件都能读取，3 有文件无法读取\n";

const char* const kCliUsage =
    "用法：quillmere-cli FOLDER --kind vertical|overwrite|smart "
    "--variant safe|fast|byname|horizontal|both [选项]\n"
    "      quillmere-cli --check FOLDER [--files NAME,...] [--sheet ...] [--password TEXT]... "
    "[--json]\n"
    "      quillmere-cli --dump WORKBOOK [--sheet ...] [--json] [--password TEXT]...\n";

const char* const kCliCheckUsage =
    "用法：quillmere-cli --check FOLDER [--files NAME,...] [--sheet ...] [--password TEXT]... "
    "[--json]\n";

const char* const kCliMoreHelp = "运行 quillmere-cli --help 查看用法。\n";

namespace {

// The option an error message of the parser is about ("--kind: 1 required TEXT missing",
// "Could not convert: --json = maybe"); empty when it names none.
std::string OptionIn(const std::string& message) {
  for (size_t p = message.find('-'); p != std::string::npos; p = message.find('-', p + 1)) {
    if (p > 0 && message[p - 1] != ' ' && message[p - 1] != '[') continue;
    size_t q = p;
    while (q < message.size() && message[q] == '-') ++q;
    if (q - p > 2 || q == message.size() || !std::islower(static_cast<unsigned char>(message[q])))
      continue;
    while (q < message.size() &&
           (std::islower(static_cast<unsigned char>(message[q])) || message[q] == '-'))
      ++q;
    return message.substr(p, q - p);
  }
  return {};
}

bool Contains(const std::string& s, const char* part) {
  return s.find(part) != std::string::npos;
}

}  // namespace

std::string ParseErrorText(const std::string& kind, const std::string& message) {
  const std::string option = OptionIn(message);
  const std::string who = option.empty() ? std::string("有选项") : option + " ";
  if (kind == "ArgumentMismatch") {
    if (Contains(message, "missing") || Contains(message, "At least")) return who + "后面缺少值";
    return who + "只能给出一次";
  }
  if (kind == "ConversionError") return option.empty() ? "有选项的值不对" : option + " 的值不对";
  return "命令行参数有误";
}

std::string ExtrasText(const std::vector<std::string>& extras) {
  std::string options, words;
  for (const std::string& e : extras) {
    std::string& to = e.size() > 1 && e[0] == '-' ? options : words;
    if (!to.empty()) to += " ";
    to += e;
  }
  std::string out;
  if (!options.empty()) out += "不认识的选项：" + options + "\n";
  if (!words.empty()) out += "多余的参数：" + words + "\n";
  return out;
}

std::string CheckChoice(const std::string& option, const std::string& value,
                        std::initializer_list<const char*> allowed) {
  std::string list;
  size_t i = 0;
  for (const char* a : allowed) {
    if (value == a) return {};
    list += i == 0 ? "" : i + 1 == allowed.size() ? " 或 " : "、";
    list += a;
    ++i;
  }
  return option + " 只能是 " + list + "，不能是“" + value + "”";
}

}  // namespace qm
