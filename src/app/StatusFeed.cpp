#include "app/StatusFeed.h"

#include "api/container/DescriptorContainers.h"
#include "app/FieldText.h"
#include "app/MenuCatalog.h"
#include "gen/Service.h"
#include "miw/ConvertorTime.h"

#include <algorithm>

namespace kestel {

class StatusFeed::Listener final : public IHolderListener {
public:
  explicit Listener(StatusFeed* owner) : owner_(owner) {}
  void detach() { owner_ = nullptr; }
  void holderChanged(ObjectHolder&) override {
    if (owner_)
      owner_->update();
  }

private:
  StatusFeed* owner_;
};

StatusFeed::StatusFeed(StatusBar& bar, std::function<int64_t()> nowSeconds,
                       std::function<void()> changed)
    : bar_(bar), now_(std::move(nowSeconds)), changed_(std::move(changed)),
      listener_(makeRef<Listener>(this)) {}

StatusFeed::~StatusFeed() {
  listener_->detach();
  for (Source* s : {&clock_, &resources_})
    if (s->holder)
      s->holder->removeListener(listener_.get());
}

CItem* StatusFeed::itemAt(const std::vector<uint32_t>& path) {
  CItem* found = nullptr;
  forEachType([&](CType& type, CService& service) {
    if (found || type.kind() != TypeKind::Item || !type.completed() || !service.offered())
      return;
    // A type's path ends at 0xFFFFFFFF.
    const std::vector<uint32_t>& ids = type.pathIds();
    auto end = std::find(ids.begin(), ids.end(), 0xFFFFFFFFu);
    if (std::equal(ids.begin(), end, path.begin(), path.end()))
      found = static_cast<CItem*>(&type);
  });
  return found;
}

void StatusFeed::follow(Source& source, const std::vector<uint32_t>& path) {
  source.item = itemAt(path);
  if (!source.item)
    return;
  source.holder = getObjectHolder(path);
  if (!source.holder) {
    source.holder = createObjectHolder(*source.item);
    if (source.holder && source.holder->refreshInterval() == 0)
      source.holder->setRefresh(kRefreshMs, source.item->refreshFilter);
  }
  if (!source.holder) {
    source.item = nullptr;
    return;
  }
  source.holder->addListener(listener_.get());
  source.holder->refresh();
}

int StatusFeed::start() {
  follow(clock_, kClockPath);
  follow(resources_, kResourcesPath);
  update();
  return (clock_.item ? 1 : 0) + (resources_.item ? 1 : 0);
}

std::string StatusFeed::text(const Source& source, const char* field) const {
  if (!source.item || !source.holder || !source.holder->object())
    return {};
  const Slot* slot = findField(*source.item, field);
  return slot ? fieldText(*source.holder->object(), *slot) : std::string();
}

void StatusFeed::update() {
  if (clock_.item)
    bar_.setClock(text(clock_, "Time"), text(clock_, "Date"));
  if (resources_.item) {
    uint32_t uptime = 0;
    std::string up = text(resources_, "Uptime");
    if (!up.empty() && parseInterval(up, 1, uptime))
      bar_.setResources(text(resources_, "CPU"), text(resources_, "Memory"), uptime, now_());
  }
  if (changed_)
    changed_();
}

} // namespace kestel
