#include "app/FileTransfers.h"

#include "miw/ConvertorText.h"

namespace kestel {

FileTransfers::FileTransfers(Reactor& reactor, RequestPort& port, std::function<void()> changed)
    : changed_(std::move(changed)), list_(port),
      upload_(reactor, port, FileTransfer::Direction::Upload,
              [this] {
                // The list shows what the uploads made once they are over.
                if (uploadRan_ && !upload_.running()) {
                  uploadRan_ = false;
                  refresh();
                }
                if (changed_)
                  changed_();
              }),
      download_(reactor, port, FileTransfer::Direction::Download, [this] {
        if (changed_)
          changed_();
      }) {}

void FileTransfers::refresh() {
  list_.fetch([this](std::vector<RemoteFile> files, std::string error) {
    files_ = std::move(files);
    listError_ = std::move(error);
    if (changed_)
      changed_();
  });
}

std::string FileTransfers::cell(size_t row, size_t column) const {
  if (row >= files_.size())
    return {};
  const RemoteFile& f = files_[row];
  if (column == 0)
    return f.name;
  return f.folder ? std::string() : bigBytesText(f.size);
}

std::string FileTransfers::uploadPrefix(const std::vector<size_t>& selectedRows) const {
  for (size_t row : selectedRows)
    if (row < files_.size() && files_[row].folder)
      return files_[row].name + "/";
  for (size_t row : selectedRows) {
    if (row >= files_.size())
      continue;
    size_t slash = files_[row].name.rfind('/');
    return slash == std::string::npos ? std::string() : files_[row].name.substr(0, slash + 1);
  }
  return {};
}

bool FileTransfers::upload(const std::vector<std::string>& paths,
                           const std::vector<size_t>& selectedRows) {
  if (upload_.running())
    return upload_.start({}); // refused: says "already in progress"
  std::vector<TransferEntry> queue = planUpload(paths, uploadPrefix(selectedRows));
  if (queue.empty())
    return false;
  uploadRan_ = true;
  return upload_.start(std::move(queue));
}

bool FileTransfers::download(const std::vector<size_t>& selectedRows, const std::string& folder) {
  if (download_.running())
    return download_.start({});
  std::vector<std::string> names;
  for (size_t row : selectedRows)
    if (row < files_.size())
      names.push_back(files_[row].name);
  std::vector<TransferEntry> queue = planDownload(names, files_, folder);
  if (queue.empty())
    return false;
  return download_.start(std::move(queue));
}

} // namespace kestel
