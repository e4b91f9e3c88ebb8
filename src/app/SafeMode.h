// The session window's safe mode and its Undo and Redo, without the window: requests to the
// router's history handler (17), the toggle's state, and the message boxes the window shows.
//
// Safe mode on sends 0x80003 from a handler of its own (so the router can tell it later); the
// reply's STD_ID is the safe-mode id, an error reply switches the toggle off again and shows
// "Could not enable Safe Mode" with the router's error. Off sends 0x80005 with the id. While an
// id is held, a message from handler 17 with 0x80004 or 0x80005 switches the toggle off and
// shows "Safe Mode released by other process". Undo (0x80001) and Redo (0x80002) go through the
// global handler with no time-out; an error shows "Could not Undo" / "Could not Redo".
#pragma once

#include "api/net/Looper.h"
#include "app/ChangeLog.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace kestel {

inline constexpr uint32_t CMD_UNDO = 0x80001;
inline constexpr uint32_t CMD_REDO = 0x80002;
inline constexpr uint32_t CMD_SAFEMODE_ON = 0x80003;
inline constexpr uint32_t CMD_SAFEMODE_TAKEN = 0x80004;
inline constexpr uint32_t CMD_SAFEMODE_OFF = 0x80005;
inline constexpr uint32_t kHistoryHandler = 17;

inline constexpr const char* kSafeModeFailedText = "Could not enable Safe Mode";
inline constexpr const char* kSafeModeOffFailedText = "Could not disable Safe Mode";
inline constexpr const char* kSafeModeReleasedText = "Safe Mode released by other process";
inline constexpr const char* kUndoFailedText = "Could not Undo";
inline constexpr const char* kRedoFailedText = "Could not Redo";
inline constexpr const char* kQuitInSafeModeText =
    "You are in Safe Mode.  Quitting will unroll changes. Quit?";

class SafeMode {
public:
  // `toggled` learns every change of the toggle's state; the change log (optional) has its
  // safe-mode id kept current.
  explicit SafeMode(std::function<void(bool on)> toggled, ChangeLog* log = nullptr);
  ~SafeMode();
  SafeMode(const SafeMode&) = delete;
  SafeMode& operator=(const SafeMode&) = delete;

  // The toggle switched on: asks the router (the toggle shows on while it answers).
  void enable();
  // The toggle switched off: releases the id. A refusal keeps safe mode on and shows
  // "Could not disable Safe Mode" with the router's error. Switched off before the router has
  // answered, the id it then sends is released at once.
  void disable();
  bool on() const { return on_; }
  // The router's safe-mode id; kNoSafeMode when none is held.
  uint32_t id() const { return id_; }
  // Requests sent and not answered yet.
  size_t waiting() const { return waiting_; }

private:
  class Hooks;
  void release(uint32_t id);
  void onReply(uint32_t command, const nv::message& reply);
  void onMessage(const nv::message& message);
  void setState(bool on, uint32_t id);

  std::function<void(bool)> toggled_;
  ChangeLog* log_;
  std::unique_ptr<Hooks> hooks_;
  Reference<IHandler> handler_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  bool on_ = false;
  uint32_t id_ = kNoSafeMode;
  size_t waiting_ = 0;
};

// Undo and Redo of the router's last change; the change log (optional) follows them.
class UndoRedo {
public:
  explicit UndoRedo(ChangeLog* log = nullptr);
  ~UndoRedo();
  UndoRedo(const UndoRedo&) = delete;
  UndoRedo& operator=(const UndoRedo&) = delete;

  void undo();
  void redo();
  // Requests sent and not answered yet.
  size_t waiting() const { return waiting_; }
  // Told after each answer, refusals included (the Changes window enables its buttons again).
  void setAnswered(std::function<void()> answered) { answered_ = std::move(answered); }

private:
  void send(uint32_t command);
  void onReply(uint32_t command, const nv::message& reply);

  ChangeLog* log_;
  std::function<void()> answered_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  size_t waiting_ = 0;
};

} // namespace kestel
