// The window's tests: one QTest class whose cases are spread over test_main_window*.cpp, and the
// stand-ins and small fixtures they share.
#pragma once

#include <QListWidget>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>

#include "app/main_window.h"
#include "core/dispatch.h"

QString S(const std::string& s);
// Creates empty files: the listing looks at names only.
void Touch(const QString& folder, const QStringList& names);
QStringList Entries(const QListWidget* list);
// A folder as the folder box shows it: with a closing separator, the system's own.
QString Shown(const QString& folder);

struct Recorded {
  std::vector<qm::DispatchChoice> runs;
  std::vector<std::string> opened;
  std::vector<std::string> folders_opened;
  std::vector<std::string> folders_seen;
  std::vector<std::vector<std::string>> lists_seen;
  bool opener_works = true;
};

// What a stand-in engine gets: the request, and the run's answers source and view as the window
// hands them to the run's thread.
struct StandIn {
  const qm::MergeRequest& request;
  qm::Answers& answers;
  qm::RunView& view;
};

// A window whose engines and result viewer are stand-ins that record their calls. `body` runs on
// the run's thread.
std::unique_ptr<qm::MainWindow> MakeWindow(Recorded& rec, const QString& program_folder,
                                           std::function<qm::RunResult(StandIn&)> body = {});
// Hooks whose merges are the real ones, slowed down by `delay_ms` at every log line so that a test
// can act while they run; results are recorded, never opened.
qm::MainWindowHooks SlowRealMerges(Recorded& rec, const QString& program_folder, int delay_ms);
// Presses 开始合并 and waits until the run it started (if any) has ended and shown everything.
void StartAndWait(qm::MainWindow& w);
qm::TableOutcome Reported(size_t index, const std::string& name, qm::TableStatus status);
QStringList LogLines(qm::MainWindow& w);
// Writes small .xlsx tables keyed on column 1: a header row 工号 / <title>, then the rows.
bool WriteTables(const QString& folder, const QStringList& names);

class MainWindowTest : public QObject {
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
  void runIgnoresInputAndReentry();
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
  void slowPasswordTriesAreNoticedInTheLogWithoutTakingItFromTheStatusLines();
  void sourceColumnBoxReachesTheEngineAndOverlapsNoControl();
  void sheetChoiceReachesTheEngineAndOverlapsNoControl();
  // The run on its own thread.
  void stopEndsALongRunWithNothingWrittenAndTheOlderResultKept();
  void progressMovesWhileALargerFolderIsMerged();
  void closingDuringARunAsksAndStopsTheRunBeforeClosing();
  void questionsAreAskedOnTheGuiThreadWhileTheRunWaits();
  // Size, outcomes and folders.
  void largerWindowGrowsTheListAndTheLog();
  void smallerWindowShrinksTheLogFirstAndFitsASmallScreen();
  void opensWithinASmallScreen();
  void listEntriesShowTheirOutcomeAndTheAccountTakesTheTipsPlace();
  void foldersThatCannotBeListedAreNamedAndTheListKept();
  void startFromASystemFolderListsNothingAndAddsFromHome();
  void screenshot();
  void runScreenshot();
  void summaryScreenshot();
  void mergeThroughTheWindow();
  void qtDialogsAreChineseUnderACLocale();
  void byNameButtonFollowsTheKindAndStartsTheByNameMerge();
  void byNameMergeThroughTheRealDialogs();
  void byNameScreenshot();
};
