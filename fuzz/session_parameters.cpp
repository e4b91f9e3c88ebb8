// The session parameters a child reads from its standard input: the input goes through a real
// pipe (length word and body as the parent writes them); whatever is accepted must encode again
// and decode to the same message, and its session state (1018) is offered to a secure and a
// legacy session over a connection that goes nowhere, which then take one more chunk.
#include "api/net/LegacySession.h"
#include "api/net/PollReactor.h"
#include "api/net/SecureSession.h"
#include "app/CommandLine.h"
#include "app/ParameterPipe.h"
#include "util/Assert.h"

#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace kestel;

class NowhereConnection final : public IConnection {
public:
  const std::string& address() const override { return address_; }
  uint32_t port() const override { return 8291; }
  void connect(const std::string&, uint32_t) override {}
  void close(CloseMode, const std::string&) override { closed_ = true; }
  nv::message describe() const override { return {}; }
  void addReceiver(uint8_t, IChannelReceiver*) override {}
  void removeReceiver(uint8_t, IChannelReceiver*) override {}
  void send(uint8_t, const uint8_t*, size_t) override {}
  void addListener(EventListener*) override {}
  void removeListener(EventListener*) override {}
  std::vector<std::pair<std::string, std::string>> textDescription(bool) override { return {}; }
  bool adopt(const nv::message&) override { return false; }
  bool isUp() const override { return !closed_; }
  bool isClosed() const override { return closed_; }

private:
  std::string address_;
  bool closed_ = false;
};

void offerSessionState(const nv::message& parameters) {
  nv::message state = parameters.get(param::kLooperState);
  if (state.empty())
    return;
  static const uint8_t chunk[] = {0, 16, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  PollReactor reactor(PollReactor::Clock::Manual);
  auto connection = makeRef<NowhereConnection>();
  auto secure = makeRef<SecureSession>(reactor, *connection, SessionHooks{});
  if (secure->adopt(state))
    secure->receive(6, chunk, sizeof chunk);
  secure->stop();
  auto legacy = makeRef<LegacySession>(reactor, *connection, SessionHooks{});
  if (legacy->adopt(state))
    legacy->receive(5, chunk, sizeof chunk);
  legacy->stop();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 60000) // written before it is read: stay within what a pipe holds
    return 0;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0)
    return 0;
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fds[1], data + done, size - done);
    if (n <= 0)
      break;
    done += size_t(n);
  }
  ::close(fds[1]);
  nv::message m = readSessionParameters(fds[0]);
  ::close(fds[0]);
  (void)decodeSessionParameters(ByteSpan(data, size));
  if (m.empty())
    return 0;
  offerSessionState(m);
  Bytes again;
  KESTEL_ASSERT(m.flatten(again), "fuzz/session_parameters");
  auto back = decodeSessionParameters(again);
  KESTEL_ASSERT(back.ok() && *back == m, "fuzz/session_parameters");
  return 0;
}
