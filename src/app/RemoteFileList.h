// The router's file list (the object map at (72)) read for the transfers: every file and folder
// with its whole name and size. Replies are router data: objects without a name are dropped,
// and a list that never ends is cut off at kMaxRemoteFiles entries.
#pragma once

#include "api/wire/Message.h"
#include "app/FileTransfer.h"
#include "app/RequestPort.h"

#include <functional>
#include <string>
#include <vector>

namespace kestel {

inline constexpr size_t kMaxRemoteFiles = 100000;
inline constexpr size_t kMaxPages = 10000;

// Appends the files of one page of the list to `out`. Returns the id to go on from
// (STD_GETALLID), 0xFFFFFFFF when the page was the last.
uint32_t readFileListPage(const nv::message& reply, std::vector<RemoteFile>& out);

// Fetches the whole list page by page; `done` gets the files, or the error text of the
// router's refusal with an empty list.
class RemoteFileList {
public:
  using Done = std::function<void(std::vector<RemoteFile> files, std::string error)>;
  explicit RemoteFileList(RequestPort& port) : port_(port) {}
  ~RemoteFileList() { cancel(); }
  RemoteFileList(const RemoteFileList&) = delete;
  RemoteFileList& operator=(const RemoteFileList&) = delete;

  void fetch(Done done);
  void cancel();
  bool busy() const { return pending_ != 0; }

private:
  void ask(uint32_t from);

  RequestPort& port_;
  Done done_;
  uint32_t pending_ = 0;
  std::vector<RemoteFile> files_;
  size_t pages_ = 0;
};

} // namespace kestel
