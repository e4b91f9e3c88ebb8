// Copies files between the user's disk and the router's file store through the file handler
// (2, 2): one queue per direction, one file at a time, one request outstanding, pieces of at
// most 32168 bytes. Uploads create the remote folders of a dropped folder tree (command 6) before
// the files in them. Progress texts ("Uploading %s (%s of %s%s)", "Downloading %s (...)") are
// refreshed every 300 ms of the reactor's clock with the rate since the previous text.
//
// Router errors end the queue with "Could not upload file" / "Could not download file" and the
// router's error, shown through showError; a router that sends more than asked for, more or
// fewer bytes than its list announced, or fails in the middle of a file ends it the same way.
// Local failures are logged: a download skips the file ("could not open local file <path>",
// "WriteFile failed" with "write error: <reason>"), an upload ends. A download that does not
// complete never leaves a partial file behind (see DownloadFile). Runs on the reactor's thread.
#pragma once

#include "api/net/Reactor.h"
#include "app/DownloadFile.h"
#include "app/RequestPort.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestel {

struct TransferEntry {
  enum class Kind { File, Folder };
  Kind kind = Kind::File;
  // The router's name of the file or folder.
  std::string remote;
  // Upload: the file to read. Download: the local folder the file or folder goes into.
  std::string local;
  // Download: the local name, one safe component.
  std::string localName;
  // Upload: the file's size when queued. Download: the size the router's list announced.
  uint64_t size = 0;
  bool sizeKnown = false;
};

// A file or folder of the router's list.
struct RemoteFile {
  std::string name; // the whole name ("flash/a/b.txt")
  bool folder = false;
  uint64_t size = 0;
};

// Queues `paths` for upload under `remotePrefix` (empty, or ending with "/"): a file as prefix
// + its base name; a folder as a folder entry (prefix + its name) followed by its entries, with
// the prefix extended by the folder's name and "/". Symbolic links to folders are not followed
// (no loops); paths that cannot be read are skipped and named in `skipped`.
std::vector<TransferEntry> planUpload(const std::vector<std::string>& paths,
                                      const std::string& remotePrefix,
                                      std::vector<std::string>* skipped = nullptr);

// Queues the router's files `selected` (names as in `list`) for download into `localFolder`:
// a file under its base name, a folder with every file and folder the list holds below it.
// Names that are not safe on disk ("..", NUL, an empty part) are skipped and named in `skipped`.
// A selected name missing from the list is queued with an unknown size.
std::vector<TransferEntry> planDownload(const std::vector<std::string>& selected,
                                        const std::vector<RemoteFile>& list,
                                        const std::string& localFolder,
                                        std::vector<std::string>* skipped = nullptr);

class FileTransfer {
public:
  enum class Direction { Upload, Download };
  static constexpr uint32_t kProgressMs = 300;
  static constexpr const char* kUploadFailed = "Could not upload file";
  static constexpr const char* kDownloadFailed = "Could not download file";
  static constexpr const char* kAlreadyRunning = "already in progress";
  // A download whose router answers this many reads in a row with nothing ends.
  static constexpr unsigned kMaxEmptyPieces = 1000;

  // `changed` hears after every new status text, after each file and at the end.
  FileTransfer(Reactor& reactor, RequestPort& port, Direction direction,
               std::function<void()> changed = {});
  ~FileTransfer();
  FileTransfer(const FileTransfer&) = delete;
  FileTransfer& operator=(const FileTransfer&) = delete;

  // Starts the queue. False (and "already in progress" in the log and lastRefusal()) while a
  // queue of this transfer runs.
  bool start(std::vector<TransferEntry> queue);
  // Gives up the current file (command 5), closes and (download) removes the local file, and
  // drops the rest of the queue. Nothing when not running.
  void cancel();

  Direction direction() const { return direction_; }
  // "Uploading Files" or "Downloading Files".
  const char* title() const;
  bool running() const { return running_; }
  // The latest progress text; empty before the first.
  const std::string& status() const { return status_; }
  // The text the queue ended with when it failed ("Could not download file - ... (n)"), empty
  // otherwise.
  const std::string& error() const { return error_; }
  // Local problems met (skipped downloads), in order.
  const std::vector<std::string>& problems() const { return problems_; }
  const std::string& lastRefusal() const { return refusal_; }
  uint64_t bytesDone() const { return doneTotal_ + doneFile_; }
  uint64_t bytesTotal() const { return total_; }
  size_t filesDone() const { return filesDone_; }
  size_t index() const { return index_; }
  size_t queueSize() const { return queue_.size(); }

private:
  void next();
  void openUpload(const TransferEntry& entry);
  void openDownload(const TransferEntry& entry);
  void onOpened(const nv::message& reply);
  void sendPiece();
  void onWritten(const nv::message& reply);
  void readPiece();
  void onRead(const nv::message& reply);
  void fileDone();
  void skipFile(const std::string& problem);
  // Ends the queue with a router error (or one made up for a misbehaving router).
  void failRouter(const nv::message& reply);
  void failLocal(const std::string& what, const std::string& reason);
  void misbehaved(const std::string& what);
  void closeFile();
  void end();
  void tick();
  void notify();
  std::string progressText(uint64_t rate) const;

  Reactor& reactor_;
  RequestPort& port_;
  Direction direction_;
  std::function<void()> changed_;

  std::vector<TransferEntry> queue_;
  size_t index_ = 0;
  uint32_t transfer_ = 0xFFFFFFFF; // STD_ID from the router; none = 0xFFFFFFFF
  uint32_t pending_ = 0;           // request id awaiting its reply, 0 for none
  uint64_t doneFile_ = 0, doneTotal_ = 0, total_ = 0;
  uint64_t fileSize_ = 0;
  unsigned emptyPieces_ = 0;
  size_t filesDone_ = 0;
  int localFd_ = -1; // upload: the file being read
  DownloadFile download_;
  bool running_ = false;

  Reactor::TimerId timer_ = 0;
  int64_t lastTick_ = 0;
  uint64_t lastBytes_ = 0;
  std::string status_;
  std::string error_;
  std::string refusal_;
  std::vector<std::string> problems_;
};

} // namespace kestel
