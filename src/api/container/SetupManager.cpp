#include "api/container/SetupManager.h"

#include "api/object/Packer.h"
#include "api/wire/Vocabulary.h"
#include "util/Log.h"

namespace kestel {

SetupManager::SetupManager(IObjectFactory* factory, Path path)
    : ContainerBase(std::move(path)), object_(factory ? factory->create(nv::message()) : nullptr),
      setForm_{CMD_SETFORM, true, true}, pages_{1}, descriptions_(1), pageMessages_(1) {}

const std::string& SetupManager::descriptionAt(size_t step) const {
  static const std::string none;
  return step < descriptions_.size() ? descriptions_[step] : none;
}

void SetupManager::reset() {
  cancel(inFlight_);
  step_ = 0;
  pages_.assign(1, 1);
  descriptions_.assign(1, std::string());
  pageMessages_.assign(1, nv::message());
  report(false, std::string());
}

void SetupManager::back() {
  if (step_ <= 0)
    return;
  cancel(inFlight_); // the answer to a page we left no longer applies
  --step_;
  report(false, descriptions_[static_cast<size_t>(step_)]);
}

void SetupManager::next(bool reuse) {
  if (inFlight_)
    return;
  if (reuse && static_cast<size_t>(step_) + 1 < pages_.size()) {
    ++step_;
    report(false, descriptions_[static_cast<size_t>(step_)]);
    return;
  }
  if (!setForm_.exists()) {
    logLine("WARNING: setup page not sent: the wizard has no page command");
    return;
  }
  nv::message page = pageMessages_[static_cast<size_t>(step_)];
  if (object_ && object_->getPacker())
    object_->getPacker()->pack(page, object_.get());
  nv::message msg;
  msg.set(STD_PAGE, page);
  msg.set(STD_PAGENO, pages_[static_cast<size_t>(step_)]);
  inFlight_ = request(setForm_.command, std::move(msg),
                      [this](const nv::message& reply) { onReply(reply); });
}

void SetupManager::onReply(const nv::message& reply) {
  Reference<SetupManager> keep(this);
  inFlight_ = nullptr;
  unsigned int code = 0;
  std::string error;
  if (isError(reply, &code, &error)) {
    report(code != kSetupRetryError, error.empty() ? "failed" : error);
    return;
  }
  if (reply.get(nv::bool_id(STD_FINISHED), false)) {
    if (finishHook_)
      finishHook_();
    report(true, reply.get(STD_DESCR));
    return;
  }
  size_t from = static_cast<size_t>(step_);
  nv::message page = pageMessages_[from];
  if (reply.has(STD_PAGE)) {
    page = reply.get(STD_PAGE);
    if (object_ && object_->getPacker())
      object_->getPacker()->unpack(page, object_.get());
  }
  size_t to = from + 1;
  pages_.resize(to);
  pages_.push_back(reply.get(STD_PAGENO, 0));
  descriptions_.resize(to);
  descriptions_.push_back(reply.get(STD_DESCR));
  pageMessages_.resize(to);
  pageMessages_.push_back(std::move(page));
  step_ = static_cast<int>(to);
  report(false, descriptions_[to]);
}

void SetupManager::report(bool end, const std::string& text) {
  Reference<SetupManager> keep(this);
  listeners_.dispatch(nullptr, [&](ISetupListener& l) { l.stepChanged(*this, end, text); });
}

Reference<SetupManager> createSetupManager(IObjectFactory* factory, const Path& path) {
  return makeRef<SetupManager>(factory, path);
}

Reference<SetupManager> createSetupManager(ObjectFactoryFn factory, const Path& path) {
  return createSetupManager(createFunctionFactory(factory).get(), path);
}

} // namespace kestel
