// How running instances find each other before an upgrade replaces the program: every loader
// binds one Unix datagram socket in a folder private to the user ($XDG_RUNTIME_DIR/kestel, or
// /tmp/kestel-<uid> when that is unset; either must be a folder of this user that no one else
// may enter), named "<process id>.<number>". Messages are one byte:
//   0  census: every other instance answers the sender with 1, without waiting
//   1  an answer: the receiver counts one more running instance
//   2  every instance other than the sender quits
// Sockets left behind by instances that died are removed when found (at open and when a send
// to them is refused). Anything else that arrives is dropped. Runs on the reactor's thread.
#pragma once

#include "api/net/Reactor.h"
#include "util/Expected.h"

#include <functional>
#include <memory>
#include <string>

namespace kestel {

inline constexpr uint8_t kCensusAsk = 0;
inline constexpr uint8_t kCensusAnswer = 1;
inline constexpr uint8_t kCensusQuit = 2;
// How long a census waits for answers.
inline constexpr uint32_t kCensusWaitMs = 1000;

// The census folder for this user, created 0700 when missing; fails (logged "ERROR:") when it
// cannot be made or is not private to the user.
Expected<std::string> censusFolder();
// The same check and creation for a given folder.
Expected<void> ensurePrivateFolder(const std::string& folder);

class InstanceCensus {
public:
  // `quit` runs when another instance asks this one to quit.
  static Expected<std::unique_ptr<InstanceCensus>> open(Reactor& reactor, std::string folder,
                                                        std::function<void()> quit);
  ~InstanceCensus(); // closes and removes its socket
  InstanceCensus(const InstanceCensus&) = delete;
  InstanceCensus& operator=(const InstanceCensus&) = delete;

  // Asks every other instance, and after kCensusWaitMs calls `done` with the number that
  // answered (logged as "active windows=<n>"). A census started while one runs replaces it.
  void count(std::function<void(unsigned int)> done);
  // Tells every other instance to quit.
  void closeOthers();

  const std::string& path() const { return path_; }

private:
  InstanceCensus(Reactor& reactor, std::string folder, std::function<void()> quit);
  Expected<void> bind();
  void sweep();
  void broadcast(uint8_t value);
  void onReadable();

  Reactor& reactor_;
  std::string folder_;
  std::string path_;
  std::function<void()> quit_;
  int fd_ = -1;
  unsigned int answers_ = 0;
  Reactor::TimerId timer_ = 0;
  std::function<void(unsigned int)> done_;
};

} // namespace kestel
