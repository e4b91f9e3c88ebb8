// The local copy of a router's descriptor files, one per connection attempt: fetches the index,
// picks the cache folder for the router's version, decides which files changed, downloads them
// one at a time and loads the set into the descriptor model. The listener is called (with no
// arguments) after every event; finished() tells when the downloads are over and error() why
// they failed. Runs on the reactor's thread; owned through Reference.
#pragma once

#include "app/DescriptorIndex.h"
#include "app/FileFetcher.h"
#include "app/FileSink.h"
#include "util/Base.h"

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace kestel {

// What load() leaves besides the services: the icon sheets and the packages the router has.
struct LoadedDescriptors {
  std::string icons16, icons24, icons32; // cached paths; empty when the router has none
  std::set<std::string, std::less<>> packages;
  bool hasPackage(std::string_view name) const { return packages.count(name) != 0; }
};

class DescriptorCache final : public IBase {
public:
  using Listener = std::function<void()>;

  // `appData` is the folder below which the per-version cache folders live.
  explicit DescriptorCache(std::string appData);

  void setListener(Listener listener) { listener_ = std::move(listener); }
  // The fetcher used for the index and the files (the cache keeps it).
  void setFetcher(std::unique_ptr<FileFetcher> fetcher) { fetcher_ = std::move(fetcher); }

  // Fetches the index, then every changed file.
  void start();
  // The same from index bytes fetched earlier (by the instance that handed the session over):
  // logs "needs to download <bytes>", then fetches every changed file.
  void startFromIndex(ByteSpan index);
  // Cancels the fetcher and drops the current sink.
  void cancel();

  // Parses index bytes, sets the folder (creating it) and the entries. Returns the error text.
  std::string parseIndex(ByteSpan index);
  // Marks the entries whose cached copy carries the announced checksum value and sums the
  // rest into total().
  void decide();
  static const char* indexName() { return "list"; }
  // Takes a cache folder written earlier, without any index: every ".jg" or ".png" file there
  // whose checksum record is readable (so its download completed), the main document first.
  // False when the main document is not among them.
  bool adoptFolder(const std::string& folder);
  // Loads the main document, then the icon sheets' paths and every package document.
  [[nodiscard]] bool load();
  bool isIndexMissing() const { return indexMissing_; }

  bool finished() const { return finished_; }
  const std::string& error() const { return error_; }
  const std::vector<IndexEntry>& entries() const { return entries_; }
  const std::string& folder() const { return folder_; }
  const Bytes& indexBytes() const { return indexBuffer_.bytes(); }
  const LoadedDescriptors& loaded() const { return loaded_; }
  // Bytes of files completed so far, and to download in all.
  uint64_t done() const { return done_; }
  uint64_t total() const { return total_; }
  // Done plus what the current file has written.
  uint64_t bytesSoFar() const { return done_ + (current_ ? current_->bytesWritten() : 0); }
  // Names of the files downloaded by this run, in order.
  const std::vector<std::string>& downloaded() const { return downloaded_; }

  std::string cachedPath(const IndexEntry& entry) const { return folder_ + "/" + entry.name; }
  std::string recordPath(const IndexEntry& entry) const;

private:
  ~DescriptorCache() override;
  void onIndex();
  void next();
  void onFileEvent();
  void fail(std::string error);
  void notify();
  bool recordMatches(const IndexEntry& entry) const;
  void writeRecord(const IndexEntry& entry);

  std::string appData_;
  std::vector<IndexEntry> entries_;
  std::string folder_;
  std::unique_ptr<FileFetcher> fetcher_;
  Listener listener_;
  MemorySink indexBuffer_;
  std::unique_ptr<FileSink> current_;
  bool indexMissing_ = false;
  uint64_t done_ = 0;
  uint64_t total_ = 0;
  size_t position_ = 0;
  std::string error_;
  bool finished_ = false;
  std::vector<std::string> downloaded_;
  LoadedDescriptors loaded_;
};

// Reads a checksum record: the first line (at most 15 characters) holding one unsigned decimal
// number, blanks around it allowed. False when it holds anything else.
bool parseChecksumRecord(std::string_view text, uint32_t& value);

} // namespace kestel
