#include "gui/SessionDesktop.h"

#include "gui/Desktop.h"

#include <algorithm>

namespace kestel::gui {

class SessionDesktop::Producer final : public IWindowProducer {
public:
  Producer(SessionDesktop& owner, std::string key) : owner_(&owner), key_(std::move(key)) {}
  void detach() { owner_ = nullptr; }
  IManagedWindow* createWindow() override {
    if (!owner_ || !owner_->desktop_)
      return nullptr;
    QString title;
    QWidget* content = owner_->maker_(key_, title);
    return content ? owner_->desktop_->makeWindow(content, title) : nullptr;
  }
  IManagedWindow* createWindow(void*) override { return createWindow(); }
  std::string type() const override { return kServiceWindowType; }
  std::string subtype() const override { return key_; }
  uint32_t objectId() const override { return kNoObjectId; }

private:
  SessionDesktop* owner_;
  std::string key_;
};

class SessionDesktop::Provider final : public IObjectLookup {
public:
  explicit Provider(SessionDesktop& owner) : owner_(owner) {}
  void lookupObject(const std::string& subtype, uint32_t, ObjectConsumer consumer) override {
    consumer(owner_.producer(subtype));
  }

private:
  SessionDesktop& owner_;
};

SessionDesktop::SessionDesktop(QWidget* parent, QMenu* windowsMenu,
                               std::function<QIcon(unsigned)> icons, Maker maker,
                               SettingsRegistry& settings)
    : desktop_(new Desktop(parent, windowsMenu, std::move(icons), settings)),
      maker_(std::move(maker)), provider_(std::make_unique<Provider>(*this)) {
  desktop_->manager().registerProvider(kServiceWindowType, provider_.get());
}

SessionDesktop::~SessionDesktop() {
  for (auto& [key, p] : producers_)
    p->detach();
  if (desktop_) {
    desktop_->manager().unregisterProvider(kServiceWindowType);
    delete desktop_.data();
  }
}

Desktop& SessionDesktop::desktop() const { return *desktop_; }
QWidget* SessionDesktop::widget() const { return desktop_.data(); }

SessionDesktop::Producer* SessionDesktop::producer(const std::string& key) {
  Reference<Producer>& p = producers_[key];
  if (!p)
    p = makeRef<Producer>(*this, key);
  return p.get();
}

QWidget* SessionDesktop::open(const std::string& key) {
  WindowManager& manager = desktop_->manager();
  Producer* made = producer(key);
  // A kind opened for the first time gets a useful size rather than its content's bare hint
  // (a table's hint shows three columns); later it gets back what the user gave it.
  const bool fresh = !manager.openedWindow(made, nullptr) &&
                     manager.placementId(kServiceWindowType, key) == kNoSettingsId;
  IManagedWindow* window = manager.openWindow(made, nullptr);
  if (!window)
    return nullptr;
  if (fresh) {
    const Rect area = desktop_->clientRect();
    const Size preferred = window->preferredSize();
    const Size size{std::max(preferred.width, area.width() * 2 / 3),
                    std::max(preferred.height, area.height() * 3 / 5)};
    // Centred at that size, keeping the manager's cascade past windows of the same kind.
    const Rect placed = window->bounds();
    const Rect plain = centredRect(preferred, area);
    Rect grown = centredRect(size, area);
    const int dx = placed.left - plain.left, dy = placed.top - plain.top;
    grown = {grown.left + dx, grown.top + dy, grown.right + dx, grown.bottom + dy};
    window->setBounds(fitIntoRect(grown, area, window->smallestSize()));
  }
  return static_cast<ManagedWindow*>(window)->widget();
}

void SessionDesktop::openPlain(QWidget* content, const QString& title) {
  desktop_->manager().openWindow(*desktop_->makeWindow(content, title), std::string());
}

size_t SessionDesktop::windowCount() const { return desktop_->manager().size(); }

std::vector<QWidget*> SessionDesktop::contents() const {
  std::vector<QWidget*> out;
  for (IManagedWindow* w : desktop_->windowsTopFirst())
    out.push_back(static_cast<ManagedWindow*>(w)->widget());
  return out;
}

void SessionDesktop::save(StringMap& session) { desktop_->manager().save(session); }
void SessionDesktop::restore(const StringMap& session) { desktop_->manager().init(session); }
void SessionDesktop::closeAll() { desktop_->manager().closeAll(); }

} // namespace kestel::gui
