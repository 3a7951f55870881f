// The window's tests: one QTest class whose cases are spread over test_form1*.cpp, and the
// stand-ins and small fixtures they share.
#pragma once

#include <QListWidget>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>

#include "app/form1.h"

QString S(const std::string& s);
// Creates empty files: the listing looks at names only.
void Touch(const QString& folder, const QStringList& names);
QStringList Entries(const QListWidget* list);
// A folder as the folder box shows it: with a closing separator, the system's own.
QString Shown(const QString& folder);

struct Recorded {
  std::vector<qm::DispatchChoice> runs;
  std::vector<std::string> opened;
  std::vector<std::string> folders_seen;
  std::vector<std::vector<std::string>> lists_seen;
  bool opener_works = true;
};

// A window whose engines and result viewer are stand-ins that record their calls.
std::unique_ptr<qm::Form1> MakeWindow(Recorded& rec, const QString& program_folder,
                                      std::function<qm::RunResult(qm::MergeContext&)> body = {});
qm::FileOutcome Reported(size_t index, const std::string& name, qm::FileStatus status);
QStringList LogLines(qm::Form1& w);
// Writes small .xlsx tables keyed on column 1: a header row 工号 / <title>, then the rows.
bool WriteTables(const QString& folder, const QStringList& names);

class Form1Test : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void controlsArePlacedFromTwips();
  void controlsKeepTheirObjectNames();
  void startUpListsTheFolderAndWritesInstructions();
  void startUpWithoutWorkbooksSaysSoOnce();
  void addListsTheWholeFolderOfTheChosenFile();
  void addDialogNamesTheFileTypeWithoutItsPatterns();
  void deleteRemovesTheSelectedEntries();
  void deleteWithTheCaretOffTheOnlySelectedEntryRemovesTheSelectedOne();
  void deleteDoesNothingWithoutACurrentEntry();
  void doubleClickMovesAnEntryToTheTop();
  void optionCaptionsFollowTheKind();
  void everyRowOfTheTableStartsItsEngine();
  void smartMergeLeavesTheTemplateAsTheCurrentEntry();
  void portDialogsShowExactTextsAndButtons();
  void runRepaintsButIgnoresInputAndReentry();
  void logKeepsLineBreaksAndUserEdits();
  void resultIsOpenedOnlyWhenItExists();
  void errorPageOnTheMainPanelTurnsBlank();
  void wholeMergeThroughTheRealDialogs();
  void summaryFollowsADoneRunAndNamesTheFolderWhenTheResultCannotBeOpened();
  void noSummaryAfterARunThatDidNotSave();
  void startWithAnEmptyListSaysThereIsNothingToMerge();
  void typedFolderIsListedOnEnterAndBeforeAMerge();
  void addDialogOpensInTheListedFolder();
  void destroyingTheActiveWindowWithAFolderTypedListsNothing();
  void sortedSmartMergeShowsItsStatusLinesInTheLog();
  void safeMergeKeepsItsStatusLinesOffTheLog();
  void passwordBoxHidesTheEntryAndSaysWhenTheLastOneWasWrong();
  void protectedSourcesAskForPasswordsThatAreRememberedForTheNextRun();
  void sourceColumnBoxReachesTheEngineAndOverlapsNoControl();
  void screenshot();
  void summaryScreenshot();
  void mergeThroughTheWindow();
};
