// The simulator's crash-report channel fed a hostile client's byte stream: the chunk framing with
// reports on channel 4 mixed with other channels, NUL bytes ending reports anywhere, and
// connections cut mid-report. The first byte picks the size of the writes; the rest is the
// stream. Every recorded report must be within the size bound and hold no NUL.
#include "api/net/PollReactor.h"
#include "sim/CrashReports.h"
#include "sim/SimServer.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace kestel;

struct Router {
  Router() { reports.install(server); }
  PollReactor reactor{PollReactor::Clock::Manual};
  sim::SimServer server{reactor};
  sim::CrashReports reports;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Router router;
  if (size < 1)
    return 0;
  size_t step = size_t(data[0]) * 4 + 1;
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0)
    return 0;
  size_t before = router.reports.reports().size();
  router.server.serve(fds[0], "fuzz");
  for (size_t pos = 1; pos < size && router.server.connectionCount() > 0; pos += step) {
    size_t n = std::min(step, size - pos);
    if (::send(fds[1], data + pos, n, MSG_NOSIGNAL) != ssize_t(n))
      break;
    router.reactor.runOnce(0);
  }
  ::close(fds[1]);
  for (int i = 0; i < 8 && router.server.connectionCount() > 0; ++i)
    router.reactor.runOnce(0);
  const auto& reports = router.reports.reports();
  for (size_t i = before; i < reports.size(); ++i)
    if (reports[i].text.size() > sim::CrashReports::kMaxReportBytes ||
        reports[i].text.find('\0') != std::string::npos)
      std::abort();
  return 0;
}
