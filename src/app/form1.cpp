#include "app/form1.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextCursor>
#include <QUrl>
#include <algorithm>
#include <cmath>

#include "app/app_icon.h"
#include "app/option_groups.h"
#include "app/picture_box.h"
#include "app/web_panel.h"
#include "core/file_list.h"
#include "core/run_summary.h"

// Resources compiled into a static library need an explicit hook to be linked in.
static void InitResources() {
  Q_INIT_RESOURCE(quillmere);
}

namespace qm {

namespace {

constexpr const char* kAppTitle = "合并";
constexpr const char* kCrLf = "\r\n";
// The shipped pages live together, as they would in one folder of a web site.
constexpr const char* kPagesBase = "qrc:/web/";

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

// Font faces as the window names them, followed by faces that carry the same style on systems
// without them; the Noto CJK faces are the last resort that Debian ships.
const QStringList kSongti = {
    "宋体", "SimSun", "NSimSun", "AR PL UMing CN", "Noto Serif CJK SC", "Noto Sans CJK SC"};
const QStringList kLishu = {"隶书", "LiSu", "STLiti", "Noto Serif CJK SC", "Noto Sans CJK SC"};
const QStringList kKaiti = {
    "楷体_GB2312",       "KaiTi_GB2312",    "楷体", "KaiTi", "STKaiti", "AR PL UKai CN",
    "Noto Serif CJK SC", "Noto Sans CJK SC"};

QFont Face(const QStringList& families, double points, bool bold = false) {
  QFont f;
  f.setFamilies(families);
  f.setPointSizeF(points);
  f.setBold(bold);
  return f;
}

// A message text as a dialog shows it: CR LF and a lone CR both break the line.
QString DialogText(const std::string& s) {
  QString t = Q(s);
  t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  t.replace(QChar('\r'), QChar('\n'));
  return t;
}

// The log as the text box shows it: CR LF breaks the line, a lone CR shows nothing.
QString LogDisplay(const std::string& s) {
  QString t = Q(s);
  t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  t.remove(QChar('\r'));
  return t;
}

bool IsUserInput(QEvent::Type t) {
  switch (t) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
      return true;
    default:
      return false;
  }
}

}  // namespace

Form1::Form1(Form1Hooks hooks, QWidget* parent) : QWidget(parent), hooks_(std::move(hooks)) {
  InitResources();
  if (!hooks_.run_engine) hooks_.run_engine = RunChoice;
  if (!hooks_.open_result)
    hooks_.open_result = [](const std::string& path) {
      // False where the desktop has no program for it ("Unable to detect a launcher").
      return QDesktopServices::openUrl(QUrl::fromLocalFile(Q(path)));
    };
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("ExcelQuillmere"));
  setWindowIcon(AppIcon());
  // Controls without a font of their own use the window's.
  setFont(Face(kSongti, 9));
  BuildControls();
  setFixedSize(Twips(0, 0, 11190, 8520).size());
  if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
}

Form1::~Form1() {
  qApp->removeEventFilter(this);
  // Taking the controls down ends the folder box's editing while the window may still be
  // active; the list it would fill is going too.
  disconnect(folderEdit, nullptr, this, nullptr);
}

QRect Form1::Twips(int left, int top, int width, int height) const {
  // 1440 twips to the inch, at the screen's logical resolution.
  const double dx = logicalDpiX() / 1440.0, dy = logicalDpiY() / 1440.0;
  return QRect(static_cast<int>(std::lround(left * dx)), static_cast<int>(std::lround(top * dy)),
               static_cast<int>(std::lround(width * dx)),
               static_cast<int>(std::lround(height * dy)));
}

void Form1::BuildControls() {
  auto named = [](QWidget* w, const char* name) {
    w->setObjectName(QString::fromLatin1(name));
    return w;
  };

  titleLabel = new QLabel(QStringLiteral("ExcelQuillmere(Excel文档多合一)"), this);
  named(titleLabel, "Label1");
  titleLabel->setGeometry(Twips(2160, 240, 7575, 375));
  titleLabel->setFont(Face(kLishu, 18, true));
  {
    QPalette pal = titleLabel->palette();
    pal.setColor(QPalette::WindowText, QColor(192, 64, 0));
    titleLabel->setPalette(pal);
  }

  folderEdit = new QLineEdit(this);
  named(folderEdit, "Text1");
  folderEdit->setGeometry(Twips(120, 960, 3495, 375));
  folderEdit->setFont(Face(kSongti, 10.5, true));
  {
    QPalette pal = folderEdit->palette();
    pal.setColor(QPalette::Base, QColor(192, 255, 192));
    folderEdit->setPalette(pal);
  }
  // A folder typed into the box is listed on Enter, or when the user moves on to another
  // control changed, so the list belongs to the folder shown. Switching to another program or
  // a dialog opening also ends the editing; a half-typed folder is not listed then.
  connect(folderEdit, &QLineEdit::returnPressed, this, [this] { RelistTypedFolder(true); });
  connect(folderEdit, &QLineEdit::editingFinished, this, [this] {
    if (isActiveWindow()) RelistTypedFolder(false);
  });

  fileList = new QListWidget(this);
  named(fileList, "List1");
  fileList->setGeometry(Twips(120, 1320, 3495, 4890));
  fileList->setFont(Face(kSongti, 10.5));
  fileList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  connect(fileList, &QListWidget::itemDoubleClicked, this, &Form1::OnFileDoubleClicked);

  auto button = [&](const char* name, const QString& caption, QRect r) {
    auto* b = new QPushButton(caption, this);
    named(b, name);
    b->setGeometry(r);
    b->setAutoDefault(false);
    return b;
  };
  addButton = button("Command1", QStringLiteral("添　加"), Twips(3720, 960, 1215, 495));
  removeButton = button("Command2", QStringLiteral("删　除"), Twips(3720, 1680, 1215, 495));
  startButton = button("Command7", QStringLiteral("开始合并"), Twips(3720, 4920, 1215, 495));
  helpButton = button("Command6", QStringLiteral("使用说明"), Twips(3720, 5640, 1215, 495));
  connect(addButton, &QPushButton::clicked, this, &Form1::OnAddClicked);
  connect(removeButton, &QPushButton::clicked, this, &Form1::OnRemoveClicked);
  connect(startButton, &QPushButton::clicked, this, &Form1::OnStartClicked);
  connect(helpButton, &QPushButton::clicked, this, &Form1::OnHelpClicked);

  kindGroup = new QGroupBox(this);
  named(kindGroup, "Frame1");
  kindGroup->setGeometry(Twips(3720, 2280, 1215, 1335));
  variantGroup = new QGroupBox(this);
  named(variantGroup, "Frame2");
  variantGroup->setGeometry(Twips(3720, 3720, 1215, 975));

  // An option button keeps its place and width; where the font's line is taller than the
  // button, the button grows about its own middle so the caption is not cut.
  auto option = [&](QGroupBox* frame, const QString& name, const QString& caption, QRect r) {
    auto* b = new QRadioButton(caption, frame);
    b->setObjectName(name);
    const int need = b->sizeHint().height();
    if (need > r.height()) {
      const int mid = r.top() + r.height() / 2;
      r = QRect(r.left(), mid - need / 2, r.width(), need);
    }
    b->setGeometry(r);
    return b;
  };
  const char* kinds[] = {"纵向拼接", "覆盖合并", "智能合并"};
  for (int i = 0; i < 3; ++i) {
    kindOptions[i] = option(kindGroup, QStringLiteral("Option1_%1").arg(i),
                            QString::fromUtf8(kinds[i]), Twips(90, 240 + 360 * i, 1095, 180));
    connect(kindOptions[i], &QRadioButton::clicked, this, [this, i] { OnKindClicked(i); });
  }
  const auto variants = VariantCaptions(MergeKind::kVertical);
  for (int i = 0; i < 2; ++i)
    variantOptions[i] = option(variantGroup, QStringLiteral("Option2_%1").arg(i), Q(variants[i]),
                               Twips(90, 240 + 360 * i, 1095, 255));
  kindOptions[0]->setChecked(true);
  variantOptions[0]->setChecked(true);

  // An option of the result, not of the merge kind: it fills the band between the title and the
  // add button, at the head of the option column. The band is a pixel lower than the box's size
  // hint at 96 DPI; the indicator and the caption still have room.
  sourceColumnBox = new QCheckBox(QStringLiteral("添加来源列"), this);
  named(sourceColumnBox, "SourceColumn");
  sourceColumnBox->setGeometry(Twips(3720, 615, 1335, 345));
  sourceColumnBox->setToolTip(
      QStringLiteral("在结果最右边加一列“来源文件”，写明每一行来自哪个工作簿"));

  logBox = new QPlainTextEdit(this);
  named(logBox, "Text2");
  logBox->setGeometry(Twips(5040, 960, 6015, 1215));
  logBox->setFont(Face(kKaiti, 10.5));
  logBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  connect(logBox, &QPlainTextEdit::textChanged, this, [this] {
    if (!setting_log_) log_edited_ = true;
  });

  statusBox = new PictureBox(this);
  named(statusBox, "Picture1");
  statusBox->setGeometry(Twips(5040, 960, 6015, 1215));
  statusBox->setFont(Face(kSongti, 12));
  statusBox->setVisible(false);  // never shown, though the engines print on it
  connect(statusBox, &PictureBox::doubleClicked, this, &Form1::OnStatusDoubleClicked);

  progressBar = new QProgressBar(this);
  named(progressBar, "ProgressBar1");
  progressBar->setGeometry(Twips(5040, 2400, 6015, 375));
  progressBar->setTextVisible(false);
  progressBar->setRange(0, 1000);
  progressBar->setValue(0);

  tipsPanel = new WebPanel(this);
  named(tipsPanel, "WebBrowser2");
  tipsPanel->setGeometry(Twips(5040, 2880, 6015, 3255));
  diagramPanel = new WebPanel(this);
  named(diagramPanel, "WebBrowser1");
  diagramPanel->setGeometry(Twips(120, 6360, 10935, 1695));
  connect(diagramPanel, &WebPanel::documentComplete, this, &Form1::OnDiagramPageLoaded);

  // Wider than the window and reaching past its bottom edge: it is clipped there.
  taglineBox = new PictureBox(this);
  named(taglineBox, "Picture2");
  taglineBox->setGeometry(Twips(0, 8160, 12255, 375));
  taglineBox->setFont(Face(kSongti, 10.5));
}

std::string Form1::ProgramFolder() const {
  if (!hooks_.program_folder.empty()) return hooks_.program_folder;
  return QCoreApplication::applicationDirPath().toStdString();
}

// --- Start-up ----------------------------------------------------------------------------------

void Form1::Load(const QString& folder) {
  ShowInstructions();
  taglineBox->Print(QStringLiteral(
      "ExcelQuillmere —— 不装Excel也能把一个文件夹里的工作簿合成一个：纵向拼接、覆盖合并、智能"
      "合并，任君选择。"));
  LoadFolder(folder);
}

void Form1::ShowInstructions() {
  statusBox->Clear();
  const std::string title = "             ";  // section titles start with 13 blanks
  std::string t = title + "软件介绍";
  t += kCrLf;
  t += std::string(kCrLf) + "";
  t += std::string(kCrLf) +
       "2.本软件功能是将多个电子表格合并成一个。只能对同一文件夹中的EXCEL工作簿的第一个工作表进行"
       "合并。";
  t += std::string(kCrLf) + "纵向拼接：将同类表格纵向连接在一起。要求各表列标题名称和次序相同。";
  t += std::string(kCrLf) + "覆盖合并：将同类表格纵向连接在一起，对于重复记录";
  t += "(关键字值相同)，则总是用新记录覆盖原记录。要求同上。";
  t += std::string(kCrLf) +
       "如果所有表格表头相同（第一个数据记录行号相同），以上两种合并方式可选快速合并。";
  t += kCrLf;
  t += std::string(kCrLf) +
       "智能合并：可将不同类表格进行横向和纵向合并，只要有相同的关键字列（该列列号也要相同）即"
       "可。如果所有表格均按关键字列升序排序，合并速度显著要快。";
  t += kCrLf;
  t += std::string(kCrLf) + title + "操作步骤";
  t += std::string(kCrLf) + "1.将需合并的EXCEL文档放在同一个文件夹中。";
  t += std::string(kCrLf) + "2.添加文件，添加后发现不需要的可删除。";
  t += std::string(kCrLf) + "3.根据需要选择三种合并方式中的一种进行合并。";
  t += kCrLf;
  t += std::string(kCrLf) + title + "注意事项";
  t += std::string(kCrLf) +
       "智能合并模式如果数据量大可能费时很长，请耐心等待，所以，建议你先尝试将少量表格合并，以测"
       "试合并速度。如需更快的合并速度或有其他合并需求，欢迎与作者联系。";
  SetLogText(t);

  diagramPanel->Navigate(QUrl(QString::fromLatin1(kPagesBase) + "hebing.htm"));
  tipsPanel->Navigate(QUrl(QString::fromLatin1(kPagesBase) + "hebing1.htm"));
}

void Form1::OnDiagramPageLoaded() {
  static const QStringList kErrorTitles = {QStringLiteral("找不到服务器"),
                                           QStringLiteral("没有可显示的页"),
                                           QStringLiteral("无法显示网页")};
  if (kErrorTitles.contains(diagramPanel->LocationName()))
    diagramPanel->Navigate(QUrl(QStringLiteral("about:blank")));
}

// --- The file list -----------------------------------------------------------------------------

namespace {

// The program keeps '/' between the parts of a path; the user sees the system's separator. A
// long folder shows its beginning, as a text box does.
void ShowFolder(QLineEdit* box, const std::string& folder) {
  box->setText(QDir::toNativeSeparators(Q(folder)));
  box->setCursorPosition(0);
}

std::string TypedFolder(const QLineEdit* box) {
  return QDir::fromNativeSeparators(box->text()).toStdString();
}

}  // namespace

void Form1::LoadFolder(const QString& folder) {
  std::string f = folder.isEmpty() ? ProgramFolder() : folder.toStdString();
  f = WithTrailingSeparator(f);
  fileList->clear();
  std::vector<std::string> names = ListWorkbooks(f);
  if (names.empty()) {
    Message(kNoWorkbooksMessage, kAppTitle, Buttons::kOk);
    // The box goes back to the folder listed before, also when a typed folder was refused.
    ShowFolder(folderEdit, listed_folder_);
    return;
  }
  listedNames = std::move(names);
  for (const auto& n : listedNames) fileList->addItem(Q(n));
  fileList->setCurrentRow(0);
  listed_folder_ = f;
  ShowFolder(folderEdit, f);
}

bool Form1::RelistTypedFolder(bool even_if_unchanged) {
  // A run reads the folder once at its start; the listing's own message box takes the focus
  // away from the box and must not list the folder a second time.
  if (running_ || relisting_) return true;
  const QString typed = folderEdit->text().trimmed();
  if (typed.isEmpty()) {
    ShowFolder(folderEdit, listed_folder_);
    return true;
  }
  const std::string folder = WithTrailingSeparator(QDir(typed).absolutePath().toStdString());
  if (!even_if_unchanged && folder == listed_folder_) {
    ShowFolder(folderEdit, listed_folder_);
    return true;
  }
  relisting_ = true;
  LoadFolder(Q(folder));
  relisting_ = false;
  return fileList->count() > 0;
}

void Form1::OnAddClicked() {
  Message("将要合并的EXCEL文件放在同一个文件夹下，选择一个打开就能添加全部。", kAppTitle,
          Buttons::kOk);
  // The dialog starts in the folder listed, where the user most likely keeps the workbooks.
  QFileDialog dialog(this, QStringLiteral("打开"),
                     Q(listed_folder_.empty() ? ProgramFolder() : listed_folder_),
                     QStringLiteral("Excel文件 (*.xls *.xlsx)"));
  dialog.setObjectName(QStringLiteral("CommonDialog1"));
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // The file type reads "Excel文件" alone, without the patterns behind it.
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  if (dialog.exec() != QDialog::Accepted) return;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty() || chosen.front().isEmpty()) return;
  // The whole folder of the chosen file is listed, not only the file.
  const QString folder = QFileInfo(chosen.front()).absolutePath();
  if (!folder.isEmpty()) LoadFolder(folder);
}

void Form1::OnRemoveClicked() {
  if (fileList->currentRow() < 0) return;
  // Every selected entry goes, from the bottom up so the indices above stay valid. With one
  // entry selected that is the one removed, even when the caret stands on another entry.
  for (int i = fileList->count() - 1; i >= 0; --i)
    if (fileList->item(i)->isSelected()) delete fileList->takeItem(i);
}

void Form1::OnFileDoubleClicked() {
  const int i = fileList->currentRow();
  if (i < 0) return;
  QListWidgetItem* item = fileList->takeItem(i);
  fileList->insertItem(0, item);
  fileList->setCurrentRow(0);
}

// --- Options and the start button --------------------------------------------------------------

void Form1::OnKindClicked(int index) {
  const MergeKind kind = kKindButtons[static_cast<size_t>(index)];
  const auto captions = VariantCaptions(kind);
  variantOptions[0]->setText(Q(captions[0]));
  variantOptions[1]->setText(Q(captions[1]));
  variantOptions[VariantSelectedAfterKindClick(kind)]->setChecked(true);
}

void Form1::OnStartClicked() {
  if (running_) return;  // a run never starts inside another
  auto checked = [](const auto& group) {
    for (size_t i = 0; i < group.size(); ++i)
      if (group[i]->isChecked()) return static_cast<int>(i);
    return -1;
  };
  // A folder typed but not confirmed is listed first: the old list is never merged against
  // a new folder. When it holds no workbooks the listing has said so.
  if (TypedFolder(folderEdit) != listed_folder_ && !RelistTypedFolder(false)) return;
  const auto choice = ChoiceOfButtons(checked(kindOptions), checked(variantOptions));
  if (!choice) return;
  if (fileList->count() == 0) {
    Message("列表中没有要合并的文件", kAppTitle, Buttons::kOk);
    return;
  }

  // During the run the window repaints but ignores clicks and keys.
  running_ = true;
  result_to_show_.reset();
  outcomes_.clear();
  status_lines_ = StatusLines::kHidden;
  qApp->installEventFilter(this);
  pump_clock_.start();
  struct EndOfRun {
    Form1* w;
    ~EndOfRun() {
      qApp->removeEventFilter(w);
      w->running_ = false;
    }
  };
  {
    EndOfRun end{this};
    Application app;
    MergeContext ctx{app, *this, header_};
    ctx.passwords = &passwords_;
    ctx.source_column = sourceColumnBox->isChecked();
    last_run_ = hooks_.run_engine(*choice, ctx);
  }
  status_lines_ = StatusLines::kHidden;
  ReportEndOfRun();
}

void Form1::ReportEndOfRun() {
  // The account comes after the engine's own last line, and only for a run that saved.
  if (last_run_ && last_run_->outcome == Outcome::kDone && last_run_->result_path)
    AppendLogLine(SummaryLine(Summarize(outcomes_), *last_run_->result_path));
  // Shown only once the engine has returned, and only when the file is really there. A desktop
  // without a program for it fails quietly, so the user is told where to look instead.
  if (result_to_show_ && QFileInfo::exists(Q(*result_to_show_)) &&
      !hooks_.open_result(*result_to_show_)) {
    const QString folder = QDir::toNativeSeparators(QFileInfo(Q(*result_to_show_)).absolutePath());
    AppendLogLine("无法自动打开结果文件，请到此文件夹中查看：" + folder.toStdString());
  }
}

void Form1::AppendLogLine(const std::string& line) {
  const std::string old = LogText();
  SetLogText(old.empty() ? line : old + kCrLf + line);
  ScrollLogToEnd();
}

void Form1::OnHelpClicked() {
  ShowInstructions();
}

void Form1::OnStatusDoubleClicked() {
  statusBox->Clear();
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  if (running_ && IsUserInput(event->type()) && watched->isWidgetType() &&
      static_cast<QWidget*>(watched)->window() == this)
    return true;
  return QWidget::eventFilter(watched, event);
}

void Form1::closeEvent(QCloseEvent* event) {
  if (running_) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

// --- The interaction port ----------------------------------------------------------------------

Answer Form1::Message(const std::string& text, const std::string& title, Buttons buttons) {
  QMessageBox box(this);
  box.setIcon(QMessageBox::NoIcon);
  box.setWindowTitle(Q(title.empty() ? kAppTitle : title));
  box.setTextFormat(Qt::PlainText);
  box.setText(DialogText(text));
  QAbstractButton* first = nullptr;
  QAbstractButton* second = nullptr;
  switch (buttons) {
    case Buttons::kOk:
      first = box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
      break;
    case Buttons::kOkCancel:
      first = box.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
      second = box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
      break;
    case Buttons::kYesNo:
      first = box.addButton(QStringLiteral("是(&Y)"), QMessageBox::YesRole);
      second = box.addButton(QStringLiteral("否(&N)"), QMessageBox::NoRole);
      break;
  }
  box.setDefaultButton(static_cast<QPushButton*>(first));
  box.setEscapeButton(second ? second : first);
  box.exec();
  const bool took_first = box.clickedButton() == first;
  switch (buttons) {
    case Buttons::kOk:
      return Answer::kOk;
    case Buttons::kOkCancel:
      return took_first ? Answer::kOk : Answer::kCancel;
    case Buttons::kYesNo:
      return took_first ? Answer::kYes : Answer::kNo;
  }
  return Answer::kCancel;
}

std::optional<std::string> Form1::Input(PromptKind, const std::string& prompt,
                                        const std::string& title,
                                        const std::string& default_answer) {
  QInputDialog dialog(this);
  dialog.setInputMode(QInputDialog::TextInput);
  dialog.setWindowTitle(Q(title.empty() ? kAppTitle : title));
  dialog.setLabelText(DialogText(prompt));
  // A header list of many columns makes a long prompt: it wraps instead of widening the box
  // past the screen.
  for (QLabel* label : dialog.findChildren<QLabel*>()) label->setWordWrap(true);
  dialog.setMinimumWidth(360);
  dialog.setTextValue(Q(default_answer));
  dialog.setOkButtonText(QStringLiteral("确定"));
  dialog.setCancelButtonText(QStringLiteral("取消"));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.textValue().toStdString();
}

std::optional<std::string> Form1::AskPassword(const std::string& file, bool wrong_before) {
  QInputDialog dialog(this);
  dialog.setInputMode(QInputDialog::TextInput);
  dialog.setTextEchoMode(QLineEdit::Password);
  dialog.setWindowTitle(Q(kAppTitle));
  dialog.setLabelText(DialogText(PasswordPrompt(file, wrong_before)));
  for (QLabel* label : dialog.findChildren<QLabel*>()) label->setWordWrap(true);
  dialog.setMinimumWidth(360);
  dialog.setOkButtonText(QStringLiteral("确定"));
  dialog.setCancelButtonText(QStringLiteral("取消"));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.textValue().toStdString();
}

std::string Form1::LogText() {
  if (log_edited_) {
    // The user changed the text box: its lines are what the log holds now.
    QString t = logBox->toPlainText();
    t.replace(QChar('\n'), QStringLiteral("\r\n"));
    log_text_ = t.toStdString();
    log_edited_ = false;
  }
  return log_text_;
}

void Form1::SetLogText(const std::string& text) {
  // The engine keeps a log of its own this run: its status lines stay off it.
  if (status_lines_ == StatusLines::kUndecided) status_lines_ = StatusLines::kHidden;
  const std::string old = LogText();
  log_text_ = text;
  ShowLog(old, text);
  Pump(logBox->viewport());
}

void Form1::AppendLog(const std::string& line) {
  // Added to whatever the box holds now, the user's edits included.
  SetLogText(LogText() + kCrLf + line);
}

void Form1::ShowLog(const std::string& old_text, const std::string& text) {
  setting_log_ = true;
  // Appending is by far the commonest change; only the new tail is laid out then.
  const bool appends = !old_text.empty() && text.size() > old_text.size() &&
                       old_text.back() != '\r' && text.compare(0, old_text.size(), old_text) == 0;
  if (appends) {
    QTextCursor c(logBox->document());
    c.movePosition(QTextCursor::End);
    c.insertText(LogDisplay(text.substr(old_text.size())));
  } else {
    logBox->setPlainText(LogDisplay(text));
  }
  // Setting the text puts the caret back at the start, as a text box does.
  logBox->moveCursor(QTextCursor::Start);
  setting_log_ = false;
  log_edited_ = false;
}

void Form1::ScrollLogToEnd() {
  logBox->moveCursor(QTextCursor::End);
  logBox->ensureCursorVisible();
  Pump(logBox->viewport());
}

void Form1::SetProgressMax(double max) {
  progress_max_ = max;
  SetProgressValue(progress_value_);
}

void Form1::SetProgressValue(double value) {
  progress_value_ = value;
  const double share = progress_max_ > 0 ? std::clamp(value / progress_max_, 0.0, 1.0) : 0.0;
  progressBar->setValue(static_cast<int>(std::lround(share * progressBar->maximum())));
  Pump(progressBar);
}

void Form1::ClearStatus() {
  statusBox->Clear();
  // Clearing the status area starts a run: the log and the bar start empty too, so nothing of
  // the previous run or the instructions is taken for this run's report.
  const std::string old = LogText();
  log_text_.clear();
  ShowLog(old, log_text_);
  SetProgressValue(0);
  // Whether the status lines go to the log is settled by what the engine writes first.
  status_lines_ = StatusLines::kUndecided;
}

void Form1::PrintStatus(const std::string& line) {
  statusBox->Print(Q(line));
  if (status_lines_ == StatusLines::kUndecided) status_lines_ = StatusLines::kInLog;
  if (status_lines_ == StatusLines::kInLog && statusBox->isHidden()) {
    const std::string old = LogText();
    log_text_ = old.empty() ? line : old + kCrLf + line;
    ShowLog(old, log_text_);
    ScrollLogToEnd();
  }
  Pump(statusBox);
}

std::string Form1::SourceFolder() {
  return TypedFolder(folderEdit);
}

std::vector<std::string> Form1::FileList() {
  std::vector<std::string> out;
  out.reserve(static_cast<size_t>(fileList->count()));
  for (int i = 0; i < fileList->count(); ++i)
    out.push_back(fileList->item(i)->text().toStdString());
  return out;
}

void Form1::SetCurrentEntry(size_t index) {
  // Only the caret moves: the entries the user selected stay selected, so "删　除" afterwards
  // still removes what the user chose.
  if (index < static_cast<size_t>(fileList->count()))
    fileList->setCurrentRow(static_cast<int>(index), QItemSelectionModel::NoUpdate);
}

void Form1::ShowResult(const std::string& path) {
  result_to_show_ = path;
}

void Form1::ReportFile(const FileOutcome& outcome) {
  outcomes_.push_back(outcome);
}

void Form1::Pump(QWidget* changed) {
  if (!running_) return;
  // The control that changed is painted at once, as a direct property write would show it.
  if (changed->isVisible()) changed->repaint();
  // The rest of the window (uncovered after a dialog, say) is kept painted a few times a
  // second; input to it meanwhile is swallowed by the event filter.
  if (pump_clock_.isValid() && pump_clock_.elapsed() < 50) return;
  QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  pump_clock_.restart();
}

}  // namespace qm
