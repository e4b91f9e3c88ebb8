#include "app/AddressBookStore.h"

#include "api/wire/Vocabulary.h"
#include "app/AppPaths.h"
#include "crypto/Random.h"
#include "miw/SafeFile.h"
#include "miw/SessionFiles.h"
#include "util/Log.h"

#include <cstring>
#include <utility>

namespace kestel {

namespace {

nv::message failure(bool& failed, const std::string& text) {
  failed = true;
  nv::message m;
  m.set(SYS_ERRSTR, text);
  return m;
}

std::array<uint8_t, kBookNonceSize> freshNonce() {
  std::array<uint8_t, kBookNonceSize> nonce{};
  SecureBytes r = random32();
  std::memcpy(nonce.data(), r.data(), nonce.size());
  return nonce;
}

} // namespace

AddressBookStore::ListHandler::ListHandler(uint32_t id,
                                           std::function<std::vector<nv::message>()> items)
    : items_(std::move(items)), handler_(createHandler(this, id)) {}

AddressBookStore::ListHandler::~ListHandler() { handler_->detach(); }

void AddressBookStore::ListHandler::onRequest(IHandler* handler, const nv::message& request) {
  if (request.get(SYS_CMD) != CMD_GETALL) {
    handler->replyError(request, ERROR_NOTIMP, {});
    return;
  }
  nv::message reply;
  reply.set(STD_OBJS, items_());
  handler->reply(request, std::move(reply));
}

AddressBookStore::AddressBookStore(Reactor& reactor)
    : reactor_(reactor), handler_(createHandler(this, kAddressBookHandlerId)),
      groupsList_(kGroupsHandlerId,
                  [this] {
                    std::vector<nv::message> out;
                    for (const auto& [name, index] : groups_) {
                      nv::message g;
                      g.set(STD_ID, index);
                      g.set(entry::kAddress, name);
                      out.push_back(std::move(g));
                    }
                    return out;
                  }),
      sessionList_(kSessionListHandlerId, [this] {
        std::vector<nv::message> out;
        for (const auto& name : sessions_) {
          nv::message s;
          s.set(entry::kAddress, name);
          out.push_back(std::move(s));
        }
        return out;
      }) {}

AddressBookStore::~AddressBookStore() {
  if (saveTimer_)
    reactor_.removeTimer(saveTimer_);
  handler_->detach();
}

void AddressBookStore::onRequest(IHandler* handler, const nv::message& request) {
  if (subscribers_.handle(handler, request, [this] { return shown(); }))
    return;
  bool failed = false;
  nv::message reply = handle(request, failed);
  if (failed) {
    uint32_t code = reply.has(SYS_ERRNO) ? reply.get(SYS_ERRNO) : ERROR_FAILED;
    handler->replyError(request, code, reply.get(SYS_ERRSTR));
    return;
  }
  handler->reply(request, std::move(reply));
}

nv::message AddressBookStore::handle(const nv::message& request, bool& failed) {
  switch (request.get(SYS_CMD)) {
  case bookcmd::kImport: {
    nv::message reply = importFile(request, failed);
    if (!failed)
      announceAll();
    return reply;
  }
  case bookcmd::kExport:
    return exportFile(request, failed);
  case bookcmd::kOpen: {
    nv::message reply = open(request.get(bookcmd::kFile), request.get(bookcmd::kPassword), failed);
    if (!failed)
      announceAll();
    return reply;
  }
  case bookcmd::kSetPassword: {
    bool wasLocked = locked_;
    nv::message reply = setPassword(request.get(bookcmd::kPassword), failed);
    if (!failed && wasLocked)
      announceAll(); // the book was opened again
    return reply;
  }
  case bookcmd::kSave:
    if (!save(request.get(bookcmd::kFile), request.get(bookcmd::kPassword)))
      return failure(failed, kTextCouldNotSave);
    return {};
  case bookcmd::kSessions: {
    sessions_ = listSessions(request.get(bookcmd::kFile));
    nv::message reply;
    reply.set(bookcmd::kNames, sessions_);
    return reply;
  }
  case bookcmd::kAgentFilter: {
    std::string agent = request.get(bookcmd::kAgent);
    if (agent != agentFilter_) {
      agentFilter_ = std::move(agent);
      announceAll();
    }
    return {};
  }
  case CMD_GETALL:
    return list();
  case CMD_ADDOBJ: {
    nv::message e = request;
    e.removeMatching(0xFF0000, 0xFF0000); // the routing fields
    // An entry of the same address and login is updated in place: it may have been shown.
    uint32_t before = kNoId;
    for (const auto& [id, old] : entries_)
      if (old.get(entry::kAddress) == e.get(entry::kAddress) &&
          old.get(entry::kLogin) == e.get(entry::kLogin) && shows(old))
        before = id;
    uint32_t id = add(std::move(e));
    nv::message reply;
    reply.set(STD_ID, id);
    scheduleSave();
    announce(id, before == id);
    return reply;
  }
  case CMD_SETOBJ:
  case CMD_REMOVEOBJ: {
    uint32_t id = request.get(STD_ID, kNoId);
    auto it = entries_.find(id);
    bool wasShown = it != entries_.end() && shows(it->second);
    if (!change(request))
      return failure(failed, "no such entry");
    scheduleSave();
    announce(id, wasShown);
    return {};
  }
  default:
    return failure(failed, "unknown command");
  }
}

nv::message AddressBookStore::importFile(const nv::message& request, bool& failed) {
  std::string file = request.get(bookcmd::kFile);
  auto bytes = readWholeFile(file);
  if (!bytes) {
    logf("ERROR: could not import: ", bytes.error().text);
    return failure(failed, bytes.error().text);
  }
  BookContents book = readAddressBook(*bytes, {}, BookReadMode::Import);
  if (book.status == BookStatus::PasswordRequired)
    return failure(failed, "the file is enciphered");
  if (book.status != BookStatus::Ok)
    return failure(failed, "not an address file");
  for (auto& e : book.entries)
    add(std::move(e));
  if (!book.entries.empty())
    scheduleSave();
  nv::message reply;
  reply.set(bookcmd::kCount, uint32_t(book.entries.size()));
  return reply;
}

nv::message AddressBookStore::exportFile(const nv::message& request, bool& failed) {
  std::vector<nv::message> all;
  for (const auto& [id, e] : entries_)
    all.push_back(e);
  auto passwords =
      request.get(bookcmd::kWithPasswords) ? ExportPasswords::With : ExportPasswords::Without;
  std::string file = request.get(bookcmd::kFile);
  auto saved = saveFileAtomically(file, writeExport(all, passwords), "kstl");
  if (!saved) {
    logf("ERROR: could not export: ", saved.error().text);
    return failure(failed, saved.error().text);
  }
  return {};
}

nv::message AddressBookStore::open(const std::string& file, const std::string& password,
                                   bool& failed) {
  logf("loadConfig ", file);
  auto bytes = readWholeFile(file);
  if (!bytes) {
    logf("ERROR: could not open: ", bytes.error().text);
    return failure(failed, bytes.error().text);
  }
  BookContents book = readAddressBook(*bytes, password, BookReadMode::Open);
  nv::message reply;
  if (book.status == BookStatus::NotAddressFile)
    return failure(failed, "not an address file");
  if (book.status != BookStatus::Ok) {
    // The entries in memory stay; the locked store never writes them over this file.
    path_ = file;
    password_ = password;
    locked_ = true;
    reply.set(bookcmd::kNeedsPassword, true);
    reply.set(bookcmd::kStatusText, book.status == BookStatus::BadPassword ? kTextBadPassword : "");
    return reply;
  }
  if (saveTimer_) {
    reactor_.removeTimer(std::exchange(saveTimer_, 0));
    debouncedSave(); // the old book's pending change goes to the old file first
  }
  entries_.clear();
  groups_.clear();
  nextId_ = 1;
  for (auto& e : book.entries)
    add(std::move(e));
  path_ = file;
  password_ = book.enciphered ? password : std::string();
  locked_ = false;
  needsPassword_ = false;
  errorText_.clear();
  reply.set(bookcmd::kNeedsPassword, false);
  reply.set(bookcmd::kStatusText, book.enciphered ? kTextEncrypted : "");
  return reply;
}

nv::message AddressBookStore::openAtStart(const std::string& appData,
                                          const std::string& commandLineFile,
                                          const std::string& password) {
  std::string book = chooseAddressBook(appData, commandLineFile);
  bool failed = false;
  if (isRegularFile(book))
    return open(book, password, failed);
  path_ = book;
  password_.clear();
  std::string old = appData + "/kestel.cfg";
  if (isRegularFile(old)) {
    nv::message request;
    request.set(bookcmd::kFile, old);
    (void)importFile(request, failed); // a broken old file is logged; the new book starts empty
  }
  return {};
}

nv::message AddressBookStore::setPassword(const std::string& password, bool& failed) {
  if (locked_) {
    nv::message reply = open(path_, password, failed);
    if (failed || reply.get(bookcmd::kNeedsPassword)) {
      failed = true;
      nv::message error;
      error.set(SYS_ERRNO, ERROR_FAILED);
      error.set(SYS_ERRSTR, kTextBadPassword);
      return error;
    }
    return reply;
  }
  if (needsPassword_) {
    auto bytes = readWholeFile(path_);
    if (bytes && !bookOpensWith(*bytes, password)) {
      nv::message error = failure(failed, kTextBadPassword);
      error.set(SYS_ERRNO, ERROR_FAILED);
      return error;
    }
  }
  password_ = password;
  needsPassword_ = false;
  if (saveTimer_)
    reactor_.removeTimer(std::exchange(saveTimer_, 0));
  if (!path_.empty() && !save(path_, password_))
    return failure(failed, kTextCouldNotSave);
  return {};
}

bool AddressBookStore::shows(const nv::message& e) const {
  return agentFilter_.empty() || e.get(entry::kAgent) == agentFilter_;
}

const nv::message* AddressBookStore::entry(uint32_t id) const {
  auto it = entries_.find(id);
  return it == entries_.end() ? nullptr : &it->second;
}

const nv::message* AddressBookStore::findAddress(const std::string& address) const {
  for (const auto& [id, e] : entries_)
    if (e.get(entry::kAddress) == address)
      return &e;
  return nullptr;
}

std::vector<nv::message> AddressBookStore::shown() const {
  std::vector<nv::message> out;
  for (const auto& [id, e] : entries_)
    if (shows(e))
      out.push_back(e);
  return out;
}

void AddressBookStore::announce(uint32_t id, bool wasShown) {
  if (subscribers_.size() == 0)
    return;
  auto it = entries_.find(id);
  uint32_t count = uint32_t(shown().size());
  if (it != entries_.end() && shows(it->second))
    subscribers_.notify(handler_.get(), {it->second}, count);
  else if (wasShown)
    subscribers_.notify(handler_.get(), {deathNotice(id)}, count);
}

void AddressBookStore::announceAll() {
  subscribers_.notify(handler_.get(), {}, uint32_t(shown().size()));
}

nv::message AddressBookStore::list() const {
  nv::message reply;
  reply.set(STD_OBJS, shown());
  reply.set(bookcmd::kNeedsPassword, needsPassword_ || locked_);
  reply.set(bookcmd::kStatusText, errorText_);
  return reply;
}

uint32_t AddressBookStore::add(nv::message e) {
  std::string address = e.get(entry::kAddress), login = e.get(entry::kLogin);
  for (auto& [id, old] : entries_) {
    if (old.get(entry::kAddress) != address || old.get(entry::kLogin) != login)
      continue;
    nv::message merged = old;
    std::vector<uint8_t> fields;
    (void)e.flatten(fields);
    (void)merged.parse(fields);
    merged.set(entry::kGroupIndex, groupIndex(merged.get(entry::kGroup)));
    merged.set(STD_ID, id);
    old = std::move(merged);
    return id;
  }
  uint32_t id = nextId_++;
  if (!e.has(entry::kSession))
    e.set(entry::kSession, kOwnSession);
  e.set(entry::kGroupIndex, groupIndex(e.get(entry::kGroup)));
  e.set(STD_ID, id);
  entries_[id] = std::move(e);
  return id;
}

bool AddressBookStore::change(const nv::message& request) {
  auto it = entries_.find(request.get(STD_ID, kNoId));
  if (it == entries_.end())
    return false;
  if (request.get(SYS_CMD) == CMD_REMOVEOBJ) {
    entries_.erase(it);
    return true;
  }
  nv::message changes = request;
  changes.removeMatching(0xFF0000, 0xFF0000);
  changes.remove(STD_ID);
  std::vector<uint8_t> fields;
  (void)changes.flatten(fields);
  (void)it->second.parse(fields);
  it->second.set(entry::kGroupIndex, groupIndex(it->second.get(entry::kGroup)));
  return true;
}

uint32_t AddressBookStore::groupIndex(const std::string& group) {
  if (group.empty())
    return 0;
  auto [it, added] = groups_.try_emplace(group, uint32_t(groups_.size() + 1));
  return it->second;
}

bool AddressBookStore::save(const std::string& file, const std::string& password) {
  std::vector<nv::message> all;
  for (const auto& [id, e] : entries_)
    all.push_back(e);
  auto bytes = writeAddressBook(all, password, freshNonce());
  auto saved = bytes ? saveFileAtomically(file, *bytes, "kstl") : Expected<void>(bytes.error());
  if (!saved) {
    logf("ERROR: could not save ", file, ": ", saved.error().text);
    errorText_ = kTextCouldNotSave;
    return false;
  }
  errorText_.clear();
  return true;
}

void AddressBookStore::scheduleSave() {
  if (saveTimer_)
    return;
  saveTimer_ = reactor_.addTimer(
      kSaveDelayMs,
      [this] {
        saveTimer_ = 0;
        debouncedSave();
      },
      false);
}

void AddressBookStore::debouncedSave() {
  if (locked_ || path_.empty())
    return;
  auto onDisk = readWholeFile(path_);
  if (onDisk && !bookOpensWith(*onDisk, password_)) {
    needsPassword_ = true;
    return;
  }
  save(path_, password_);
}

void AddressBookStore::flush() {
  if (!saveTimer_)
    return;
  reactor_.removeTimer(std::exchange(saveTimer_, 0));
  debouncedSave();
}

} // namespace kestel
