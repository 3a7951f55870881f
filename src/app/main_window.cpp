#include "app/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTextBrowser>
#include <QUrl>
#include <cmath>
#include <map>

#include "app/app_icon.h"
#include "app/option_groups.h"
#include "app/picture_box.h"
#include "app/run_account.h"
#include "app/run_thread.h"
#include "app/web_panel.h"
#include "app/window_text.h"
#include "core/file_list.h"
#include "core/run_merge.h"
#include "core/run_summary.h"

// Resources compiled into a static library need an explicit hook to be linked in.
static void InitResources() {
  Q_INIT_RESOURCE(quillmere);
}

namespace qm {

namespace {

// The shipped pages live together, as they would in one folder of a web site.
constexpr const char* kPagesBase = "qrc:/web/";

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

// A folder as a message names it: the system's separators, no separator at the end.
QString FolderForMessage(const std::string& folder) {
  return QDir::toNativeSeparators(QDir::cleanPath(Q(folder)));
}

bool SameFolder(const std::string& a, const std::string& b) {
  const QString ca = QFileInfo(Q(a)).canonicalFilePath(), cb = QFileInfo(Q(b)).canonicalFilePath();
  if (!ca.isEmpty() && !cb.isEmpty()) return ca == cb;
  return QDir::cleanPath(Q(a)) == QDir::cleanPath(Q(b));
}

// A folder programs are installed into, which holds nothing of the user's: where a program
// started from a desktop menu finds itself.
bool IsSystemFolder(const std::string& folder) {
  const QString path = QDir::cleanPath(QDir::fromNativeSeparators(Q(folder)));
  auto within = [&](const QString& root, Qt::CaseSensitivity cs) {
    return !root.isEmpty() &&
           (path.compare(root, cs) == 0 || path.startsWith(root + QLatin1Char('/'), cs));
  };
#ifdef Q_OS_WIN
  for (const char* variable : {"ProgramFiles", "ProgramFiles(x86)", "ProgramW6432", "SystemRoot"})
    if (within(QDir::cleanPath(QDir::fromNativeSeparators(qEnvironmentVariable(variable))),
               Qt::CaseInsensitive))
      return true;
  return false;
#else
  for (const char* root :
       {"/usr", "/bin", "/sbin", "/lib", "/lib64", "/opt", "/app", "/snap", "/nix/store"})
    if (within(QString::fromLatin1(root), Qt::CaseSensitive)) return true;
  return false;
#endif
}

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

MainWindow::MainWindow(MainWindowHooks hooks, QWidget* parent)
    : QWidget(parent), hooks_(std::move(hooks)) {
  InitResources();
  if (!hooks_.run_merge)
    hooks_.run_merge = [](const MergeRequest& request, Answers& answers, RunView& view,
                          HeaderState& header) { return RunMerge(request, answers, view, header); };
  if (!hooks_.open_result)
    hooks_.open_result = [](const std::string& path) {
      // False where the desktop has no program for it ("Unable to detect a launcher").
      return QDesktopServices::openUrl(QUrl::fromLocalFile(Q(path)));
    };
  if (!hooks_.open_folder)
    hooks_.open_folder = [](const std::string& folder) {
      QDesktopServices::openUrl(QUrl::fromLocalFile(Q(folder)));
    };
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("ExcelQuillmere"));
  setWindowIcon(AppIcon());
  // Controls without a font of their own use the window's.
  setFont(Face(kSongti, 9));
  BuildControls();
  FitIntoScreen();
}

MainWindow::~MainWindow() {
  // Taking the controls down ends the folder box's editing while the window may still be
  // active; the list it would fill is going too.
  disconnect(folderEdit, nullptr, this, nullptr);
  // A window going away mid-run (the program ending) stops the run and waits for its thread;
  // nothing of it is written.
  stop_ = true;
  run_.reset();
}

QRect MainWindow::Twips(int left, int top, int width, int height) const {
  // 1440 twips to the inch, at the screen's logical resolution.
  const double dx = logicalDpiX() / 1440.0, dy = logicalDpiY() / 1440.0;
  return QRect(static_cast<int>(std::lround(left * dx)), static_cast<int>(std::lround(top * dy)),
               static_cast<int>(std::lround(width * dx)),
               static_cast<int>(std::lround(height * dy)));
}

void MainWindow::BuildControls() {
  auto named = [](QWidget* w, const char* name) {
    w->setObjectName(QString::fromLatin1(name));
    return w;
  };

  titleLabel = new QLabel(QStringLiteral("ExcelQuillmere(Excel文档多合一)"), this);
  named(titleLabel, "Label1");
  titleLabel->setFont(Face(kLishu, 18, true));
  {
    QPalette pal = titleLabel->palette();
    pal.setColor(QPalette::WindowText, QColor(192, 64, 0));
    titleLabel->setPalette(pal);
  }

  folderEdit = new QLineEdit(this);
  named(folderEdit, "Text1");
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
  fileList->setFont(Face(kSongti, 10.5));
  fileList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  connect(fileList, &QListWidget::itemDoubleClicked, this, &MainWindow::OnFileDoubleClicked);

  auto button = [&](const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, this);
    named(b, name);
    b->setAutoDefault(false);
    return b;
  };
  addButton = button("Command1", QStringLiteral("添　加"));
  removeButton = button("Command2", QStringLiteral("删　除"));
  startButton = button("Command7", QStringLiteral("开始合并"));
  helpButton = button("Command6", QStringLiteral("使用说明"));
  // In the start button's place while a run goes.
  stopButton = button("StopButton", QStringLiteral("停止"));
  stopButton->setVisible(false);
  stopButton->setToolTip(QStringLiteral("停止合并，不保存结果"));
  connect(addButton, &QPushButton::clicked, this, &MainWindow::OnAddClicked);
  connect(removeButton, &QPushButton::clicked, this, &MainWindow::OnRemoveClicked);
  connect(startButton, &QPushButton::clicked, this, &MainWindow::OnStartClicked);
  connect(stopButton, &QPushButton::clicked, this, &MainWindow::OnStopClicked);
  connect(helpButton, &QPushButton::clicked, this, &MainWindow::OnHelpClicked);

  kindGroup = new QGroupBox(this);
  named(kindGroup, "Frame1");
  kindGroup->setGeometry(Twips(3720, 2280, 1215, 1335));
  variantGroup = new QGroupBox(this);
  named(variantGroup, "Frame2");
  variantGroup->setGeometry(Twips(3720, 3720, 1215, 1170));

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
  // 按列名合并 goes below the other two, which keep their places, in the room the group grew by
  // into the gap under it: a line of its font high, and the group's whole inner width, since its
  // caption is a character longer than theirs. Where the caption is still too wide for that, the
  // indicator comes closer and the font a little smaller, so that the caption shows whole.
  byNameOption = new QRadioButton(Q(ByNameCaption(MergeKind::kVertical)), variantGroup);
  byNameOption->setObjectName(QStringLiteral("ByNameOption"));
  byNameOption->setGeometry(Twips(15, 900, 1185, 255));
  if (byNameOption->sizeHint().width() > byNameOption->width()) {
    byNameOption->setStyleSheet(QStringLiteral("QRadioButton { spacing: 2px; }"));
    QFont small = byNameOption->font();
    while (byNameOption->sizeHint().width() > byNameOption->width() && small.pointSizeF() > 6) {
      small.setPointSizeF(small.pointSizeF() - 0.5);
      byNameOption->setFont(small);
    }
  }
  byNameOption->setToolTip(QStringLiteral("按表头名称对齐各表的列，跳过空行和合计行"));
  kindOptions[0]->setChecked(true);
  variantOptions[0]->setChecked(true);

  // An option of the result, not of the merge kind: it fills the band between the title and the
  // add button, at the head of the option column. The band is a pixel lower than the box's size
  // hint at 96 DPI; the indicator and the caption still have room.
  sourceColumnBox = new QCheckBox(QStringLiteral("添加来源列"), this);
  named(sourceColumnBox, "SourceColumn");
  sourceColumnBox->setToolTip(
      QStringLiteral("在结果最右边加一列“来源文件”，写明每一行来自哪个工作簿"));
  BuildSheetChoice();

  logBox = new QPlainTextEdit(this);
  named(logBox, "Text2");
  logBox->setFont(Face(kKaiti, 10.5));
  logBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  connect(logBox, &QPlainTextEdit::textChanged, this, [this] {
    if (!setting_log_) log_edited_ = true;
  });

  statusBox = new PictureBox(this);
  named(statusBox, "Picture1");
  statusBox->setFont(Face(kSongti, 12));
  statusBox->setVisible(false);  // never shown, though the engines print on it
  connect(statusBox, &PictureBox::doubleClicked, this, &MainWindow::OnStatusDoubleClicked);

  progressBar = new QProgressBar(this);
  named(progressBar, "ProgressBar1");
  progressBar->setTextVisible(false);
  progressBar->setRange(0, 1000);
  progressBar->setValue(0);

  tipsPanel = new WebPanel(this);
  named(tipsPanel, "WebBrowser2");
  // After a run the tips give way to the run's account, until the next run or 使用说明.
  accountPanel = new QTextBrowser(this);
  named(accountPanel, "RunAccount");
  accountPanel->setVisible(false);
  accountPanel->setOpenLinks(false);
  connect(accountPanel, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
    if (url.isLocalFile()) hooks_.open_folder(url.toLocalFile().toStdString());
  });
  diagramPanel = new WebPanel(this);
  named(diagramPanel, "WebBrowser1");
  connect(diagramPanel, &WebPanel::documentComplete, this, &MainWindow::OnDiagramPageLoaded);

  // Wider than the window and reaching past its bottom edge: it is clipped there.
  taglineBox = new PictureBox(this);
  named(taglineBox, "Picture2");
  taglineBox->setFont(Face(kSongti, 10.5));
}

std::string MainWindow::ProgramFolder() const {
  if (!hooks_.program_folder.empty()) return hooks_.program_folder;
  return QCoreApplication::applicationDirPath().toStdString();
}

// --- Start-up ----------------------------------------------------------------------------------

void MainWindow::Load(const QString& folder) {
  ShowInstructions();
  taglineBox->Print(QStringLiteral(
      "ExcelQuillmere —— 不装Excel也能把一个文件夹里的工作簿合成一个：纵向拼接、覆盖合并、智能"
      "合并，任君选择。"));
  // Started from a desktop menu without a folder, the program's own folder is where it was
  // installed: nothing there is the user's, so nothing is listed and nothing is said.
  if (folder.isEmpty() && IsSystemFolder(ProgramFolder())) return;
  LoadFolder(folder);
}

void MainWindow::ShowInstructions() {
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

void MainWindow::OnDiagramPageLoaded() {
  static const QStringList kErrorTitles = {QStringLiteral("找不到服务器"),
                                           QStringLiteral("没有可显示的页"),
                                           QStringLiteral("无法显示网页")};
  if (kErrorTitles.contains(diagramPanel->LocationName()))
    diagramPanel->Navigate(QUrl(QStringLiteral("about:blank")));
}

// --- The file list -----------------------------------------------------------------------------

void MainWindow::LoadFolder(const QString& folder) {
  std::string f = folder.isEmpty() ? ProgramFolder() : folder.toStdString();
  f = WithTrailingSeparator(f);
  if (!QFileInfo(Q(f)).isDir()) {
    // A folder mistyped, or gone since: the list stays the one the user had.
    ShowMessage("文件夹不存在：" + FolderForMessage(f).toStdString(), kAppTitle, Box::kOk);
    ShowFolder(folderEdit, listed_folder_);
    return;
  }
  fileList->clear();
  std::vector<std::string> names = ListWorkbooks(f);
  if (names.empty()) {
    // The program's own folder keeps its old words; any other is named, so the user sees where
    // the program looked.
    ShowMessage(SameFolder(f, WithTrailingSeparator(ProgramFolder()))
                    ? std::string(kNoWorkbooksMessage)
                    : "在此文件夹下没有找到EXCEL文件：" + FolderForMessage(f).toStdString(),
                kAppTitle, Box::kOk);
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

bool MainWindow::RelistTypedFolder(bool even_if_unchanged) {
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
  return listed_folder_ == folder && fileList->count() > 0;
}

void MainWindow::OnAddClicked() {
  ShowMessage("将要合并的EXCEL文件放在同一个文件夹下，选择一个打开就能添加全部。", kAppTitle,
              Box::kOk);
  // The dialog starts in the folder listed, where the user most likely keeps the workbooks;
  // before any listing in the program's folder, unless that is where programs are installed.
  QString start = Q(listed_folder_);
  if (start.isEmpty())
    start = IsSystemFolder(ProgramFolder()) ? QDir::homePath() : Q(ProgramFolder());
  QFileDialog dialog(this, QStringLiteral("打开"), start,
                     QStringLiteral("表格文件 (*.xls *.xlsx *.xlsm *.xlsb *.csv *.tsv *.ods *.fods "
                                    "*.et *.ett)"));
  dialog.setObjectName(QStringLiteral("CommonDialog1"));
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // The file type reads "表格文件" alone, without the patterns behind it. The patterns are those
  // the list takes: a file the dialog shows is one the list will show.
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  if (dialog.exec() != QDialog::Accepted) return;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty() || chosen.front().isEmpty()) return;
  // The whole folder of the chosen file is listed, not only the file.
  const QString folder = QFileInfo(chosen.front()).absolutePath();
  if (!folder.isEmpty()) LoadFolder(folder);
}

void MainWindow::OnRemoveClicked() {
  if (fileList->currentRow() < 0) return;
  // Every selected entry goes, from the bottom up so the indices above stay valid. With one
  // entry selected that is the one removed, even when the caret stands on another entry.
  for (int i = fileList->count() - 1; i >= 0; --i)
    if (fileList->item(i)->isSelected()) delete fileList->takeItem(i);
}

void MainWindow::OnFileDoubleClicked() {
  const int i = fileList->currentRow();
  if (i < 0) return;
  QListWidgetItem* item = fileList->takeItem(i);
  fileList->insertItem(0, item);
  fileList->setCurrentRow(0);
}

std::vector<std::string> MainWindow::FileList() const {
  std::vector<std::string> out;
  out.reserve(static_cast<size_t>(fileList->count()));
  for (int i = 0; i < fileList->count(); ++i)
    out.push_back(fileList->item(i)->text().toStdString());
  return out;
}

// --- Options, starting and stopping a run ------------------------------------------------------

void MainWindow::OnKindClicked(int index) {
  const MergeKind kind = kKindButtons[static_cast<size_t>(index)];
  const auto captions = VariantCaptions(kind);
  variantOptions[0]->setText(Q(captions[0]));
  variantOptions[1]->setText(Q(captions[1]));
  const std::string by_name = ByNameCaption(kind);
  byNameOption->setText(Q(by_name));
  byNameOption->setVisible(!by_name.empty());
  variantOptions[VariantSelectedAfterKindClick(kind)]->setChecked(true);
}

void MainWindow::OnStartClicked() {
  if (running_) return;  // a run never starts inside another
  auto checked = [](const auto& group) {
    for (size_t i = 0; i < group.size(); ++i)
      if (group[i]->isChecked()) return static_cast<int>(i);
    return -1;
  };
  // A folder typed but not confirmed is listed first: the old list is never merged against
  // a new folder. When it is missing or holds no workbooks the listing has said so.
  if (TypedFolder(folderEdit) != listed_folder_ && !RelistTypedFolder(false)) return;
  const auto choice = byNameOption->isChecked()
                          ? KindAndByNameOfButtons(checked(kindOptions))
                          : KindAndVariantOfButtons(checked(kindOptions), checked(variantOptions));
  if (!choice) return;
  if (fileList->count() == 0) {
    ShowMessage("列表中没有要合并的文件", kAppTitle, Box::kOk);
    return;
  }

  MergeRequest request;
  request.folder = TypedFolder(folderEdit);
  request.files = FileList();
  request.kind = choice->first;
  request.variant = choice->second;
  request.source_column = sourceColumnBox->isChecked();
  request.sheets = SheetsChosen();
  request.passwords = &passwords_;
  request.stop = &stop_;

  stop_ = false;
  result_to_show_.reset();
  outcomes_.clear();
  report_place_ = ReportPlace::kLog;
  for (int i = 0; i < fileList->count(); ++i) {
    fileList->item(i)->setIcon(QIcon());
    fileList->item(i)->setToolTip(QString());
  }
  ShowTips();
  SetRunning(true);
  // The worker reads nothing of the window: the request, the header values and the passwords
  // are the run's until it ends.
  run_ = std::make_unique<RunThread>(
      this, *this, *this,
      [run = hooks_.run_merge, request, header = &header_](Answers& answers, RunView& view) {
        return run(request, answers, view, *header);
      },
      [this](const RunResult& result) { FinishRun(result); });
}

void MainWindow::OnStopClicked() {
  if (!run_) return;
  // The run ends at its next table, password try or block of rows; a question it asks
  // meanwhile is answered as Cancel.
  stop_ = true;
  run_->Release();
  stopButton->setEnabled(false);
}

void MainWindow::SetRunning(bool running) {
  running_ = running;
  for (QWidget* w : {static_cast<QWidget*>(folderEdit), static_cast<QWidget*>(fileList),
                     static_cast<QWidget*>(addButton), static_cast<QWidget*>(removeButton),
                     static_cast<QWidget*>(kindGroup), static_cast<QWidget*>(variantGroup),
                     static_cast<QWidget*>(sourceColumnBox), static_cast<QWidget*>(helpButton)})
    w->setEnabled(!running);
  EnableSheetChoice(!running);
  // The log scrolls during a run but takes no typing: the run is writing it.
  logBox->setReadOnly(running);
  QPushButton* from = running ? startButton : stopButton;
  QPushButton* to = running ? stopButton : startButton;
  to->setEnabled(true);
  to->setVisible(true);
  if (from->hasFocus()) to->setFocus();
  from->setVisible(false);
}

void MainWindow::FinishRun(const RunResult& result) {
  run_.reset();  // the thread has posted its last word; this waits for it to end
  last_run_ = result;
  stop_ = false;
  report_place_ = ReportPlace::kLog;
  SetRunning(false);
  ReportEndOfRun();
  ShowOutcomesInList();
  ShowAccount();
  if (close_when_stopped_) {
    close_when_stopped_ = false;
    close();
  }
}

void MainWindow::ReportEndOfRun() {
  // The account comes after the engine's own last line, and only for a run that saved.
  if (last_run_ && last_run_->outcome == Outcome::kDone && last_run_->result_path)
    AppendLogLine(SummaryLine(SummarizeTables(outcomes_), *last_run_->result_path));
  // Shown only once the run has ended, and only when the file is really there. A desktop
  // without a program for it fails quietly, so the user is told where to look instead.
  if (result_to_show_ && QFileInfo::exists(Q(*result_to_show_)) &&
      !hooks_.open_result(*result_to_show_)) {
    const QString folder = QDir::toNativeSeparators(QFileInfo(Q(*result_to_show_)).absolutePath());
    AppendLogLine("无法自动打开结果文件，请到此文件夹中查看：" + folder.toStdString());
  }
}

void MainWindow::ShowOutcomesInList() {
  // The entries keep their text; the icon says what became of the file, the tooltip how many
  // rows it gave or why it was left out. The list was off during the run, so entry i is still
  // the file the run knew as entry i.
  std::map<size_t, QStringList> tips;
  for (const TableOutcome& o : outcomes_) {
    QListWidgetItem* item = fileList->item(static_cast<int>(o.file_index));
    if (!item || item->text() != Q(o.name)) continue;
    item->setIcon(OutcomeIcon(o.status));
    tips[o.file_index] << OutcomeToolTip(o);
  }
  for (const auto& [index, lines] : tips)
    fileList->item(static_cast<int>(index))->setToolTip(lines.join(QLatin1Char('\n')));
}

void MainWindow::ShowAccount() {
  // The log box shows three lines, which cuts the account short; the large panel beside it has
  // room for all of it.
  if (outcomes_.empty()) return;
  const bool saved = last_run_ && last_run_->outcome == Outcome::kDone && last_run_->result_path;
  std::string heading;
  if (saved) {
    heading = SummaryLine(SummarizeTables(outcomes_), *last_run_->result_path);
  } else {
    const std::string log = LogText();
    const size_t cut = log.rfind(kCrLf);
    heading = cut == std::string::npos ? log : log.substr(cut + 2);
  }
  accountPanel->setHtml(
      AccountPage(heading, outcomes_, saved ? last_run_->result_path : std::nullopt));
  tipsPanel->setVisible(false);
  accountPanel->setVisible(true);
}

void MainWindow::ShowTips() {
  accountPanel->setVisible(false);
  tipsPanel->setVisible(true);
}

void MainWindow::AppendLogLine(const std::string& line) {
  const std::string old = LogText();
  SetLogText(old.empty() ? line : old + kCrLf + line);
  ScrollLogToEnd();
}

void MainWindow::OnHelpClicked() {
  ShowInstructions();
  ShowTips();
}

void MainWindow::OnStatusDoubleClicked() {
  statusBox->Clear();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!running_) {
    QWidget::closeEvent(event);
    return;
  }
  // Closing mid-run asks first; the window closes once the stopped run has ended, so nothing
  // is left half written.
  event->ignore();
  if (close_prompt_ || close_when_stopped_) return;
  auto* box = new QMessageBox(this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setIcon(QMessageBox::NoIcon);
  box->setWindowTitle(Q(kAppTitle));
  box->setTextFormat(Qt::PlainText);
  box->setText(QStringLiteral("正在合并，要停止合并并退出吗？"));
  QAbstractButton* yes = box->addButton(QStringLiteral("是(&Y)"), QMessageBox::YesRole);
  QPushButton* no = box->addButton(QStringLiteral("否(&N)"), QMessageBox::NoRole);
  box->setDefaultButton(no);
  box->setEscapeButton(no);
  connect(box, &QMessageBox::finished, this, [this, box, yes] {
    if (box->clickedButton() != yes) return;
    if (!running_) {
      close();
      return;
    }
    close_when_stopped_ = true;
    OnStopClicked();
  });
  close_prompt_ = box;
  // Not waited for here: the run goes on behind the box, and a question it asks meanwhile waits
  // until the box is answered.
  box->open();
}

}  // namespace qm
