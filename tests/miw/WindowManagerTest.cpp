// The session desktop's window manager with an in-memory desktop: placement from records,
// centring and cascading, the round trip of a kind's placement through the settings registry,
// and saving and restoring the open windows in z-order whatever order their objects arrive in.
#include "miw/WindowManager.h"

#include "support/ModelFixture.h"
#include "support/TempFolder.h"
#include "util/Log.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kestel {
namespace {

class FakeDesktop;

class FakeWindow final : public IManagedWindow {
public:
  FakeWindow(FakeDesktop& desktop, std::string title, Size preferred)
      : desktop_(desktop), title_(std::move(title)), preferred_(preferred) {}
  Rect bounds() const override { return bounds_; }
  void setBounds(const Rect& b) override { bounds_ = b; }
  Size preferredSize() const override { return preferred_; }
  Size smallestSize() const override { return smallest; }
  bool isMaximised() const override { return maximised_; }
  void setMaximised(bool on) override { maximised_ = on; }
  std::string title() const override { return title_; }
  void showAndFocus() override { shown = true; }
  IPersistent* persistent() const override { return saver; }
  void destroy() override;

  bool shown = false;
  IPersistent* saver = nullptr;
  Size smallest;

private:
  FakeDesktop& desktop_;
  std::string title_;
  Size preferred_;
  Rect bounds_;
  bool maximised_ = false;
};

class FakeDesktop final : public IDesktop {
public:
  Rect clientRect() const override { return area; }
  int captionHeight() const override { return 20; }
  void addWindow(IManagedWindow& w) override { stack.insert(stack.begin(), &w); }
  std::vector<IManagedWindow*> windowsTopFirst() const override { return stack; }
  void setDesktopVisible(bool v) override { visibleChanges.push_back(v); }
  void windowActivated(IManagedWindow& w) override {
    stack.erase(std::find(stack.begin(), stack.end(), &w));
    stack.insert(stack.begin(), &w);
  }
  uint32_t addLauncherEntry(IManagedWindow& w, unsigned icon) override {
    EXPECT_EQ(icon, 30u);
    launcher[++nextEntry] = w.title();
    return nextEntry;
  }
  void removeLauncherEntry(uint32_t entry) override { launcher.erase(entry); }
  void refreshLauncher() override {}

  void destroyed(FakeWindow* w) {
    stack.erase(std::find(stack.begin(), stack.end(), w));
    if (manager)
      manager->windowDestroyed(w);
    owned.erase(std::find_if(owned.begin(), owned.end(), [&](auto& p) { return p.get() == w; }));
  }
  FakeWindow* make(const std::string& title, Size preferred = {300, 200}) {
    owned.push_back(std::make_unique<FakeWindow>(*this, title, preferred));
    return owned.back().get();
  }
  std::vector<std::string> titlesTopFirst() const {
    std::vector<std::string> out;
    for (IManagedWindow* w : stack)
      out.push_back(w->title());
    return out;
  }

  WindowManager* manager = nullptr;
  Rect area{0, 0, 800, 600};
  std::vector<IManagedWindow*> stack;
  std::vector<std::unique_ptr<FakeWindow>> owned;
  std::map<uint32_t, std::string> launcher;
  std::vector<bool> visibleChanges;
  uint32_t nextEntry = 0;
};

void FakeWindow::destroy() { desktop_.destroyed(this); }

// A producer for one object of a table of `type`.
class FakeProducer final : public IWindowProducer {
public:
  FakeProducer(FakeDesktop& d, std::string type, std::string subtype, uint32_t id)
      : desktop_(d), type_(std::move(type)), subtype_(std::move(subtype)), id_(id) {}
  IManagedWindow* createWindow() override {
    return desktop_.make(type_ + "/" + subtype_ + "#" + std::to_string(id_));
  }
  IManagedWindow* createWindow(void* context) override {
    contexts.push_back(context);
    return createWindow();
  }
  std::string type() const override { return type_; }
  std::string subtype() const override { return subtype_; }
  uint32_t objectId() const override { return id_; }
  std::vector<void*> contexts;

private:
  FakeDesktop& desktop_;
  std::string type_, subtype_;
  uint32_t id_;
};

// Keeps the lookups it is asked for until the test delivers them.
class HeldProvider final : public IObjectLookup {
public:
  void lookupObject(const std::string& subtype, uint32_t id, ObjectConsumer consumer) override {
    asked.push_back({subtype, id, std::move(consumer)});
  }
  struct Ask {
    std::string subtype;
    uint32_t id;
    ObjectConsumer consumer;
  };
  std::vector<Ask> asked;
};

class WindowManagerTest : public test::ModelFixture {
protected:
  SettingsRegistry settings;
  FakeDesktop desktop;
  std::unique_ptr<WindowManager> wm = newManager();

  std::unique_ptr<WindowManager> newManager() {
    auto m = std::make_unique<WindowManager>(settings, desktop);
    desktop.manager = m.get();
    return m;
  }
  Reference<FakeProducer> producer(const std::string& subtype, uint32_t id) {
    return Reference<FakeProducer>(new FakeProducer(desktop, "table", subtype, id));
  }
};

TEST_F(WindowManagerTest, NewWindowsAreCentredAndCascadedBackToTheEdge) {
  Reference<FakeProducer> a = producer("ip/address", 1), b = producer("ip/address", 2);
  IManagedWindow* first = wm->openWindow(a.get(), nullptr);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->bounds(), (Rect{250, 200, 550, 400}));
  IManagedWindow* second = wm->openWindow(b.get(), nullptr);
  EXPECT_EQ(second->bounds(), (Rect{270, 220, 570, 420})) << "one caption right and down";
  EXPECT_EQ(desktop.launcher.size(), 2u);

  // A kind remembered at the right edge: the cascaded copy goes back to x = 0, keeping y's step.
  first->setBounds({500, 100, 800, 300});
  first->destroy();
  Reference<FakeProducer> c = producer("ip/address", 3), d = producer("ip/address", 4);
  IManagedWindow* third = wm->openWindow(c.get(), nullptr);
  EXPECT_EQ(third->bounds(), (Rect{500, 100, 800, 300}));
  IManagedWindow* fourth = wm->openWindow(d.get(), nullptr);
  EXPECT_EQ(fourth->bounds(), (Rect{0, 120, 300, 320}));
}

bool inside(const Rect& r, const Rect& area) {
  return r.left >= area.left && r.top >= area.top && r.right <= area.right &&
         r.bottom <= area.bottom;
}

TEST(WindowPlacement, TilesKeepWindowsInsideTheArea) {
  const Rect area{0, 0, 1000, 640};
  const struct {
    std::vector<Size> minimum;
    std::vector<Rect> tiles;
  } cases[] = {
      {{{0, 0}}, {{0, 0, 1000, 640}}},
      {{{0, 0}, {0, 0}}, {{0, 0, 500, 640}, {500, 0, 1000, 640}}},
      {{{0, 0}, {0, 0}, {0, 0}}, {{0, 0, 500, 640}, {500, 0, 1000, 320}, {500, 320, 1000, 640}}},
      // The demonstration desktop: windows wider than their tiles grow inwards, not past the edge.
      {{{480, 380}, {520, 300}, {560, 200}},
       {{0, 0, 500, 640}, {480, 0, 1000, 320}, {440, 320, 1000, 640}}},
      {{{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}},
       {{0, 0, 333, 640},
        {333, 0, 666, 320},
        {333, 320, 666, 640},
        {666, 0, 1000, 320},
        {666, 320, 1000, 640}}},
      {{{1200, 100}}, {{0, 0, 1200, 640}}}, // larger than the desktop: anchored at its start
  };
  for (const auto& c : cases) {
    const std::vector<Rect> tiles = tileRects(c.minimum, area);
    EXPECT_EQ(tiles, c.tiles) << c.minimum.size() << " windows";
    for (size_t i = 0; i < tiles.size() && i < c.minimum.size(); ++i) {
      EXPECT_GE(tiles[i].width(), c.minimum[i].width);
      EXPECT_GE(tiles[i].height(), c.minimum[i].height);
      if (c.minimum[i].width <= area.width()) {
        EXPECT_TRUE(inside(tiles[i], area)) << i;
      }
    }
  }
  EXPECT_TRUE(tileRects({{0, 0}}, Rect{}).empty()) << "a desktop not laid out yet";
  EXPECT_TRUE(tileRects({}, area).empty());
}

// Windows whose frames refuse small bounds are placed at the size they really get.
TEST_F(WindowManagerTest, MinimumSizesAreFittedAndTiledInsideTheDesktop) {
  FakeWindow* narrow = desktop.make("narrow");
  wm->openWindow(*narrow, "kind");
  narrow->setBounds({600, 100, 780, 250});
  narrow->destroy(); // its kind is remembered at the right edge, smaller than the next one allows
  FakeWindow* wide = desktop.make("wide", {100, 100});
  wide->smallest = {400, 300};
  wm->openWindow(*wide, "kind");
  EXPECT_EQ(wide->bounds(), (Rect{400, 100, 800, 400}));
  FakeWindow* cascaded = desktop.make("wide 2", {100, 100});
  cascaded->smallest = {400, 300};
  wm->openWindow(*cascaded, "kind");
  EXPECT_EQ(cascaded->bounds(), (Rect{0, 120, 400, 420})) << "cascaded back to the left edge";

  FakeWindow* third = desktop.make("third");
  third->smallest = {500, 100};
  wm->openWindow(*third, "other");
  wide->setMaximised(true);
  wm->tileWindows();
  EXPECT_FALSE(wide->isMaximised());
  EXPECT_EQ(wide->bounds(), (Rect{0, 0, 400, 600}));
  EXPECT_EQ(cascaded->bounds(), (Rect{400, 0, 800, 300}));
  EXPECT_EQ(third->bounds(), (Rect{300, 300, 800, 600}));

  // The desktop shrinks: windows poking out move back in, as far as their smallest size allows.
  desktop.area = {0, 0, 700, 450};
  cascaded->setMaximised(true);
  wm->fitWindows();
  EXPECT_EQ(wide->bounds(), (Rect{0, 0, 400, 450}));
  EXPECT_EQ(cascaded->bounds(), (Rect{400, 0, 800, 300})) << "maximised: left alone";
  EXPECT_EQ(third->bounds(), (Rect{200, 150, 700, 450}));
}

TEST_F(WindowManagerTest, SameProducerAndContextRaisesTheOpenWindow) {
  Reference<FakeProducer> a = producer("log", 1);
  int context = 0;
  IManagedWindow* w = wm->openWindow(a.get(), &context);
  wm->openWindow(producer("x", 2).get(), nullptr);
  w->setBounds({-50, 10, 250, 210}); // dragged half off the desktop
  EXPECT_EQ(wm->openWindow(a.get(), &context), w);
  EXPECT_EQ(wm->size(), 2u);
  EXPECT_EQ(w->bounds(), (Rect{0, 10, 300, 210})) << "fitted back into the desktop";
  EXPECT_EQ(desktop.titlesTopFirst().front(), w->title());
  EXPECT_EQ(a->contexts.size(), 1u);
  EXPECT_TRUE(wm->openedWindow(a.get(), &context));
  EXPECT_FALSE(wm->openedWindow(a.get(), nullptr));
}

TEST_F(WindowManagerTest, PlacementRecordsRoundTripAndBadBoundsAreIgnored) {
  Reference<FakeProducer> a = producer("ip/route", 7);
  IManagedWindow* w = wm->openWindow(a.get(), nullptr);
  w->setBounds({10, 20, 410, 320});
  w->setMaximised(true);
  w->destroy();
  uint32_t id = wm->placementId("table", "ip/route");
  ASSERT_NE(id, kNoSettingsId);
  EXPECT_EQ(settings.flagsOf(id), kProducedPlacementRecordFlags);
  Placement p = readPlacement(*settings.getSettings(id, nullptr, 0));
  EXPECT_EQ(p.bounds, (Rect{10, 20, 410, 320}));
  EXPECT_TRUE(p.maximised);
  EXPECT_EQ(p.subtype, "ip/route");

  IManagedWindow* again = wm->openWindow(a.get(), nullptr);
  EXPECT_EQ(again->bounds(), (Rect{10, 20, 410, 320}));
  EXPECT_TRUE(again->isMaximised());
  again->destroy();

  settings.getSettings(id, nullptr, 0)->set(kPlacementBounds, std::string(7, '\1'));
  IManagedWindow* centred = wm->openWindow(a.get(), nullptr);
  EXPECT_EQ(centred->bounds(), (Rect{250, 200, 550, 400})) << "a 7-byte bounds field is ignored";

  // Negative coordinates survive the 16-bit fields; windows without a type keep no record.
  StringMap r;
  writePlacement(r, {-3, -400, 5, 6}, false, "", "");
  EXPECT_EQ(readPlacement(r).bounds, (Rect{-3, -400, 5, 6}));
  EXPECT_FALSE(r.has(kPlacementType));
  FakeWindow* loose = desktop.make("loose");
  wm->openWindow(*loose, "");
  loose->destroy();
  EXPECT_EQ(wm->placementId("", ""), kNoSettingsId);
}

TEST_F(WindowManagerTest, RestoreReopensInSavedOrderWhateverOrderObjectsArriveIn) {
  HeldProvider provider;
  wm->registerProvider("table", &provider);
  std::vector<Reference<FakeProducer>> made = {producer("a", 1), producer("b", 2),
                                               producer("c", 3)};
  for (auto& p : made)
    wm->openWindow(p.get(), nullptr)->setBounds({int(p->objectId()) * 10, 0, 200, 100});
  wm->openWindow(made[0].get(), nullptr); // "a" to the top
  const std::vector<std::string> order = desktop.titlesTopFirst();
  ASSERT_EQ(order, (std::vector<std::string>{"table/a#1", "table/c#3", "table/b#2"}));
  StringMap session;
  wm->save(session);
  EXPECT_EQ(unpackIdList(session.get("open")).size(), 3u);

  const std::vector<std::vector<size_t>> arrivalOrders = {{0, 1, 2}, {2, 1, 0}, {1, 2, 0}};
  for (const auto& arrival : arrivalOrders) {
    wm->shutdown();
    desktop.stack.clear();
    desktop.owned.clear();
    provider.asked.clear();
    wm = newManager();
    wm->registerProvider("table", &provider);
    StringMap copy = session;
    SettingsRegistry saved = settings; // init consumes the open-window records
    CaptureLogSink log;
    wm->init(copy);
    ASSERT_EQ(provider.asked.size(), 3u);
    std::vector<Reference<FakeProducer>> fresh = {producer("a", 1), producer("b", 2),
                                                  producer("c", 3)};
    for (size_t k : arrival) {
      uint32_t id = provider.asked[k].id;
      provider.asked[k].consumer(fresh[id - 1]);
    }
    EXPECT_EQ(desktop.titlesTopFirst(), order);
    EXPECT_EQ(desktop.owned[2]->bounds().left, 10) << "restored from its record, not cascaded";
    EXPECT_TRUE(log.contains("openPendingWindows done"));
    EXPECT_EQ(reactor.timerCount(), 0u) << "the restore time-out is gone once all arrived";
    settings = std::move(saved);
  }
}

TEST_F(WindowManagerTest, MissingObjectsTimeOutAndLateOnesAreDropped) {
  HeldProvider provider;
  wm->registerProvider("table", &provider);
  Reference<FakeProducer> a = producer("a", 1), b = producer("b", 2);
  wm->openWindow(a.get(), nullptr);
  wm->openWindow(b.get(), nullptr);
  StringMap session;
  wm->save(session);
  wm->shutdown();
  desktop.stack.clear();
  desktop.owned.clear();
  wm = newManager();
  wm->registerProvider("table", &provider);
  CaptureLogSink log;
  wm->init(session);
  ASSERT_EQ(provider.asked.size(), 2u);
  provider.asked[0].consumer(producer("b", 2));
  reactor.advance(5999);
  EXPECT_TRUE(desktop.stack.empty());
  reactor.advance(1);
  EXPECT_EQ(desktop.titlesTopFirst(), (std::vector<std::string>{"table/b#2"}));
  provider.asked[1].consumer(producer("a", 1));
  EXPECT_TRUE(log.contains("object arrived too late"));
  EXPECT_EQ(desktop.stack.size(), 1u);
  EXPECT_EQ(desktop.visibleChanges, (std::vector<bool>{false, true}));
}

TEST_F(WindowManagerTest, OpenWindowsAndPlacementsSurviveTheSessionFile) {
  HeldProvider provider;
  Reference<FakeProducer> a = producer("a", 1), b = producer("b", 2);
  wm->openWindow(a.get(), nullptr)->setBounds({5, 6, 305, 206});
  IManagedWindow* closed = wm->openWindow(b.get(), nullptr);
  closed->setBounds({50, 60, 350, 260});
  closed->destroy(); // b's kind keeps a placement record
  StringMap session;
  wm->save(session);
  settings.registerSettings(session, 0);
  test::TempFolder dir;
  const std::string file = dir.path() + "/router.viw";
  ASSERT_TRUE(settings.saveSettings(file));

  wm->shutdown();
  desktop.stack.clear();
  desktop.owned.clear();
  SettingsRegistry reloaded;
  ASSERT_TRUE(reloaded.loadSettings(file));
  StringMap* readBack = nullptr;
  for (uint32_t id = 0; id < 16 && !readBack; ++id)
    if (StringMap* m = reloaded.getSettings(id, nullptr, 0); m && m->has("open"))
      readBack = m;
  ASSERT_TRUE(readBack);
  WindowManager again(reloaded, desktop);
  desktop.manager = &again;
  again.registerProvider("table", &provider);
  again.init(*readBack);
  ASSERT_EQ(provider.asked.size(), 1u);
  EXPECT_EQ(provider.asked[0].subtype, "a");
  EXPECT_EQ(provider.asked[0].id, 1u);
  provider.asked[0].consumer(producer("a", 1));
  ASSERT_EQ(desktop.stack.size(), 1u);
  EXPECT_EQ(desktop.stack[0]->bounds(), (Rect{5, 6, 305, 206}));
  IManagedWindow* reopened = again.openWindow(producer("b", 2).get(), nullptr);
  EXPECT_EQ(reopened->bounds(), (Rect{50, 60, 350, 260})) << "the kind's placement came back";
  again.shutdown();
  desktop.manager = nullptr;
}

TEST_F(WindowManagerTest, AfterShutdownClosingWindowsLeavesPlacementsAlone) {
  Reference<FakeProducer> a = producer("a", 1);
  IManagedWindow* w = wm->openWindow(a.get(), nullptr);
  w->setBounds({1, 2, 301, 202});
  wm->closeAll();
  EXPECT_EQ(wm->size(), 0u);
  EXPECT_TRUE(desktop.launcher.empty());
  uint32_t id = wm->placementId("table", "a");
  ASSERT_NE(id, kNoSettingsId);
  w = wm->openWindow(a.get(), nullptr);
  w->setBounds({100, 100, 400, 300});
  wm->shutdown();
  w->destroy();
  EXPECT_EQ(readPlacement(*settings.getSettings(id, nullptr, 0)).bounds, (Rect{1, 2, 301, 202}));
}

} // namespace
} // namespace kestel
