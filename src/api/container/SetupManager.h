// A setup manager walks a router-side wizard page by page. The setup object holds what the user
// entered; each step sends it with the router's page message (CMD_SETFORM, STD_PAGE,
// STD_PAGENO) and the router answers with the next page, an error, or STD_FINISHED. Pages
// already visited are kept by step, so going back and forward again re-shows them without
// asking the router. The manager shows nothing itself: its listeners get a report per step.
//
// Steps advance only through successful CMD_SETFORM replies or through the history; one
// CMD_SETFORM is in flight at a time, and its reply is dropped when the wizard was reset or moved
// back meanwhile.
#pragma once

#include "api/container/ContainerBase.h"
#include "api/container/GenericMap.h"
#include "api/object/Object.h"
#include "api/wire/Message.h"
#include "util/Base.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestel {

class SetupManager;

// The router's error code for a page it refuses but lets the user correct: the wizard stays open.
inline constexpr uint32_t kSetupRetryError = 0xFE0008;

class ISetupListener : public IBase {
public:
  // The wizard moved to another step (end clear, `text` the step's description: empty after a
  // reset) or ended (end set: `text` is the router's closing description or its error).
  // A refused page that may be corrected arrives with end clear and the error text.
  virtual void stepChanged(SetupManager& setup, bool end, const std::string& text) = 0;
};

class SetupManager final : public IBase, public ContainerBase {
public:
  // `factory` makes the setup object from an empty message (none: the wizard sends empty pages).
  SetupManager(IObjectFactory* factory, Path path);

  // Forgets every page and the request in flight, goes to step 0 (page 1) and reports it.
  void reset();
  // Goes one step back and reports it; nothing at step 0.
  void back();
  // With `reuse` and a later step visited before: moves to it and reports it without a request.
  // Otherwise sends the setup object with the current page to the router; nothing while a
  // page request is in flight, or when the command is missing or there is no connection.
  void next(bool reuse);
  // Run when the router finishes the wizard, before the listeners hear of it.
  void setFinishHook(std::function<void()> hook) { finishHook_ = std::move(hook); }
  void setCommand(uint32_t command) { setForm_ = CommandEntry{command, true, true}; }

  IObject* object() const { return object_.get(); }
  int step() const { return step_; }
  // The page number shown at `step` (the router's STD_PAGENO; page 1 at step 0).
  uint32_t pageAt(size_t step) const { return step < pages_.size() ? pages_[step] : 0; }
  // How many steps are known, visited ones after the current included.
  size_t stepCount() const { return pages_.size(); }
  // The description the router gave the page at `step` (empty at step 0).
  const std::string& descriptionAt(size_t step) const;
  // The router's page message of the current step.
  const nv::message& page() const { return pageMessages_[static_cast<size_t>(step_)]; }
  bool waiting() const { return bool(inFlight_); }

  void addListener(ISetupListener* listener) { listeners_.add(listener); }
  void removeListener(ISetupListener* listener) { listeners_.remove(listener); }

private:
  void onReply(const nv::message& reply);
  void report(bool end, const std::string& text);

  Reference<IObject> object_;
  CommandEntry setForm_;
  int step_ = 0;
  // By step: the page number, the router's description and its page message.
  std::vector<uint32_t> pages_;
  std::vector<std::string> descriptions_;
  std::vector<nv::message> pageMessages_;
  Reference<PendingReply> inFlight_;
  std::function<void()> finishHook_;
  ListenerList<ISetupListener> listeners_;
};

// A setup manager whose object `factory` makes, talking to `path` (ending at the first
// 0xFFFFFFFF). The wizard starts at step 0 on page 1.
Reference<SetupManager> createSetupManager(IObjectFactory* factory, const Path& path);
// The same with the descriptor model's factory function.
Reference<SetupManager> createSetupManager(ObjectFactoryFn factory, const Path& path);

} // namespace kestel
