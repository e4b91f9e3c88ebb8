#include "app/DescriptorCache.h"

#include "app/CacheFolders.h"
#include "gen/Service.h"
#include "miw/SafeFile.h"
#include "util/Log.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

namespace kestel {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Reads the checksum record at `path`; false when it is missing or unreadable.
bool readChecksumRecord(const std::string& path, uint32_t& value) {
  FILE* f = std::fopen(path.c_str(), "re");
  if (!f)
    return false;
  char line[16] = {};
  size_t n = std::fread(line, 1, 15, f);
  std::fclose(f);
  return parseChecksumRecord(std::string_view(line, n), value);
}

} // namespace

bool parseChecksumRecord(std::string_view text, uint32_t& value) {
  text = text.substr(0, std::min(text.find('\n'), size_t(15)));
  size_t at = 0;
  while (at < text.size() && isBlank(text[at]))
    ++at;
  uint64_t v = 0;
  size_t digits = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
    v = v * 10 + uint64_t(text[at++] - '0');
    if (v > 0xFFFFFFFFu)
      return false;
    ++digits;
  }
  while (at < text.size() && isBlank(text[at]))
    ++at;
  if (digits == 0 || at != text.size())
    return false;
  value = static_cast<uint32_t>(v);
  return true;
}

DescriptorCache::DescriptorCache(std::string appData) : appData_(std::move(appData)) {}

DescriptorCache::~DescriptorCache() { cancel(); }

void DescriptorCache::start() {
  finished_ = false;
  error_.clear();
  indexMissing_ = false;
  fetcher_->fetch(indexBuffer_, indexName(), false, [this] { onIndex(); });
}

void DescriptorCache::startFromIndex(ByteSpan index) {
  finished_ = false;
  error_.clear();
  indexMissing_ = false;
  indexBuffer_ = MemorySink();
  indexBuffer_.write(index.data(), index.size());
  if (std::string e = parseIndex(index); !e.empty())
    return fail(e);
  decide();
  logf("needs to download ", total_);
  next();
}

void DescriptorCache::cancel() {
  if (fetcher_)
    fetcher_->cancel();
  current_.reset();
}

std::string DescriptorCache::recordPath(const IndexEntry& entry) const {
  return folder_ + "/" + entry.name.substr(0, entry.name.find('.')) + ".crc";
}

std::string DescriptorCache::parseIndex(ByteSpan index) {
  Expected<std::vector<IndexEntry>> parsed = kestel::parseIndex(index);
  if (!parsed)
    return parsed.error().text;
  entries_ = std::move(*parsed);
  for (const IndexEntry& e : entries_) {
    if (e.name != kMainDocument)
      continue;
    folder_ = appData_ + "/" + e.version + "-" + std::to_string(e.crc);
    if (!ensureFolder(folder_))
      return "could not create file";
    return {};
  }
  return "no nimblux.jg found";
}

bool DescriptorCache::recordMatches(const IndexEntry& entry) const {
  struct stat st {};
  if (::stat(cachedPath(entry).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return false;
  uint32_t value = 0;
  return readChecksumRecord(recordPath(entry), value) && value == entry.crc;
}

void DescriptorCache::decide() {
  position_ = 0;
  total_ = 0;
  done_ = 0;
  for (IndexEntry& e : entries_) {
    e.upToDate = recordMatches(e);
    if (!e.upToDate)
      total_ += e.size;
  }
}

// The record replaces the old one atomically, so it is never half written; a failure is only
// logged: the file is then fetched again next time.
void DescriptorCache::writeRecord(const IndexEntry& entry) {
  std::string text = std::to_string(entry.crc) + "\n";
  if (!saveFileAtomically(recordPath(entry), asBytes(text), "crc"))
    logf("could not write ", recordPath(entry));
}

void DescriptorCache::onIndex() {
  if (!fetcher_->isDone())
    return notify();
  if (fetcher_->failed()) {
    indexMissing_ = fetcher_->errorCode() == 2;
    return fail("could not fetch index");
  }
  if (std::string e = parseIndex(indexBuffer_.bytes()); !e.empty())
    return fail(e);
  decide();
  next();
}

void DescriptorCache::next() {
  while (position_ < entries_.size() && entries_[position_].upToDate)
    ++position_;
  if (position_ >= entries_.size()) {
    finished_ = true;
    return notify();
  }
  const IndexEntry& e = entries_[position_];
  if (e.compressed)
    current_ = std::make_unique<GzipFileSink>();
  else
    current_ = std::make_unique<PlainFileSink>();
  if (!current_->open(cachedPath(e))) {
    current_.reset();
    return fail("could not create file");
  }
  fetcher_->fetch(*current_, e.name, e.compressed, [this] { onFileEvent(); });
}

void DescriptorCache::onFileEvent() {
  Reference<DescriptorCache> keep(this);
  notify();
  if (!fetcher_->isDone())
    return;
  bool ok = !fetcher_->failed() && current_ && current_->finished();
  std::string why = fetcher_->failed() ? fetcher_->errorText() : "corrupted data";
  current_.reset(); // an unfinished part file goes with it
  if (!ok)
    return fail(why);
  const IndexEntry& e = entries_[position_];
  writeRecord(e);
  downloaded_.push_back(e.name);
  done_ += e.size;
  ++position_;
  next();
}

void DescriptorCache::fail(std::string error) {
  error_ = std::move(error);
  finished_ = true;
  notify();
}

void DescriptorCache::notify() {
  if (listener_)
    listener_();
}

bool DescriptorCache::adoptFolder(const std::string& folder) {
  folder_ = folder;
  entries_.clear();
  std::vector<std::string> names;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    std::string name = it->path().filename().string();
    bool png = name.size() > 4 && name.compare(name.size() - 4, 4, ".png") == 0;
    bool jg = name.size() > 3 && name.compare(name.size() - 3, 3, ".jg") == 0;
    if ((png || jg) && isPlainFileName(name) && it->is_regular_file(ec))
      names.push_back(name);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return (a == kMainDocument) != (b == kMainDocument) ? a == kMainDocument : a < b;
  });
  for (const std::string& name : names) {
    IndexEntry e;
    e.name = name;
    if (!readChecksumRecord(recordPath(e), e.crc))
      continue;
    e.upToDate = true;
    entries_.push_back(std::move(e));
  }
  return !entries_.empty() && entries_.front().name == kMainDocument;
}

bool DescriptorCache::load() {
  loaded_ = {};
  if (!loadDescriptors(folder_ + "/" + kMainDocument))
    return false;
  for (const IndexEntry& e : entries_) {
    if (e.name == kMainDocument)
      continue;
    std::string path = cachedPath(e);
    if (e.name == "icons.png") {
      loaded_.icons16 = path;
      continue;
    }
    if (e.name == "icons24.png") {
      loaded_.icons24 = path;
      continue;
    }
    if (e.name == "icons32.png") {
      loaded_.icons32 = path;
      continue;
    }
    if (e.name.size() >= 4 && e.name.compare(e.name.size() - 4, 4, ".png") == 0)
      continue;
    if (!isPlainFileName(e.name))
      continue;
    loaded_.packages.insert(e.name.substr(0, e.name.rfind('.')));
    if (!loadDescriptors(path))
      return false;
  }
  return true;
}

} // namespace kestel
