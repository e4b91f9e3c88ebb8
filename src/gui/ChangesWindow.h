// The session's "Changes" window: every change this client committed (time, menu, object, the
// fields as "old -> new", the router's answer), the changes made in one safe-mode session under
// a header of their own, kept current as changes are made and answered. "Undo" and "Redo" ask the
// router to undo or redo its last change, "Revert this change" commits the selected change's old
// values as a new change, and "Export as script..." saves the kestel-cli commands that make the
// changes again on another router. What is shown and offered is decided in app/ChangeList.
#pragma once

// The core's headers before Qt's: ObjectMap declares emit(), which Qt's keyword of that name
// breaks.
#include "app/ChangeList.h"
#include "app/SafeMode.h"

#include <QWidget>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace kestel::gui {

inline constexpr const char* kChangesWindowName = "kestel_changes";

class ChangesWindow final : public QWidget {
public:
  // `time` formats the changes' times (default: local time). The window takes `history`'s
  // answered callback (UndoRedo::setAnswered) while it lives.
  ChangesWindow(ChangeLog& log, UndoRedo& history, QWidget* parent = nullptr,
                ChangeTimeText time = localChangeTime);
  ~ChangesWindow() override;

  // The selected change's number (0: none, or a header).
  size_t selectedChange() const;
  void selectChange(size_t number);
  // As the buttons do; revert and export without asking, into `path`.
  void revertSelected();
  bool exportTo(const QString& path);

  QTreeWidget* list() const { return list_; }
  QPushButton* undoButton() const { return undo_; }
  QPushButton* redoButton() const { return redo_; }
  QPushButton* revertButton() const { return revert_; }
  QPushButton* exportButton() const { return export_; }
  // The last failure of a revert or an export; empty after a success.
  QString problem() const;

private:
  void refresh();
  void updateButtons();
  void askExportPath();
  void tell(const std::string& text);

  ChangeLog& log_;
  UndoRedo& history_;
  ChangeTimeText time_;
  ChangeLog::ListenerHandle listening_;
  QTreeWidget* list_ = nullptr;
  QPushButton* undo_ = nullptr;
  QPushButton* redo_ = nullptr;
  QPushButton* revert_ = nullptr;
  QPushButton* export_ = nullptr;
  QLabel* problem_ = nullptr;
};

} // namespace kestel::gui
