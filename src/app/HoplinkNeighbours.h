// The "Hoplink Neighbors" list of an attached agent session: asks the agent for a neighbour list
// (command 1 to (127, 3), whose reply's STD_ID names the list), then fetches that list every
// 1000 ms (CMD_GETALL with STD_ID) and keeps it as a plain list with change notices, for the
// loader's tab (a container adapter wraps it later). Requests go out through the function given;
// replies come in through onMessage().
#pragma once

#include "api/net/Reactor.h"
#include "api/wire/Message.h"

#include <functional>
#include <string>
#include <vector>

namespace kestel {

inline const std::vector<uint32_t> kHoplinkNeighbourHandler{127, 3};
inline constexpr uint32_t kHoplinkNeighbourStart = 1;
inline constexpr uint32_t kHoplinkRefreshMs = 1000;
// The most entries kept from one reply; an agent cannot make the list grow past it.
inline constexpr size_t kMaxHoplinkNeighbours = 1024;

// Record keys of a Hoplink neighbour.
namespace hoplink_key {
inline constexpr nv::raw_id kAddress{1}; // MAC address, 6 bytes
inline constexpr nv::u32_id kCost{2};
inline constexpr nv::u32_id kHops{3};
inline constexpr nv::string_id kPath{4};
inline constexpr nv::u32_id kL2Mtu{5};
inline constexpr nv::string_id kIdentity{6};
inline constexpr nv::string_id kVersion{7};
inline constexpr nv::string_id kBoard{8};
inline constexpr nv::bool_id kActive{9};
} // namespace hoplink_key

const std::vector<std::string>& hoplinkNeighbourColumns();
// The column texts of one record; the address shows as MAC text.
std::vector<std::string> hoplinkNeighbourTexts(const nv::message& record);

class HoplinkNeighbourList {
public:
  using Post = std::function<void(const nv::message& message)>;
  // Told after every fetch that changed the list.
  using Changed = std::function<void()>;

  HoplinkNeighbourList(Reactor& reactor, Post post) : reactor_(reactor), post_(std::move(post)) {}
  ~HoplinkNeighbourList() { stop(); }
  HoplinkNeighbourList(const HoplinkNeighbourList&) = delete;
  HoplinkNeighbourList& operator=(const HoplinkNeighbourList&) = delete;

  // Logs "hoplink discovery started" and asks for the list.
  void start(Changed changed);
  // Stops refreshing; the list stays as it was.
  void stop();
  // True when the message was a reply to this list's requests.
  bool onMessage(const nv::message& message);

  const std::vector<nv::message>& list() const { return list_; }
  uint32_t listId() const { return listId_; }

private:
  void request(uint32_t command, nv::message m);
  void fetch();

  Reactor& reactor_;
  Post post_;
  Changed changed_;
  uint32_t listId_ = 0xFFFFFFFF;
  uint32_t requestId_ = 0;
  uint32_t pendingCommand_ = 0;
  Reactor::TimerId refreshTimer_ = 0;
  std::vector<nv::message> list_;
};

} // namespace kestel
