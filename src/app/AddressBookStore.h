// The address-book store: a local handler at (0, 1), reached through the looper like a router
// handler. It holds the routers of the loader's managed list, the book's file and master
// password, and saves the book 100 ms after a change. A book opened without its password is
// locked (never saved) until the right password is given; a book whose file turned enciphered
// under it is not overwritten until the password that opens it is set.
//
// Requests (SYS_CMD, fields, reply):
//   1 import     string 1 file                    -> u32 1 entries added
//   2 export     string 1 file, bool 7 passwords
//   3 open       string 1 file, string 3 password -> bool 2 password missing or wrong,
//                                                    string 12 "Encrypted" / "Bad password" / ""
//   4 password   string 3 password                -> error 0xfe0006 when it opens no file
//   5 save       string 1 file, string 3 password
//   6 sessions   string 1 folder                  -> string array 1 session names
//   7 filter     string 11 agent
//   CMD_GETALL                                    -> STD_OBJS entries (agent filter applied),
//                                                    bool 2 needs password, string 12 error text
//   CMD_ADDOBJ   entry fields                     -> STD_ID
//   CMD_SETOBJ   STD_ID, changed fields
//   CMD_REMOVEOBJ STD_ID
// Failures are error replies: ERROR_FAILED with the reason in SYS_ERRSTR.
//
// Two lists beside it are local handlers of their own, answering CMD_GETALL with STD_OBJS:
// the groups at (0, 2) (STD_ID = group index, string 1 = name) and the session list at (0, 4)
// (string 1 = session name, as command 6 last built it).
//
// The store takes subscriptions (CMD_SUBSCRIBE, as an object map sends them) and notifies its
// subscribers of every entry added, changed or removed as the agent filter shows it: an entry
// that leaves the filtered list by a change is announced dead. A new agent filter, an opened or
// imported book make them fetch everything again.
#pragma once

#include "api/net/Looper.h"
#include "api/net/Reactor.h"
#include "app/AddressBookFile.h"
#include "app/LocalSubscribers.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kestel {

inline constexpr uint32_t kAddressBookHandlerId = 1;
inline constexpr uint32_t kGroupsHandlerId = 2;
// 3 is the neighbour list (NeighbourHandler).
inline constexpr uint32_t kSessionListHandlerId = 4;
inline constexpr uint32_t kSaveDelayMs = 100;

namespace bookcmd {
inline constexpr uint32_t kImport = 1;
inline constexpr uint32_t kExport = 2;
inline constexpr uint32_t kOpen = 3;
inline constexpr uint32_t kSetPassword = 4;
inline constexpr uint32_t kSave = 5;
inline constexpr uint32_t kSessions = 6;
inline constexpr uint32_t kAgentFilter = 7;
inline constexpr nv::string_id kFile{1};
inline constexpr nv::u32_id kCount{1};
inline constexpr nv::string_array_id kNames{1};
inline constexpr nv::bool_id kNeedsPassword{2};
inline constexpr nv::string_id kPassword{3};
inline constexpr nv::bool_id kWithPasswords{7};
inline constexpr nv::string_id kAgent{11};
inline constexpr nv::string_id kStatusText{12};
} // namespace bookcmd

inline constexpr const char* kTextEncrypted = "Encrypted";
inline constexpr const char* kTextBadPassword = "Bad password";
inline constexpr const char* kTextCouldNotSave = "Could not save configuration";

class AddressBookStore final : public IHandlerHooks {
public:
  // Registers the handler at id 1 of the process-wide looper; timers run on `reactor`.
  explicit AddressBookStore(Reactor& reactor);
  ~AddressBookStore() override;
  AddressBookStore(const AddressBookStore&) = delete;
  AddressBookStore& operator=(const AddressBookStore&) = delete;

  void onRequest(IHandler* handler, const nv::message& request) override;
  void onUnmatchedReply(IHandler*, const nv::message&, uint32_t) override {}

  // Opens the book the program starts with (chooseAddressBook). When that file does not exist,
  // the book starts empty at that path and the old "kestel.cfg" of `appData`, if any, is
  // imported into it. Returns the open reply (bool 2 when the book needs its password).
  nv::message openAtStart(const std::string& appData, const std::string& commandLineFile,
                          const std::string& password);

  // Runs a pending debounced save now (the command line does this before it exits).
  void flush();

  bool locked() const { return locked_; }
  bool needsPassword() const { return needsPassword_; }
  const std::string& errorText() const { return errorText_; }
  const std::string& path() const { return path_; }
  size_t size() const { return entries_.size(); }
  // The entry with this STD_ID; null when there is none.
  const nv::message* entry(uint32_t id) const;
  // The first entry whose address (key 1) is `address`; null when there is none.
  const nv::message* findAddress(const std::string& address) const;

private:
  nv::message handle(const nv::message& request, bool& failed);
  nv::message importFile(const nv::message& request, bool& failed);
  nv::message exportFile(const nv::message& request, bool& failed);
  nv::message open(const std::string& file, const std::string& password, bool& failed);
  nv::message setPassword(const std::string& password, bool& failed);
  nv::message list() const;
  // The entries the agent filter lets through.
  bool shows(const nv::message& e) const;
  std::vector<nv::message> shown() const;
  // Tells the subscribers about entry `id` after a change; `wasShown`: whether they had it.
  void announce(uint32_t id, bool wasShown);
  // Makes the subscribers fetch everything again.
  void announceAll();
  uint32_t add(nv::message e);
  bool change(const nv::message& request);
  bool save(const std::string& file, const std::string& password);
  void scheduleSave();
  void debouncedSave();
  uint32_t groupIndex(const std::string& group);

  // A read-only list behind its own handler.
  class ListHandler final : public IHandlerHooks {
  public:
    ListHandler(uint32_t id, std::function<std::vector<nv::message>()> items);
    ~ListHandler() override;
    void onRequest(IHandler* handler, const nv::message& request) override;
    void onUnmatchedReply(IHandler*, const nv::message&, uint32_t) override {}

  private:
    std::function<std::vector<nv::message>()> items_;
    Reference<IHandler> handler_;
  };

  Reactor& reactor_;
  Reference<IHandler> handler_;
  std::map<uint32_t, nv::message> entries_; // by STD_ID
  uint32_t nextId_ = 1;
  std::map<std::string, uint32_t> groups_; // group name -> index, from 1 in order of appearance
  std::string path_;
  std::string password_;
  std::string errorText_;
  std::string agentFilter_;
  bool needsPassword_ = false;
  bool locked_ = false;
  Reactor::TimerId saveTimer_ = 0;
  std::vector<std::string> sessions_;
  ListHandler groupsList_;
  ListHandler sessionList_;
  LocalSubscribers subscribers_;
};

} // namespace kestel
