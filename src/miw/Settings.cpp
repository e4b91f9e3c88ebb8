#include "miw/Settings.h"

#include "miw/SafeFile.h"
#include "util/Log.h"

#include <cerrno>
#include <unistd.h>

namespace kestel {

std::map<uint32_t, StringMap> parseSettingsFile(ByteSpan bytes) {
  std::map<uint32_t, StringMap> out;
  ByteReader in(bytes);
  StringMap record;
  while (readRecord(in, record, kSettingsRecordTexts) == RecordRead::Record) {
    uint32_t id = 0;
    if (!unpackData(record.get("id"), id) || id == kNoSettingsId) {
      logLine("WARNING: bad message id");
      continue;
    }
    out[id] = std::move(record);
  }
  out.try_emplace(0);
  return out;
}

Bytes formatSettingsFile(const std::map<uint32_t, StringMap>& settings) {
  Bytes out;
  for (const auto& [id, map] : settings) {
    StringMap record = map;
    record.set("id", packData(id));
    (void)writeRecord(out, record); // an unwritable field is logged and left out
  }
  return out;
}

uint32_t SettingsRegistry::registerSettings(StringMap settings, uint32_t flags) {
  uint32_t id = nextId_;
  while (id == kNoSettingsId || entries_.count(id)) {
    id = id >= kNoSettingsId - 1 ? 1 : id + 1;
    if (id == nextId_)
      return kNoSettingsId; // four billion maps: cannot happen before memory runs out
  }
  entries_[id] = Entry{std::move(settings), flags};
  nextId_ = id == kNoSettingsId - 1 ? 1 : id + 1;
  return id;
}

StringMap* SettingsRegistry::getSettings(uint32_t id, uint32_t* newId, uint32_t flags) {
  auto it = entries_.find(id);
  if (it != entries_.end()) {
    it->second.flags = flags;
    return &it->second.settings;
  }
  if (!newId)
    return nullptr;
  *newId = registerSettings({}, flags);
  return *newId == kNoSettingsId ? nullptr : &entries_[*newId].settings;
}

void SettingsRegistry::removeSettings(uint32_t id) { entries_.erase(id); }

uint32_t SettingsRegistry::flagsOf(uint32_t id) const {
  auto it = entries_.find(id);
  return it == entries_.end() ? 0 : it->second.flags;
}

bool SettingsRegistry::loadSettings(const std::string& path) {
  entries_.clear();
  nextId_ = 1;
  path_ = path;
  auto bytes = readWholeFile(path);
  if (!bytes) {
    if (isRegularFile(path) || ::access(path.c_str(), F_OK) == 0)
      logf("ERROR: could not read settings: ", bytes.error().text);
    entries_[0] = Entry{};
    return false;
  }
  for (auto& [id, map] : parseSettingsFile(*bytes))
    entries_[id] = Entry{std::move(map), 0};
  return true;
}

bool SettingsRegistry::saveSettings(const std::string& path) {
  storeAllSettings();
  std::string target = path.empty() ? path_ : path;
  if (target.empty())
    return false;
  path_ = target;
  std::string folder = parentFolder(target);
  auto made = makeFolders(folder);
  if (!made) {
    logf("ERROR: could not save settings: ", made.error().text);
    return false;
  }
  ::rmdir(target.c_str()); // an empty folder in the file's place would block the rename
  logf("saving settings to ", folder, "/viwXXXXXX... for ", target);
  std::map<uint32_t, StringMap> maps;
  for (const auto& [id, entry] : entries_)
    maps[id] = entry.settings;
  auto saved = saveFileAtomically(target, formatSettingsFile(maps), "viw");
  if (!saved) {
    logf("ERROR: could not save settings: ", saved.error().text);
    return false;
  }
  logLine("settings saved");
  return true;
}

void SettingsRegistry::registerPersistent(const void* window, IPersistent* saver) {
  persistent_[window] = saver;
}

void SettingsRegistry::unregisterPersistent(const void* window) { persistent_.erase(window); }

IPersistent* SettingsRegistry::getPersistent(const void* window) const {
  auto it = persistent_.find(window);
  return it == persistent_.end() ? nullptr : it->second;
}

void SettingsRegistry::storeAllSettings() {
  logLine("App::saveAllSettings");
  if (IPersistent* saver = getPersistent(mainWindow_)) {
    Entry& main = entries_[0];
    saver->saveState(main.settings, main.flags);
  }
  logLine("App::saveAllSettings done");
}

void SettingsRegistry::loadAllSettings() {
  StringMap* main = getSettings(0, nullptr, kMainWindowSettingsFlags);
  IPersistent* saver = getPersistent(mainWindow_);
  if (main && saver)
    saver->loadState(*main);
}

SettingsRegistry& settingsRegistry() {
  static SettingsRegistry registry;
  return registry;
}

} // namespace kestel
