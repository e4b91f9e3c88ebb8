// The small progress window of one transfer direction ("Uploading Files" or "Downloading
// Files"): the progress text, a bar of the queue's bytes, and Cancel. Closing it (or Cancel)
// gives up the current file and drops the rest of the queue.
#pragma once

#include "app/FileTransfer.h"

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace kestel::gui {

class TransferWindow final : public QWidget {
  Q_OBJECT
public:
  TransferWindow(FileTransfer& transfer, QWidget* parent = nullptr);

  // Shows the transfer's state; hides the window once the queue is over.
  void refresh();

  QLabel* label() const { return label_; }
  QProgressBar* bar() const { return bar_; }
  QPushButton* cancelButton() const { return cancel_; }

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  FileTransfer& transfer_;
  QLabel* label_;
  QProgressBar* bar_;
  QPushButton* cancel_;
};

} // namespace kestel::gui
