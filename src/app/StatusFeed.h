// Where the session window's status bar gets its values: the router object held for (24, 0), its
// clock ("Time", "Date"), and the one held for (24, 2), its resources ("CPU", "Memory",
// "Uptime"). The feed uses the holder registered for each path when there is one, else makes it
// from the descriptor item served there (read again every second unless the item refreshes by
// itself); a router whose descriptors have no such item leaves those fields empty.
#pragma once

#include "api/container/Holder.h"
#include "app/SessionTexts.h"
#include "gen/CType.h"

#include <functional>
#include <vector>

namespace kestel {

class StatusFeed {
public:
  static inline const std::vector<uint32_t> kClockPath{24, 0};
  static inline const std::vector<uint32_t> kResourcesPath{24, 2};
  static constexpr uint32_t kRefreshMs = 1000;

  // `nowSeconds` is the session's monotonic clock; `changed` hears every new value.
  StatusFeed(StatusBar& bar, std::function<int64_t()> nowSeconds, std::function<void()> changed);
  ~StatusFeed();
  StatusFeed(const StatusFeed&) = delete;
  StatusFeed& operator=(const StatusFeed&) = delete;

  // Finds or makes the two holders and reads them; the number of sources found (0 to 2).
  int start();
  // Takes the held objects' values into the status bar.
  void update();
  // The descriptor item served at `path`; null when the descriptors have none.
  static CItem* itemAt(const std::vector<uint32_t>& path);

private:
  class Listener;
  struct Source {
    CItem* item = nullptr;
    Reference<ObjectHolder> holder;
  };
  void follow(Source& source, const std::vector<uint32_t>& path);
  std::string text(const Source& source, const char* field) const;

  StatusBar& bar_;
  std::function<int64_t()> now_;
  std::function<void()> changed_;
  Reference<Listener> listener_;
  Source clock_, resources_;
};

} // namespace kestel
