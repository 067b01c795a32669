// The program's one window: folder boxes, the result list, the Start button
// and the two preview panes. It owns the settings, the search state and the
// pane pictures for its whole life and shows the search through SearchView.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <QMainWindow>

#include "search/ImageSlots.h"
#include "image/PluginReader.h"
#include "search/SearchSession.h"
#include "search/SearchView.h"
#include "settings/Settings.h"
#include "ui/Layout.h"
#include "ui/PairLoader.h"
#include "ui/Translation.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QUrl;

namespace norvane::ui {

class PreviewPane;
class ResultList;

inline constexpr const char* kTrashLabel = "ごみ箱に移動";
inline constexpr const char* kMoveFolderLabel = "移動先フォルダ";

class MainWindow : public QMainWindow, public SearchView {
  Q_OBJECT

 public:
  // Answers a Yes/No question (text, caption); true for Yes.
  using AskHook = std::function<bool(std::string_view, std::string_view)>;
  // Shows an information message (text, caption).
  using InformHook = std::function<void(std::string_view, std::string_view)>;
  // Asks the desktop to open a file; false when it could not.
  using OpenHook = std::function<bool(const QUrl&)>;

  // Probes the plug-ins, loads the settings from `settingsFile` and puts the
  // window where they say. The file is written back when the window closes.
  explicit MainWindow(std::string settingsFile, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Message boxes go through these when set (tests answer without a dialog).
  void SetAskHook(AskHook hook) { askHook_ = std::move(hook); }
  void SetInformHook(InformHook hook) { informHook_ = std::move(hook); }
  // The desktop's opener goes through this when set (tests launch nothing).
  void SetOpenHook(OpenHook hook) { openHook_ = std::move(hook); }

  // SearchView.
  void CommitEdits() override;
  void SetStartButton(std::string_view caption, bool enabled) override;
  void EnableCommands(bool enabled) override;
  void SetStatusText(std::string_view text) override;
  bool AskYesNo(std::string_view text, std::string_view caption) override;
  void Inform(std::string_view text, std::string_view caption) override;
  void ClearPanes() override;
  void SetInfoText(int side, const FileRecord* record) override;
  const DecodedImage* SetLeftImage(const FileRecord& record, std::unique_ptr<DecodedImage> image) override;
  void RepaintLeftPane() override;
  void ListDeleteAll() override;
  void ListInsertRow(int row, std::string_view text) override;
  void ListSetText(int row, int column, std::string_view text) override;
  std::string ListGetText(int row, int column) override;
  void ListDeleteRow(int row) override;
  int ListRowCount() override;
  void ListKeepSelectionVisible() override;
  void SortListByDifference(int n) override;
  void SelectFirstRow() override;
  void PumpMessages() override;
  void WaitUntil(const std::function<bool(int)>& ready) override;

  // The panes.
  // Shows records[position] on the left and its partner on the right; a
  // position outside records changes nothing. The texts change at once; the
  // pictures are decoded on another thread and shown when they arrive,
  // unless the panes have been given something else by then.
  void ShowPair(int position);
  // Whether the pictures of the last ShowPair are still being decoded.
  bool PairPending() const { return pairPending_; }
  // ShowPair of the first selected row's record (column 0), if a row is selected.
  void ShowSelectedPair();
  // Empties one side: picture and information text.
  void ClearPane(int side);
  // Has one pane painted again from its slot.
  void DrawPane(int side);

  // Folder edit boxes <-> settings.
  void CopyFoldersIn();
  void CopyFoldersOut();
  // Enables the move-folder controls exactly when GotoTrashBox is off and
  // names the label after the choice.
  void ApplyMoveFolderState();

  Settings& settings() { return settings_; }
  SearchSession& session() { return session_; }
  const ImageSlots& imageSlots() const { return slots_; }
  ResultList& list() { return *list_; }
  PreviewPane& pane(int side) { return side == kLeftSide ? *leftPane_ : *rightPane_; }
  QPushButton& startButton() { return *start_; }
  QLineEdit& searchEdit() { return *searchEdit_; }
  QLineEdit& moveEdit() { return *moveEdit_; }
  // Texts as set, line breaks included (the labels show them without CRs).
  // During a search the labels and panes show them at most once a display
  // frame, and exactly at its end.
  const std::string& InfoTextOf(int side) const { return infoTexts_[side == kLeftSide ? 0 : 1]; }
  const std::string& StatusText() const { return statusText_; }

 public slots:
  // Start button: runs a search, or asks whether to stop the one under way.
  void OnStartClicked();
  void ChooseSearchFolder();
  void ChooseMoveFolder();
  void ShowAbout();

  // Moves the left (0) or right (1) image of the first selected row into the
  // move folder or the trash, after asking when EnableConfirm is on; the list
  // forgets the image and the selection moves one row on. A pane click or
  // the keys Q / W. Does nothing while a search runs.
  virtual void MoveImage(int side);
  // Opens the left (0) or right (1) image of the first selected row with the
  // desktop's program for its type (keys A / S). Does nothing while a
  // search runs.
  virtual void OpenInViewer(int side);
  // The options dialog; the move-folder controls follow the trash choice
  // afterwards, whether it was confirmed or not.
  virtual void OpenOptions();
  // The batch-move dialog over the current list. Not while a search runs.
  virtual void OpenBatchMove();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  // Shows what the status text, the information texts and the panes were
  // given since the last time; FlushPaintsIfDue only once a display frame
  // has passed while a search runs.
  void FlushPaints();
  void FlushPaintsIfDue();
  void ShowLoadedPair(PairLoader::Result result);
  // Empties a side without dropping the pair being decoded.
  void ClearSide(int side);
  // Puts a picture into a side's slot; the one it held is freed off this thread.
  void PutSlot(int side, std::shared_ptr<const DecodedImage> image);
  void ApplyLayout();
  void SaveOnClose();
  // A message with the application's name as caption and no icon.
  void Tell(std::string_view text);
  // The question before a single move (Yes / No); true for Yes.
  bool ConfirmMove(std::string_view text);

  Settings settings_;
  // The language of the widgets, chosen by the settings before they are made.
  std::unique_ptr<WindowLanguage> language_;
  PluginFlags plugins_;
  SearchSession session_;
  ImageSlots slots_;
  AskHook askHook_;
  InformHook informHook_;
  OpenHook openHook_;
  std::string infoTexts_[2];
  std::string statusText_;
  bool closePending_ = false;  // a close arrived during a search
  bool saved_ = false;

  // While a search runs the labels and panes are painted at most once a
  // display frame: a search shows files far faster than anyone can read.
  bool coalescing_ = false;
  bool statusDirty_ = false;
  bool infoDirty_[2] = {false, false};
  bool paneDirty_[2] = {false, false};    // the slot's picture is not handed to the pane yet
  bool repaintDirty_[2] = {false, false};
  std::chrono::steady_clock::time_point lastFlush_{};
  std::chrono::steady_clock::time_point lastPump_{};

  std::unique_ptr<PairLoader> pairLoader_;
  std::uint64_t pairTicket_ = 0;
  bool pairPending_ = false;

  QWidget* client_ = nullptr;
  QLabel* searchLabel_ = nullptr;
  QLineEdit* searchEdit_ = nullptr;      // 1001
  QPushButton* searchBrowse_ = nullptr;  // 1002
  QLabel* moveLabel_ = nullptr;          // 1024
  QLineEdit* moveEdit_ = nullptr;        // 1013
  QPushButton* moveBrowse_ = nullptr;    // 1014
  ResultList* list_ = nullptr;           // 1000
  QPushButton* options_ = nullptr;       // 1016
  QPushButton* start_ = nullptr;         // 1005
  QLabel* status_ = nullptr;             // 1009
  QLabel* leftInfo_ = nullptr;           // 1003
  QLabel* rightInfo_ = nullptr;          // 1008
  PreviewPane* leftPane_ = nullptr;      // 1004
  PreviewPane* rightPane_ = nullptr;     // 1010
  QPushButton* batchMove_ = nullptr;     // 1035
};

}  // namespace norvane::ui
