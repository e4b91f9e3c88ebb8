// The session's change list: every change this client commits through an object map (an object
// changed, added or removed), with its time, menu, object, the fields as "old -> new" and the
// router's answer. Changes made while safe mode is on carry its id, so they are shown as one
// group. The log follows the router's Undo and Redo of the last change, and reverts any single
// change on request by committing the old values through the same map (a new change of its own).
//
// The edit goes through the log rather than straight to the map: the log takes the values the
// object had before the user edited it, commits with a completion listener of its own and tells
// the caller's listener after it has recorded the outcome.
#pragma once

#include "api/container/ObjectMap.h"
#include "gen/CType.h"
#include "util/Expected.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kestel {

// "No safe mode" as a safe-mode id.
inline constexpr uint32_t kNoSafeMode = 0xFFFFFFFF;

// An object's value fields as text, in slot order.
struct SlotText {
  const Slot* slot = nullptr;
  std::string text;
};
using ObjectValues = std::vector<SlotText>;
ObjectValues objectValues(const IObject& object, const CType& type);

enum class ChangeKind { Set, Add, Remove };
enum class ChangeState { Waiting, Succeeded, Failed };

struct FieldDiff {
  const Slot* slot = nullptr;
  std::string field; // the slot's title (its name when it has none)
  std::string before, after;
};

struct ChangeRecord {
  size_t number = 0; // from 1, in commit order
  int64_t time = 0;  // wall clock, ms since the epoch
  ChangeKind kind = ChangeKind::Set;
  std::string menu, object;
  uint32_t id = NO_ID;
  // Set and Add: the fields that differ from before (an added object: from a new object's);
  // Remove: every field the object had a value in.
  std::vector<FieldDiff> fields;
  ChangeState state = ChangeState::Waiting;
  uint32_t safeMode = kNoSafeMode;
  bool undone = false; // the router undid it (Undo) and has not redone it
  size_t reverts = 0;  // the number of the change this one reverts; 0: none
  size_t revertedBy = 0;

  // What a revert needs.
  Reference<ObjectMap> map;
  const CType* type = nullptr;
  ObjectValues before, after;
};

class ChangeLog {
public:
  using WallClock = std::function<int64_t()>;
  // Told when a change is recorded and again when its state changes.
  using Listener = std::function<void(const ChangeRecord&)>;

  explicit ChangeLog(WallClock clock = systemMillis);
  ~ChangeLog();
  ChangeLog(const ChangeLog&) = delete;
  ChangeLog& operator=(const ChangeLog&) = delete;

  static int64_t systemMillis();

  // Commits `object` through `map` (an add when it has no id) and records it; `before` holds the
  // object's values from before the user's edit (objectValues; for a new object empty: the
  // values a new object of the map starts with). Returns the change's number.
  size_t commit(ObjectMap& map, std::string menu, const CType& type, IObject* object,
                ObjectValues before, IChangeListener* done = nullptr);
  // Removes `object` through `map` and records it.
  size_t remove(ObjectMap& map, std::string menu, const CType& type, IObject* object,
                IChangeListener* done = nullptr);

  // Reverts change `number` as a new change: a changed object gets its old values back, an added
  // one is removed, a removed one is added again with its values. Fails for an unknown change,
  // one the router did not take, one reverted already, an object no longer in the map, or a value
  // that cannot be set back from its text.
  [[nodiscard]] Expected<size_t> revert(size_t number, IChangeListener* done = nullptr);

  // The safe-mode id new changes carry (kNoSafeMode: none).
  void setSafeMode(uint32_t id) { safeMode_ = id; }

  // The router undid its last change: the newest change of this log that stands is marked
  // undone (its number; 0 when there is none). Redo marks the oldest of the newest undone run
  // standing again.
  size_t markUndone();
  size_t markRedone();

  struct Group {
    uint32_t safeMode = kNoSafeMode;
    size_t first = 0; // index into records()
    size_t count = 0;
  };
  // Consecutive changes of the same safe-mode session form one group; the others one each.
  std::vector<Group> groups() const;

  const std::vector<ChangeRecord>& records() const { return records_; }
  const ChangeRecord* find(size_t number) const;

  // Listeners: the session's (setListener, one, replaced by the next call) and any number of
  // others (the Changes window), each removed when its handle goes. A handle may outlive the log.
  void setListener(Listener listener) { listener_ = std::move(listener); }
  class ListenerHandle {
  public:
    ListenerHandle() = default;
    ListenerHandle(ListenerHandle&& other) noexcept { *this = std::move(other); }
    ListenerHandle& operator=(ListenerHandle&& other) noexcept;
    ~ListenerHandle() { reset(); }
    void reset();

  private:
    friend class ChangeLog;
    ListenerHandle(std::weak_ptr<ChangeLog*> log, uint64_t id) : log_(std::move(log)), id_(id) {}
    std::weak_ptr<ChangeLog*> log_;
    uint64_t id_ = 0;
  };
  [[nodiscard]] ListenerHandle addListener(Listener listener);

private:
  class Recorder;
  size_t record(ChangeRecord change);
  void finish(size_t number, IObject* object, ChangeResult result);
  void tell(const ChangeRecord& change);

  WallClock clock_;
  std::vector<ChangeRecord> records_;
  uint32_t safeMode_ = kNoSafeMode;
  Listener listener_;
  std::vector<std::pair<uint64_t, Listener>> listeners_;
  uint64_t lastListener_ = 0;
  std::shared_ptr<ChangeLog*> self_; // recorders reach the log through it while it lives
};

// One line of the change list: "<time> <menu> <object> <field>: <old> -> <new>, ... <result>".
// `time` is the change's time formatted for the reader.
std::string describeChange(const ChangeRecord& change, const std::string& time);

} // namespace kestel
