// A session file's dashboard: "dboard" and the applet records it names, read from whatever the
// file holds. Restoring never crashes, keeps one applet per listed record that exists (none of
// their menus exist here, so each carries its reason) and stores back the same list.
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "app/Dashboard.h"
#include "gen/ModelContext.h"
#include "util/Assert.h"

#include <cstddef>
#include <cstdint>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestel;
  PollReactor reactor(PollReactor::Clock::Manual);
  ReactorScope scope(reactor);
  ModelContext model;
  ModelScope modelScope(model);
  char path[] = "/tmp/kestel-fuzz-dboard-XXXXXX";
  int fd = ::mkstemp(path);
  if (fd < 0)
    return 0;
  bool written = ::write(fd, data, size) == ssize_t(size);
  ::close(fd);
  SettingsRegistry registry;
  if (written)
    registry.loadSettings(path);
  ::unlink(path);
  Dashboard dashboard(registry, reactor);
  dashboard.restore();
  std::vector<uint32_t> listed = unpackIds(registry.getSettings(0, nullptr, 0)->get(kDashboardKey));
  size_t present = 0;
  for (uint32_t id : listed)
    present += registry.getSettings(id, nullptr, 0) ? 1 : 0;
  KESTEL_ASSERT(dashboard.applets().size() == present, "fuzz/dashboard_records");
  for (const Dashboard::Applet& a : dashboard.applets())
    KESTEL_ASSERT(!a.feed && !a.problem.empty(), "fuzz/dashboard_records");
  return 0;
}
