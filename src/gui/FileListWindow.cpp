#include "gui/FileListWindow.h"

#include "gui/Toolkit.h"
#include "gui/TransferWindow.h"

#include <QAbstractTableModel>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>

#include <set>

namespace kestel::gui {

// The list as Qt's views want it; the texts come from FileTransfers.
class FileListModel final : public QAbstractTableModel {
public:
  explicit FileListModel(FileTransfers& transfers, QObject* parent)
      : QAbstractTableModel(parent), transfers_(transfers) {}
  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : int(transfers_.files().size());
  }
  int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 2; }
  QVariant data(const QModelIndex& index, int role) const override {
    if (role == Qt::TextAlignmentRole && index.column() == 1)
      return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
      return {};
    return qs(transfers_.cell(size_t(index.row()), size_t(index.column())));
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section > 1)
      return {};
    return tr(FileTransfers::kColumns[section]);
  }
  void reset() {
    beginResetModel();
    endResetModel();
  }

private:
  FileTransfers& transfers_;
};

FileListWindow::FileListWindow(Reactor& reactor, RequestPort& port, QWidget* parent)
    : QWidget(parent), transfers_(reactor, port, [this] { changed(); }) {
  setObjectName(kFileListWindowName);
  setWindowTitle(tr("Files"));
  setAcceptDrops(true);
  model_ = new FileListModel(transfers_, this);
  table_ = new QTableView(this);
  table_->setModel(model_);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setColumnWidth(0, 320);
  upload_ = new QPushButton(tr("Upload..."), this);
  download_ = new QPushButton(tr("Download"), this);
  connect(upload_, &QPushButton::clicked, this, &FileListWindow::askUpload);
  connect(download_, &QPushButton::clicked, this, &FileListWindow::askDownload);
  status_ = new QLabel(this);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(upload_);
  buttons->addWidget(download_);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(buttons);
  layout->addWidget(table_, 1);
  layout->addWidget(status_);
  uploadWindow_ = new TransferWindow(transfers_.uploads(), this);
  downloadWindow_ = new TransferWindow(transfers_.downloads(), this);
  transfers_.refresh();
}

// The transfers give up their files as they go, telling no one.
FileListWindow::~FileListWindow() = default;

TransferWindow* FileListWindow::progressWindow(FileTransfer::Direction direction) const {
  return direction == FileTransfer::Direction::Upload ? uploadWindow_ : downloadWindow_;
}

void FileListWindow::changed() {
  model_->reset();
  status_->setText(qs(transfers_.listError()));
  for (TransferWindow* w : {uploadWindow_, downloadWindow_})
    if (w)
      w->refresh();
}

std::vector<size_t> FileListWindow::selectedRows() const {
  std::set<size_t> rows;
  for (const QModelIndex& index : table_->selectionModel()->selectedIndexes())
    rows.insert(size_t(index.row()));
  return {rows.begin(), rows.end()};
}

void FileListWindow::uploadPaths(const std::vector<std::string>& paths) {
  if (transfers_.upload(paths, selectedRows())) {
    uploadWindow_->show();
    uploadWindow_->refresh();
  }
}

void FileListWindow::downloadTo(const std::string& folder) {
  if (transfers_.download(selectedRows(), folder)) {
    downloadWindow_->show();
    downloadWindow_->refresh();
  }
}

// The dialogs are opened with open(): no nested event loop runs while they are up.
void FileListWindow::askUpload() {
  auto* dialog = new QFileDialog(this, tr("Upload File"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setFileMode(QFileDialog::ExistingFiles);
  connect(dialog, &QFileDialog::filesSelected, this, [this](const QStringList& files) {
    std::vector<std::string> paths;
    for (const QString& f : files)
      paths.push_back(ss(f));
    uploadPaths(paths);
  });
  dialog->open();
}

void FileListWindow::askDownload() {
  if (selectedRows().empty())
    return;
  auto* dialog = new QFileDialog(this, tr("Select Download Folder:"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setFileMode(QFileDialog::Directory);
  dialog->setOption(QFileDialog::ShowDirsOnly);
  connect(dialog, &QFileDialog::fileSelected, this,
          [this](const QString& folder) { downloadTo(ss(folder)); });
  dialog->open();
}

std::vector<std::string> FileListWindow::droppedPaths(const QMimeData& data) {
  std::vector<std::string> paths;
  for (const QUrl& url : data.urls())
    if (url.isLocalFile())
      paths.push_back(ss(url.toLocalFile()));
  return paths;
}

void FileListWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!droppedPaths(*event->mimeData()).empty())
    event->acceptProposedAction();
}

bool FileListWindow::drop(const QMimeData& data) {
  std::vector<std::string> paths = droppedPaths(data);
  if (paths.empty())
    return false;
  uploadPaths(paths);
  return true;
}

void FileListWindow::dropEvent(QDropEvent* event) {
  if (drop(*event->mimeData()))
    event->acceptProposedAction();
}

} // namespace kestel::gui
