// The router's values the session window's title shows: its identity (handler 22, 2: string 1)
// and, from its resources (22, 4), the version (string 2), architecture name (string 6) and
// board name (string 7). Both are read once with CMD_GET through the global handler; the title
// is told after each answer, so it grows as they arrive. A refused or unanswered request leaves
// its values empty (the title keeps its short form without an identity).
#pragma once

#include "api/net/Looper.h"
#include "app/SessionTexts.h"

#include <functional>
#include <memory>

namespace kestel {

class RouterIdentity {
public:
  static inline const Path kIdentityPath{22, 2};
  static inline const Path kResourcesPath{22, 4};
  static constexpr uint32_t kTimeoutMs = 10000;

  // `changed` is told the title's values after each answer.
  RouterIdentity(SessionTitle title, std::function<void(const SessionTitle&)> changed);
  ~RouterIdentity();
  RouterIdentity(const RouterIdentity&) = delete;
  RouterIdentity& operator=(const RouterIdentity&) = delete;

  void start();
  const SessionTitle& title() const { return title_; }
  // Answers still awaited.
  int waiting() const { return waiting_; }

private:
  void ask(const Path& path, std::function<void(const nv::message&)> read);

  SessionTitle title_;
  std::function<void(const SessionTitle&)> changed_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  int waiting_ = 0;
};

} // namespace kestel
