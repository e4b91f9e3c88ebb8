// The router file window's logic, without the screen: the router's file list (fetched again
// after each upload), "Upload..." and dropped files and folders queued under the selected
// folder, "Download" of the selected rows into a chosen folder, and the two queues (one per
// direction) that the progress windows show. Runs on the reactor's thread.
#pragma once

#include "app/FileTransfer.h"
#include "app/RemoteFileList.h"

#include <functional>
#include <string>
#include <vector>

namespace kestel {

class FileTransfers {
public:
  inline static const char* const kColumns[] = {"File Name", "Size"};

  // `changed` hears when the list, a queue or a progress text changed.
  FileTransfers(Reactor& reactor, RequestPort& port, std::function<void()> changed);

  // Fetches the router's file list again.
  void refresh();
  const std::vector<RemoteFile>& files() const { return files_; }
  // Why the last fetch failed; empty when it did not.
  const std::string& listError() const { return listError_; }
  // The text of a cell of the list (column 0 "File Name", 1 "Size"; empty for a folder's size).
  std::string cell(size_t row, size_t column) const;

  // Where uploads go: the selected folder's name and "/" when the selection holds a folder, the
  // folder of the first selected file otherwise, else the top.
  std::string uploadPrefix(const std::vector<size_t>& selectedRows) const;
  // Queues local files and folders for upload; false (nothing queued) while uploads run or
  // when no path could be read.
  bool upload(const std::vector<std::string>& paths, const std::vector<size_t>& selectedRows);
  // Queues the selected rows for download into `folder`; false while downloads run or when the
  // selection holds nothing to download.
  bool download(const std::vector<size_t>& selectedRows, const std::string& folder);

  FileTransfer& uploads() { return upload_; }
  FileTransfer& downloads() { return download_; }

private:
  std::function<void()> changed_;
  RemoteFileList list_;
  std::vector<RemoteFile> files_;
  std::string listError_;
  FileTransfer upload_;
  FileTransfer download_;
  bool uploadRan_ = false;
};

} // namespace kestel
