// The router's default-configuration note: a router still running the configuration it was
// shipped with says so, and the session window shows the note once at the start. The note is
// read with CMD_GET from the handler of api/wire/StatusVocabulary.h: its note (empty or an error
// reply: nothing to show) and the script that made the configuration. "Remove Configuration"
// sends the removal command to the same handler; the router answers once it has cleared the
// configuration.
#pragma once

#include "api/net/Looper.h"
#include "api/wire/StatusVocabulary.h"

#include <functional>
#include <memory>
#include <string>

namespace kestel {

inline constexpr const char* kDefaultConfigTitle = "Nimbalux Default Configuration";
// Follows the router's note in the dialog.
inline constexpr const char* kDefaultConfigExplanation =
    "This router still runs the configuration it came with. \"Show Script...\" opens the "
    "commands that configuration was made from, so you can read what it sets up before you "
    "change anything. \"Remove Configuration\" clears it completely: the router keeps running "
    "with no addresses, rules or services of its own and you configure it from scratch. \"OK\" "
    "keeps the configuration as it is.";
inline constexpr const char* kRemoveConfigFailedText = "Could not remove configuration";

struct DefaultConfigNote {
  std::string note, script;
};

class DefaultConfig {
public:
  static inline const Path kPath{status::kDefaultConfigPath[0], status::kDefaultConfigPath[1]};
  static constexpr nv::string_id kNote = status::kNote;
  static constexpr nv::string_id kScript = status::kScript;
  static constexpr uint32_t kTimeoutMs = 10000;

  DefaultConfig();
  ~DefaultConfig();
  DefaultConfig(const DefaultConfig&) = delete;
  DefaultConfig& operator=(const DefaultConfig&) = delete;

  // Asks for the note; `offered` hears it only when the router has one.
  void ask(std::function<void(const DefaultConfigNote&)> offered);
  // Asks the router to clear its configuration; a refusal is shown in an error box. `done`
  // hears whether it was cleared.
  void remove(std::function<void(bool removed)> done = nullptr);

private:
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace kestel
