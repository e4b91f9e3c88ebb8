// The settings registry: numbered string maps in which windows and tables keep their state, read
// from and written to one ".viw" file (the loader's "settings.cfg.viw" or a session file). The
// file is a sequence of string-map records, each carrying its own number in the field "id".
// Persistent savers (one per window) put a window's state into a map on demand. Saving goes
// through a temporary file in the target's folder, so a failed save leaves the old file whole.
#pragma once

#include "miw/StringMap.h"

#include <cstdint>
#include <map>
#include <string>

namespace kestel {

inline constexpr uint32_t kNoSettingsId = 0xFFFFFFFF;
// The flags loadAllSettings asks message 0 with.
inline constexpr uint32_t kMainWindowSettingsFlags = 16384;

// A window's state saver.
class IPersistent {
public:
  virtual ~IPersistent() = default;
  virtual void loadState(const StringMap& settings) = 0;
  virtual void saveState(StringMap& settings, uint32_t flags) = 0;
};

// The records of a settings file by id, as loadSettings reads them: records without a 4-byte
// "id" are dropped ("WARNING: bad message id"), reading stops at the first broken record (the
// reader's text is logged), and an empty id 0 is added when the file had none.
std::map<uint32_t, StringMap> parseSettingsFile(ByteSpan bytes);

// The file form of a registry: each map with "id" set to its number, in id order.
Bytes formatSettingsFile(const std::map<uint32_t, StringMap>& settings);

class SettingsRegistry {
public:
  // Registers `settings` under the first free id from the next one on (0xFFFFFFFF is never
  // used; after 0xFFFFFFFE the search restarts at 1) and returns it.
  uint32_t registerSettings(StringMap settings, uint32_t flags);
  // The map of `id` with `flags` recorded on it. When there is none: with `newId`, an empty map
  // is registered and its id stored there; without, null.
  StringMap* getSettings(uint32_t id, uint32_t* newId, uint32_t flags);
  void removeSettings(uint32_t id);
  // The flags last recorded on `id` (0 for none).
  uint32_t flagsOf(uint32_t id) const;
  size_t size() const { return entries_.size(); }

  // Clears the registry, remembers `path` and reads the file. Returns false when the file
  // cannot be read (a missing file is not logged, other failures are); the registry then holds
  // only an empty id 0.
  bool loadSettings(const std::string& path);
  // storeAllSettings, then writes every map to `path` (empty: the remembered path; with neither
  // nothing is written and false returned). Creates the target's folder when missing. Returns
  // false, logging an "ERROR:" line, when the file could not be replaced; the old file stays.
  bool saveSettings(const std::string& path = {});
  const std::string& path() const { return path_; }

  void registerPersistent(const void* window, IPersistent* saver);
  void unregisterPersistent(const void* window);
  IPersistent* getPersistent(const void* window) const;
  // The window whose state lives in id 0; its saver also writes "winsize" and "pos".
  void setMainWindow(const void* window) { mainWindow_ = window; }
  const void* mainWindow() const { return mainWindow_; }

  // Saves the main window's state into id 0.
  void storeAllSettings();
  // Loads the main window's state from id 0 (asked with kMainWindowSettingsFlags).
  void loadAllSettings();

private:
  struct Entry {
    StringMap settings;
    uint32_t flags = 0;
  };
  std::map<uint32_t, Entry> entries_;
  std::map<const void*, IPersistent*> persistent_;
  const void* mainWindow_ = nullptr;
  std::string path_;
  uint32_t nextId_ = 1;
};

// The process-wide registry, made on first use.
SettingsRegistry& settingsRegistry();

} // namespace kestel
