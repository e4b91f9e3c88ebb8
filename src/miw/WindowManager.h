// The window manager of a session desktop: the one owner of the child windows the session window
// shows. It opens windows for producers (raising the one already open for the same producer and
// context), places them (the bounds the same kind of window had last time, else centred at the
// preferred size, then cascaded past windows of the same type), lists them in the launcher's
// "Windows" group, remembers a kind's placement when its window closes, and writes and reads the
// list of open windows of a saved session so that a reconnect brings them back in the same order.
//
// The manager decides; the desktop and the windows behind the interfaces below do. The GUI
// implements them over its MDI area (gui/Desktop.h); tests implement them in memory. Single
// threaded: every call comes from the event loop, including object deliveries and the restore
// timer (a reactor timer of the current ReactorScope).
#pragma once

#include "api/net/Reactor.h"
#include "miw/Settings.h"
#include "miw/WindowPlacement.h"
#include "util/Base.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kestel {

// A window on the desktop as the manager sees it.
class IManagedWindow {
public:
  virtual ~IManagedWindow() = default;
  virtual Rect bounds() const = 0;
  virtual void setBounds(const Rect& bounds) = 0;
  virtual Size preferredSize() const = 0;
  // The smallest size the window can take (its frame refuses smaller bounds); none by default.
  virtual Size smallestSize() const { return {}; }
  virtual bool isMaximised() const = 0;
  virtual void setMaximised(bool on) = 0;
  virtual std::string title() const = 0;
  // Makes the window visible, repaints it and gives it the focus.
  virtual void showAndFocus() = 0;
  // False when the window refuses to be brought forward now.
  virtual bool mayRaise() const { return true; }
  // The window's state saver (settings registry), or null.
  virtual IPersistent* persistent() const = 0;
  // Closes the window; its desktop then reports it through WindowManager::windowDestroyed.
  virtual void destroy() = 0;
};

// Makes the windows of one object or tool. The manager keeps a counted reference while its
// window is open.
class IWindowProducer : public IBase {
public:
  virtual IManagedWindow* createWindow() = 0;
  virtual IManagedWindow* createWindow(void* context) = 0;
  virtual std::string type() const = 0;
  virtual std::string subtype() const = 0;
  // The id of the object the producer stands for (kNoObjectId when none).
  virtual uint32_t objectId() const = 0;
};

// The session window's desktop area and launcher.
class IDesktop {
public:
  virtual ~IDesktop() = default;
  virtual Rect clientRect() const = 0;
  // The height of a window caption: the cascading step.
  virtual int captionHeight() const = 0;
  // Takes a new window onto the desktop (still hidden).
  virtual void addWindow(IManagedWindow& window) = 0;
  // Every window on the desktop, topmost first.
  virtual std::vector<IManagedWindow*> windowsTopFirst() const = 0;
  // Hides and shows the whole desktop while a restore opens many windows.
  virtual void setDesktopVisible(bool visible) = 0;
  // A window was opened or raised.
  virtual void windowActivated(IManagedWindow& window) = 0;
  // Entries of the launcher's "Windows" group; the first entry creates the group with its icon.
  virtual uint32_t addLauncherEntry(IManagedWindow& window, unsigned groupIcon) = 0;
  virtual void removeLauncherEntry(uint32_t entry) = 0;
  virtual void refreshLauncher() = 0;
};

// Turns a (type, subtype, id) triple back into a producer, delivering it (or null) later.
using ObjectConsumer = std::function<void(Reference<IWindowProducer>)>;
class IObjectLookup {
public:
  virtual ~IObjectLookup() = default;
  virtual void lookupObject(const std::string& subtype, uint32_t id, ObjectConsumer consumer) = 0;
};

// Settings flags of the records the manager writes.
inline constexpr uint32_t kOpenWindowRecordFlags = 4096;
inline constexpr uint32_t kPlacementRecordFlags = 16384;
inline constexpr uint32_t kProducedPlacementRecordFlags = 17408;
inline constexpr unsigned kWindowsGroupIcon = 30;
inline constexpr uint32_t kRestoreTimeoutMs = 6000;

class WindowManager {
public:
  WindowManager(SettingsRegistry& settings, IDesktop& desktop);
  ~WindowManager();
  WindowManager(const WindowManager&) = delete;
  WindowManager& operator=(const WindowManager&) = delete;

  // Raises the window already open for this producer and context, else asks the producer for a
  // new one (with the context when it is not null) and opens it. Returns the window, or null
  // when the producer made none.
  IManagedWindow* openWindow(IWindowProducer* producer, void* context);
  // Opens a ready window of `type` (no producer, empty subtype).
  void openWindow(IManagedWindow& window, const std::string& type);
  bool openedWindow(IWindowProducer* producer, void* context) const;
  // Brings a managed window forward (the launcher's entries do this), fitting it back into the
  // desktop when it lies partly outside; a window that vetoes it stays where it is.
  void raise(IManagedWindow& window);
  bool manages(const IManagedWindow* window) const;
  size_t size() const { return records_.size(); }

  // The desktop reports every managed window that goes away: its placement is remembered
  // (unless shutting down), and its launcher entry and record dropped.
  void windowDestroyed(IManagedWindow* window);

  // Writes "open" (topmost first) and "wm-id" into the session's settings map.
  void save(StringMap& session);
  // Reads them back and reopens the windows once every object has been looked up, or when the
  // restore time-out passes.
  void init(const StringMap& session);
  // Destroys every managed window, remembering placements.
  void closeAll();
  // Arranges the managed windows side by side in the desktop (tileRects), oldest first; maximised
  // windows are restored first.
  void tileWindows();
  // Moves every managed window that pokes out of the desktop back inside, as far as its smallest
  // size allows (after the desktop shrank); maximised windows follow the desktop by themselves.
  void fitWindows();
  // From now on destroyed windows leave their placements alone; drops every record.
  void shutdown();

  void registerProvider(const std::string& type, IObjectLookup* provider);
  void unregisterProvider(const std::string& type);
  // Asks the provider of `type`; a type without one delivers null at once.
  void lookupObject(const std::string& type, const std::string& subtype, uint32_t id,
                    ObjectConsumer consumer);

  // The placement record id of a kind, or kNoSettingsId.
  uint32_t placementId(const std::string& type, const std::string& subtype) const;

private:
  struct Record {
    Reference<IWindowProducer> producer;
    IManagedWindow* window;
    std::string type;
    std::string subtype;
    void* context;
    IPersistent* persistent;
    uint32_t launcherEntry;
  };
  struct Slot {
    StringMap record;
    Reference<IWindowProducer> object;
  };

  void open(IManagedWindow& window, IWindowProducer* producer, void* context,
            const std::string& type, const std::string& subtype, const StringMap* placement);
  void storePlacement(const Record& record);
  void consumeObject(uint64_t generation, size_t slot, Reference<IWindowProducer> object);
  void openPendingWindows();
  std::vector<Record>::iterator find(const IManagedWindow* window);
  static std::string kindKey(const std::string& type, const std::string& subtype);

  SettingsRegistry& settings_;
  IDesktop& desktop_;
  std::vector<Record> records_;
  std::map<std::string, uint32_t> placementIndex_; // type + "\n" + subtype → settings id
  std::map<std::string, IObjectLookup*> providers_;
  size_t pending_ = 0;
  std::vector<Slot> slots_;
  uint64_t generation_ = 0; // of the restore in progress; late deliveries of older ones drop
  Reactor::TimerId restoreTimer_ = 0;
  bool closing_ = false;
};

} // namespace kestel
