// The Hoplink steps the connect flow runs over a session logged in to an agent router (whose
// login name carried "+r"): attaching to the agent's overlay (command 9 to (127, 2), with the
// capability query of older agents), and reaching a target router through the agent by its MAC
// address (command 2001 to (2)); the reply's id becomes the session's route to the target, and
// the target's login request follows through it. Requests and replies pass through the
// functions given; each step ends in exactly one outcome with the loader's text.
#pragma once

#include "api/net/Reactor.h"
#include "api/wire/Message.h"
#include "util/Bytes.h"

#include <functional>
#include <string>

namespace kestel {

inline const std::vector<uint32_t> kHoplinkAttachHandler{127, 2};
inline constexpr uint32_t kHoplinkAttachCommand = 9;
inline const std::vector<uint32_t> kHoplinkConnectHandler{2};
inline constexpr uint32_t kHoplinkConnectCommand = 2001;
// Fields of the connect-through-agent request.
inline constexpr nv::raw_id kHoplinkTargetMac{4};
inline constexpr nv::bool_id kHoplinkSecure{6};
inline constexpr nv::string_id kHoplinkLogin{7};
inline constexpr nv::string_id kHoplinkPassword{8};
// The capability query's answer: the overlay is enabled.
inline constexpr nv::bool_id kHoplinkEnabled{1};

// The login name for an agent step.
std::string agentLoginName(const std::string& login);

// The address-book store's agent filter (command 7, string 11 = the agent; empty: no filter).
nv::message agentFilterCommand(const std::string& agentAddress);

struct HoplinkOutcome {
  bool ok = false;
  std::string text;              // the failure text; empty on success
  uint32_t agentId = 0xFFFFFFFF; // connect: the route to the target
  nv::message loginReply;        // connect: the target's login reply
};

class HoplinkStep {
public:
  using Post = std::function<void(const nv::message& message)>;
  using Done = std::function<void(const HoplinkOutcome& outcome)>;
  // Called with the target's id as soon as the agent has given it, before the target's login
  // request goes out: the session must route through it from then on.
  using SetRoute = std::function<void(uint32_t agentId)>;

  HoplinkStep(Reactor& reactor, Post post) : reactor_(reactor), post_(std::move(post)) {}
  ~HoplinkStep();
  HoplinkStep(const HoplinkStep&) = delete;
  HoplinkStep& operator=(const HoplinkStep&) = delete;

  // Attaches; failures: "Hoplink is not enabled on the router", "router does not support
  // Hoplink".
  void attach(Done done);
  // Reaches the router with MAC address `mac` through the agent and logs in to it; failures:
  // "wrong username or password", "could not start hoplink connection".
  void connectTarget(const Bytes& mac, const std::string& login, const std::string& password,
                     SetRoute setRoute, Done done);

  // Takes a message from the session; true when it was the reply this step waits for.
  bool onMessage(const nv::message& message);

private:
  enum class Waiting { Nothing, Attach, Capability, Connect, TargetLogin, LegacyChallenge };

  void request(Waiting what, const std::vector<uint32_t>& to, uint32_t command, nv::message m);
  void onReply(const nv::message& reply);
  void onAttachReply(const nv::message& reply);
  void onCapabilityReply(const nv::message& reply);
  void attached();
  void onConnectReply(const nv::message& reply);
  void onTargetLoginReply(const nv::message& reply);
  void finish(HoplinkOutcome outcome);
  void fail(std::string text);

  Reactor& reactor_;
  Post post_;
  Done done_;
  SetRoute setRoute_;
  Waiting waiting_ = Waiting::Nothing;
  uint32_t requestId_ = 0;
  Reactor::TimerId timer_ = 0;
  std::string login_;
  std::string password_;
  uint32_t agentId_ = 0xFFFFFFFF;
};

} // namespace kestel
