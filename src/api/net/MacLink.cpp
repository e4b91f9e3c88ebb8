#include "api/net/MacLink.h"

#include "api/net/MacPacket.h"
#include "util/Log.h"

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestel {

namespace {

constexpr size_t kReadsPerSignal = 64;

class UdpMacLink final : public MacLink {
public:
  explicit UdpMacLink(Reactor& reactor) : reactor_(reactor) {}
  ~UdpMacLink() override { close(); }

  bool open(const NetInterface& interface, Receive onReceive, Failure onFailure) override {
    close();
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      logf("could not bind socket ", errno);
      return false;
    }
    int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
      logLine("could not make socket broadcast");
      ::close(fd);
      return false;
    }
    // Without this the limited broadcast would leave by the routing table, whichever
    // interface is being tried.
    ::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, interface.name.c_str(),
                 socklen_t(interface.name.size()));
    sockaddr_in any{};
    any.sin_family = AF_INET;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
      logLine("could not bind socket");
      ::close(fd);
      return false;
    }
    return take(fd, std::move(onReceive), std::move(onFailure));
  }

  void send(ByteSpan datagram, uint32_t broadcast) override {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kMacUdpPort);
    to.sin_addr.s_addr = broadcast;
    if (fd_ < 0 || ::sendto(fd_, datagram.data(), datagram.size(), 0,
                            reinterpret_cast<sockaddr*>(&to), sizeof to) < 0)
      logLine("sendto failed");
  }

  void close() override {
    if (int fd = release(); fd >= 0)
      ::close(fd);
  }

  int descriptor() const override { return fd_; }

  int release() override {
    if (fd_ >= 0)
      reactor_.unwatch(fd_);
    onReceive_ = nullptr;
    onFailure_ = nullptr;
    return std::exchange(fd_, -1);
  }

  bool adopt(int fd, Receive onReceive, Failure onFailure) override {
    int type = 0;
    socklen_t length = sizeof type;
    if (fd < 0 || ::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_DGRAM)
      return false;
    close();
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return take(fd, std::move(onReceive), std::move(onFailure));
  }

private:
  bool take(int fd, Receive onReceive, Failure onFailure) {
    fd_ = fd;
    onReceive_ = std::move(onReceive);
    onFailure_ = std::move(onFailure);
    reactor_.watch(fd_, IoRead, [this](unsigned int events) { onEvent(events); });
    return true;
  }

  void onEvent(unsigned int events) {
    if (events & IoError) {
      int error = 0;
      socklen_t length = sizeof error;
      ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length);
      if (error != 0 && onFailure_) {
        onFailure_(error);
        return;
      }
    }
    std::vector<Bytes> batch;
    for (size_t i = 0; i < kReadsPerSignal && fd_ >= 0; ++i) {
      Bytes d(kMacMaxDatagram);
      ssize_t n = ::recv(fd_, d.data(), d.size(), MSG_TRUNC);
      if (n < 0)
        break;
      if (static_cast<size_t>(n) > d.size())
        continue; // larger than any packet of ours
      d.resize(static_cast<size_t>(n));
      batch.push_back(std::move(d));
    }
    if (!batch.empty() && onReceive_) {
      Receive receive = onReceive_; // the callback may close the link
      receive(batch);
    }
  }

  Reactor& reactor_;
  int fd_ = -1;
  Receive onReceive_;
  Failure onFailure_;
};

} // namespace

std::unique_ptr<MacLink> createUdpMacLink(Reactor& reactor) {
  return std::make_unique<UdpMacLink>(reactor);
}

} // namespace kestel
