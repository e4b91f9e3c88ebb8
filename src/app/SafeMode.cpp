#include "app/SafeMode.h"

#include "api/net/Events.h"
#include "api/wire/Vocabulary.h"
#include "app/ReplyCall.h"

namespace kestel {
namespace {

const Path kHistoryPath{kHistoryHandler};

} // namespace

class SafeMode::Hooks final : public IHandlerHooks {
public:
  explicit Hooks(SafeMode& owner) : owner_(owner) {}
  void onRequest(IHandler*, const nv::message& message) override { owner_.onMessage(message); }
  void onUnmatchedReply(IHandler*, const nv::message&, uint32_t) override {}

private:
  SafeMode& owner_;
};

SafeMode::SafeMode(std::function<void(bool on)> toggled, ChangeLog* log)
    : toggled_(std::move(toggled)), log_(log), hooks_(std::make_unique<Hooks>(*this)),
      handler_(createHandler(hooks_.get())) {}

SafeMode::~SafeMode() { handler_->detach(); }

void SafeMode::enable() {
  if (on_)
    return;
  setState(true, kNoSafeMode);
  auto reply =
      makeRef<ReplyCall>(alive_, [this](const nv::message& m) { onReply(CMD_SAFEMODE_ON, m); });
  ++waiting_;
  handler_->request(CMD_SAFEMODE_ON, kHistoryPath, nv::message(), reply.get(), 0);
}

void SafeMode::disable() {
  if (!on_)
    return;
  if (id_ == kNoSafeMode) {
    // Switched off before the router answered: the id it sends is released at once.
    setState(false, kNoSafeMode);
    return;
  }
  release(id_);
}

void SafeMode::release(uint32_t id) {
  nv::message release;
  release.set(STD_ID, id);
  auto reply =
      makeRef<ReplyCall>(alive_, [this](const nv::message& m) { onReply(CMD_SAFEMODE_OFF, m); });
  ++waiting_;
  handler_->request(CMD_SAFEMODE_OFF, kHistoryPath, std::move(release), reply.get(), 0);
}

void SafeMode::onReply(uint32_t command, const nv::message& reply) {
  --waiting_;
  bool failed = isError(reply);
  if (command == CMD_SAFEMODE_ON) {
    if (!on_ || id_ != kNoSafeMode) {
      if (!failed && reply.has(STD_ID) && reply.get(STD_ID) != id_)
        release(reply.get(STD_ID)); // switched off meanwhile
      return;
    }
    if (failed || !reply.has(STD_ID)) {
      setState(false, kNoSafeMode);
      showError(kSafeModeFailedText, reply);
      return;
    }
    setState(true, reply.get(STD_ID));
    return;
  }
  if (failed) {
    if (on_)
      showError(kSafeModeOffFailedText, reply);
    return;
  }
  if (on_ && id_ != kNoSafeMode)
    setState(false, kNoSafeMode);
}

void SafeMode::onMessage(const nv::message& message) {
  uint32_t command = message.get(SYS_CMD);
  std::vector<uint32_t> from = message.get(SYS_FROM);
  bool fromHistory = !from.empty() && from.front() == kHistoryHandler;
  if (id_ == kNoSafeMode || !fromHistory ||
      (command != CMD_SAFEMODE_TAKEN && command != CMD_SAFEMODE_OFF))
    return;
  setState(false, kNoSafeMode);
  showError("Info", kSafeModeReleasedText);
}

void SafeMode::setState(bool on, uint32_t id) {
  bool changed = on != on_;
  on_ = on;
  id_ = id;
  if (log_)
    log_->setSafeMode(id);
  if (changed && toggled_)
    toggled_(on);
}

UndoRedo::UndoRedo(ChangeLog* log) : log_(log) {}
UndoRedo::~UndoRedo() = default;

void UndoRedo::undo() { send(CMD_UNDO); }
void UndoRedo::redo() { send(CMD_REDO); }

void UndoRedo::send(uint32_t command) {
  ++waiting_;
  auto reply =
      makeRef<ReplyCall>(alive_, [this, command](const nv::message& m) { onReply(command, m); });
  getGlobalHandler()->request(command, kHistoryPath, nv::message(), reply.get(), 0);
}

void UndoRedo::onReply(uint32_t command, const nv::message& reply) {
  --waiting_;
  if (isError(reply))
    showError(command == CMD_UNDO ? kUndoFailedText : kRedoFailedText, reply);
  else if (log_)
    command == CMD_UNDO ? log_->markUndone() : log_->markRedone();
  if (answered_)
    answered_();
}

} // namespace kestel
