#include "app/FileTransfer.h"

#include "api/net/FileHandler.h"
#include "api/wire/Vocabulary.h"
#include "miw/ConvertorText.h"
#include "util/Bytes.h"
#include "util/Log.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace kestel {
namespace {

constexpr uint64_t kLargestFile = 0xFFFFFFFE; // sizes travel as u32; 0xFFFFFFFF means none

std::string baseName(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/')
    p.pop_back();
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

// The entries of a folder without "." and "..", sorted so queues are the same every time.
std::vector<std::string> folderEntries(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(path.c_str());
  if (!dir)
    return names;
  while (dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name != "." && name != "..")
      names.push_back(std::move(name));
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

void queueUpload(const std::string& path, const std::string& prefix, bool top,
                 std::vector<TransferEntry>& out, std::vector<std::string>* skipped) {
  struct stat link {
  }, target{};
  if (::lstat(path.c_str(), &link) != 0 || ::stat(path.c_str(), &target) != 0) {
    if (skipped)
      skipped->push_back(path);
    return;
  }
  std::string name = baseName(path);
  if (S_ISDIR(target.st_mode) && (top || !S_ISLNK(link.st_mode))) {
    TransferEntry folder;
    folder.kind = TransferEntry::Kind::Folder;
    folder.remote = prefix + name;
    folder.local = path;
    out.push_back(folder);
    for (const std::string& entry : folderEntries(path))
      queueUpload(path + "/" + entry, prefix + name + "/", false, out, skipped);
    return;
  }
  if (!S_ISREG(target.st_mode) || uint64_t(target.st_size) > kLargestFile) {
    if (skipped)
      skipped->push_back(path);
    return;
  }
  TransferEntry file;
  file.remote = prefix + name;
  file.local = path;
  file.size = uint64_t(target.st_size);
  file.sizeKnown = true;
  out.push_back(file);
}

// Splits a router name into its parts; false when a part is not safe on disk.
bool safeParts(const std::string& name, std::vector<std::string>& parts) {
  parts.clear();
  size_t at = 0;
  while (true) {
    size_t slash = name.find('/', at);
    parts.push_back(name.substr(at, slash == std::string::npos ? std::string::npos : slash - at));
    if (!isSafeComponent(parts.back()))
      return false;
    if (slash == std::string::npos)
      return true;
    at = slash + 1;
  }
}

} // namespace

std::vector<TransferEntry> planUpload(const std::vector<std::string>& paths,
                                      const std::string& remotePrefix,
                                      std::vector<std::string>* skipped) {
  std::vector<TransferEntry> out;
  for (const std::string& path : paths)
    queueUpload(path, remotePrefix, true, out, skipped);
  return out;
}

std::vector<TransferEntry> planDownload(const std::vector<std::string>& selected,
                                        const std::vector<RemoteFile>& list,
                                        const std::string& localFolder,
                                        std::vector<std::string>* skipped) {
  std::vector<TransferEntry> out;
  auto skip = [&](const std::string& name) {
    if (skipped)
      skipped->push_back(name);
  };
  for (const std::string& name : selected) {
    auto listed =
        std::find_if(list.begin(), list.end(), [&](const RemoteFile& f) { return f.name == name; });
    auto local = localNameOf(name);
    if (!local) {
      skip(name);
      continue;
    }
    TransferEntry top;
    top.remote = name;
    top.local = localFolder;
    top.localName = *local;
    if (listed == list.end() || !listed->folder) {
      top.sizeKnown = listed != list.end();
      top.size = top.sizeKnown ? listed->size : 0;
      out.push_back(top);
      continue;
    }
    top.kind = TransferEntry::Kind::Folder;
    out.push_back(top);
    // Everything below the folder, parents before their contents.
    std::string prefix = name + "/";
    std::vector<const RemoteFile*> below;
    for (const RemoteFile& f : list)
      if (f.name.size() > prefix.size() && f.name.compare(0, prefix.size(), prefix) == 0)
        below.push_back(&f);
    std::sort(below.begin(), below.end(),
              [](const RemoteFile* a, const RemoteFile* b) { return a->name < b->name; });
    std::vector<std::string> refused; // folders whose contents go with them
    for (const RemoteFile* f : below) {
      std::string relative = f->name.substr(prefix.size());
      bool inRefused = std::any_of(refused.begin(), refused.end(), [&](const std::string& r) {
        return f->name.compare(0, r.size() + 1, r + "/") == 0;
      });
      std::vector<std::string> parts;
      if (inRefused || !safeParts(relative, parts)) {
        skip(f->name);
        if (f->folder)
          refused.push_back(f->name);
        continue;
      }
      TransferEntry e;
      e.kind = f->folder ? TransferEntry::Kind::Folder : TransferEntry::Kind::File;
      e.remote = f->name;
      e.local = localFolder + "/" + *local;
      for (size_t i = 0; i + 1 < parts.size(); ++i)
        e.local += "/" + parts[i];
      e.localName = parts.back();
      e.size = f->folder ? 0 : f->size;
      e.sizeKnown = !f->folder;
      out.push_back(e);
    }
  }
  return out;
}

FileTransfer::FileTransfer(Reactor& reactor, RequestPort& port, Direction direction,
                           std::function<void()> changed)
    : reactor_(reactor), port_(port), direction_(direction), changed_(std::move(changed)) {}

FileTransfer::~FileTransfer() {
  changed_ = nullptr;
  cancel();
}

const char* FileTransfer::title() const {
  return direction_ == Direction::Upload ? "Uploading Files" : "Downloading Files";
}

bool FileTransfer::start(std::vector<TransferEntry> queue) {
  if (running_) {
    refusal_ = kAlreadyRunning;
    logf(title(), ": ", kAlreadyRunning);
    return false;
  }
  queue_ = std::move(queue);
  index_ = 0;
  doneFile_ = doneTotal_ = total_ = 0;
  filesDone_ = 0;
  error_.clear();
  status_.clear();
  problems_.clear();
  for (const TransferEntry& e : queue_)
    total_ += e.kind == TransferEntry::Kind::File ? e.size : 0;
  running_ = true;
  lastTick_ = reactor_.now();
  lastBytes_ = 0;
  timer_ = reactor_.addTimer(
      kProgressMs, [this] { tick(); }, true);
  next();
  return true;
}

void FileTransfer::cancel() {
  if (!running_)
    return;
  if (pending_)
    port_.forget(std::exchange(pending_, 0));
  closeFile();
  end();
}

void FileTransfer::closeFile() {
  if (transfer_ != 0xFFFFFFFF) {
    nv::message giveUp;
    giveUp.set(STD_ID, transfer_);
    port_.send(kFileHandler, kFileGiveUp, giveUp);
    transfer_ = 0xFFFFFFFF;
  }
  if (localFd_ >= 0)
    ::close(localFd_);
  localFd_ = -1;
  download_.discard();
}

void FileTransfer::end() {
  running_ = false;
  reactor_.removeTimer(std::exchange(timer_, 0));
  notify();
}

void FileTransfer::notify() {
  if (changed_)
    changed_();
}

std::string FileTransfer::progressText(uint64_t rate) const {
  // The current file, or after the end the last one.
  std::string name;
  for (size_t i = std::min(index_ + 1, queue_.size()); i > 0 && name.empty(); --i)
    if (queue_[i - 1].kind == TransferEntry::Kind::File)
      name = queue_[i - 1].remote;
  return std::string(direction_ == Direction::Upload ? "Uploading " : "Downloading ") + name +
         " (" + bigBytesText(bytesDone()) + " of " + bigBytesText(total_) +
         prefixedRateText(" at ", uint32_t(std::min<uint64_t>(rate, 0xFFFFFFFF))) + ")";
}

void FileTransfer::tick() {
  int64_t now = reactor_.now();
  uint64_t bytes = bytesDone();
  uint32_t rate = downloadRate(bytes - lastBytes_, uint64_t(now - lastTick_));
  lastTick_ = now;
  lastBytes_ = bytes;
  status_ = progressText(rate);
  notify();
}

// Moves through the queue until a file needs the router (or the queue ends).
void FileTransfer::next() {
  while (running_ && index_ < queue_.size()) {
    const TransferEntry& e = queue_[index_];
    doneFile_ = 0;
    if (e.kind == TransferEntry::Kind::Folder) {
      if (direction_ == Direction::Upload) {
        nv::message folder;
        folder.set(kFileName, e.remote);
        port_.send(kFileHandler, kFileMakeFolder, folder);
      } else {
        std::string path = e.local + "/" + e.localName;
        struct stat st {};
        if (::mkdir(path.c_str(), 0777) != 0 &&
            !(errno == EEXIST && ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) {
          // The files below it cannot go anywhere; they fail one by one as "could not open".
          std::string problem = "could not create local folder <" + path + ">";
          logf("ERROR: ", problem);
          problems_.push_back(problem);
        }
      }
      ++index_;
      continue;
    }
    if (direction_ == Direction::Upload)
      openUpload(e);
    else
      openDownload(e);
    return;
  }
  if (running_) {
    status_ = progressText(0);
    end();
  }
}

void FileTransfer::openUpload(const TransferEntry& e) {
  localFd_ = ::open(e.local.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (localFd_ < 0 || ::fstat(localFd_, &st) != 0 || !S_ISREG(st.st_mode) ||
      uint64_t(st.st_size) > kLargestFile) {
    std::string reason = localFd_ < 0 ? std::strerror(errno) : "not a file of at most 4 GiB";
    logf("ERROR: could not open local file <", e.local, ">: ", reason);
    return failLocal("could not open local file <" + e.local + ">", reason);
  }
  // The file may have changed since it was queued: the size it has now is the one sent.
  fileSize_ = uint64_t(st.st_size);
  total_ = total_ - std::min(total_, e.size) + fileSize_;
  nv::message open;
  open.set(kFileName, e.remote);
  open.set(kFileSize, uint32_t(fileSize_));
  pending_ = port_.request(kFileHandler, kFileOpenUpload, open,
                           [this](const nv::message& reply) { onOpened(reply); });
}

void FileTransfer::openDownload(const TransferEntry& e) {
  if (auto created = download_.create(e.local, e.localName); !created) {
    std::string path = e.local + "/" + e.localName;
    logf("ERROR: could not open local file <", path, ">: ", created.error().text);
    return skipFile("could not open local file <" + path + ">: " + created.error().text);
  }
  fileSize_ = e.size;
  emptyPieces_ = 0;
  nv::message open;
  open.set(kFileName, e.remote);
  pending_ = port_.request(kFileHandler, kFileOpenDownload, open,
                           [this](const nv::message& reply) { onOpened(reply); });
}

void FileTransfer::onOpened(const nv::message& reply) {
  pending_ = 0;
  if (isError(reply))
    return failRouter(reply);
  if (!reply.has(STD_ID) || reply.get(STD_ID) == 0xFFFFFFFF)
    return misbehaved("the router answered without a transfer id");
  transfer_ = reply.get(STD_ID);
  if (direction_ == Direction::Upload)
    sendPiece();
  else
    readPiece();
}

void FileTransfer::sendPiece() {
  uint64_t left = fileSize_ - doneFile_;
  Bytes piece(size_t(std::min<uint64_t>(left, kFilePieceBytes)));
  size_t have = 0;
  while (have < piece.size()) {
    ssize_t n = ::read(localFd_, piece.data() + have, piece.size() - have);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      std::string reason = n < 0 ? std::strerror(errno) : "the file became shorter";
      logf("ERROR: ReadFile failed: ", queue_[index_].local, ": ", reason);
      return failLocal("could not read local file <" + queue_[index_].local + ">", reason);
    }
    have += size_t(n);
  }
  bool last = doneFile_ + piece.size() == fileSize_;
  size_t length = piece.size();
  nv::message write;
  write.set(STD_ID, transfer_);
  write.set(kFilePiece, std::move(piece));
  write.set(kFileLast, last);
  pending_ = port_.request(kFileHandler, kFileWrite, write,
                           [this, length, last](const nv::message& reply) {
                             pending_ = 0;
                             if (isError(reply))
                               return failRouter(reply);
                             doneFile_ += length;
                             if (last) {
                               transfer_ = 0xFFFFFFFF; // the completing piece closed it
                               return fileDone();
                             }
                             sendPiece();
                           });
}

void FileTransfer::readPiece() {
  nv::message read;
  read.set(STD_ID, transfer_);
  read.set(kFilePieceSize, kFilePieceBytes);
  pending_ = port_.request(kFileHandler, kFileRead, read,
                           [this](const nv::message& reply) { onRead(reply); });
}

void FileTransfer::onRead(const nv::message& reply) {
  pending_ = 0;
  if (isError(reply))
    return failRouter(reply);
  const Bytes& piece = reply.get(kFilePiece);
  bool last = reply.get(kFileLast);
  if (last)
    transfer_ = 0xFFFFFFFF; // the router closed it itself
  if (piece.size() > kFilePieceBytes)
    return misbehaved("the router sent more than asked for");
  uint64_t after = doneFile_ + piece.size();
  const TransferEntry& e = queue_[index_];
  if (after > kLargestFile || (e.sizeKnown && after > e.size))
    return misbehaved("the router sent more than the file's size");
  if (last && e.sizeKnown && after != e.size)
    return misbehaved("the router sent fewer bytes than the file's size");
  emptyPieces_ = piece.empty() && !last ? emptyPieces_ + 1 : 0;
  if (emptyPieces_ >= kMaxEmptyPieces)
    return misbehaved("the router sends no data");
  if (!piece.empty()) {
    if (auto written = download_.write(piece.data(), piece.size()); !written) {
      logf("ERROR: WriteFile failed");
      logf("ERROR: write error: ", written.error().text);
      return skipFile("write error: " + written.error().text);
    }
  }
  doneFile_ = after;
  if (!last)
    return readPiece();
  if (auto committed = download_.commit(); !committed) {
    logf("ERROR: WriteFile failed");
    logf("ERROR: write error: ", committed.error().text);
    return skipFile("write error: " + committed.error().text);
  }
  fileDone();
}

void FileTransfer::fileDone() {
  if (localFd_ >= 0)
    ::close(localFd_);
  localFd_ = -1;
  doneTotal_ += doneFile_;
  doneFile_ = 0;
  ++filesDone_;
  ++index_;
  notify();
  next();
}

void FileTransfer::skipFile(const std::string& problem) {
  problems_.push_back(problem);
  closeFile();
  // What was counted for the file still counts as passed, so the total stays reachable.
  const TransferEntry& e = queue_[index_];
  doneTotal_ += std::max(doneFile_, e.size);
  doneFile_ = 0;
  ++index_;
  notify();
  next();
}

void FileTransfer::failRouter(const nv::message& reply) {
  const char* what = direction_ == Direction::Upload ? kUploadFailed : kDownloadFailed;
  unsigned int code = 0;
  std::string text;
  isError(reply, &code, &text);
  error_ = what + std::string(" - ") + getErrorDescription(code, text) + " (" +
           std::to_string(code & 0xFFF) + ")";
  std::string dump;
  reply.dump(dump);
  logf("ERROR: ", error_, " <", index_ < queue_.size() ? queue_[index_].remote : "", ">\n", dump);
  closeFile();
  showError(what, reply);
  end();
}

void FileTransfer::misbehaved(const std::string& what) {
  nv::message reply;
  reply.set(SYS_STATUS, STATUS_ERROR);
  reply.set(SYS_ERRNO, ERROR_FAILED);
  reply.set(SYS_ERRSTR, what);
  failRouter(reply);
}

void FileTransfer::failLocal(const std::string& what, const std::string& reason) {
  error_ = std::string(kUploadFailed) + " - " + what + ": " + reason;
  closeFile();
  showError(kErrorBoxTitle, error_);
  end();
}

} // namespace kestel
