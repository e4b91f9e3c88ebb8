// Named views and table window records as the settings file stores them: any bytes parse without
// crashing, what is kept writes back to the same bytes' meaning, and window records name each
// pane once with the active one among them.
#include "miw/NamedViews.h"
#include "miw/TablePaneState.h"
#include "util/Assert.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestel;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  ViewList views = parseViews(bytes);
  KESTEL_ASSERT(parseViews(formatViews(views)) == views, "fuzz/named_views");

  StringMap record;
  size_t half = size / 2;
  record.set("panes", std::string(bytes.substr(0, half)));
  record.set("active", std::string(bytes.substr(half)));
  TableWindowState state = loadWindowState(record);
  std::vector<uint32_t> sorted = state.panes;
  std::sort(sorted.begin(), sorted.end());
  KESTEL_ASSERT(std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end(),
                "fuzz/named_views");
  KESTEL_ASSERT(state.panes.empty()
                    ? state.active == kNoId
                    : std::count(state.panes.begin(), state.panes.end(), state.active) == 1,
                "fuzz/named_views");
  return 0;
}
