// The router's file window: the file list ("File Name", "Size") in a table view, "Upload..."
// (a file dialog titled "Upload File", several files), "Download" (asks for the folder with
// "Select Download Folder:"), and files and folders dropped on the list from the desktop's file
// manager (URLs of local files). Each direction's queue shows in its own progress window. The
// logic lives in app/FileTransfers; this class only connects it to Qt.
#pragma once

#include "app/FileTransfers.h"

#include <QWidget>

#include <memory>

class QLabel;
class QPushButton;
class QTableView;
class QMimeData;

namespace kestel::gui {

class FileListModel;
class TransferWindow;

inline constexpr const char* kFileListWindowName = "nimbalux_files";

class FileListWindow final : public QWidget {
  Q_OBJECT
public:
  FileListWindow(Reactor& reactor, RequestPort& port, QWidget* parent = nullptr);
  ~FileListWindow() override;

  // As the buttons do, without the dialogs: uploads `paths`, downloads the selection.
  void uploadPaths(const std::vector<std::string>& paths);
  void downloadTo(const std::string& folder);
  // The local paths a drop of `data` would upload (local file URLs only).
  static std::vector<std::string> droppedPaths(const QMimeData& data);
  // Uploads what a drop of `data` holds; false when it holds no local file.
  bool drop(const QMimeData& data);

  FileTransfers& transfers() { return transfers_; }
  QTableView* table() const { return table_; }
  QPushButton* uploadButton() const { return upload_; }
  QPushButton* downloadButton() const { return download_; }
  TransferWindow* progressWindow(FileTransfer::Direction direction) const;

protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

private:
  void changed();
  void askUpload();
  void askDownload();
  std::vector<size_t> selectedRows() const;

  FileTransfers transfers_;
  FileListModel* model_ = nullptr;
  QTableView* table_ = nullptr;
  QPushButton* upload_ = nullptr;
  QPushButton* download_ = nullptr;
  QLabel* status_ = nullptr;
  TransferWindow* uploadWindow_ = nullptr;
  TransferWindow* downloadWindow_ = nullptr;
};

} // namespace kestel::gui
