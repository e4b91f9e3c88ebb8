#include "app/AddressBookStore.h"

#include "api/net/Events.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "api/wire/Vocabulary.h"
#include "miw/SafeFile.h"
#include "support/TempFolder.h"
#include "util/Log.h"

#include <gtest/gtest.h>

namespace kestel {
namespace {

class Replies final : public EventListener {
public:
  void onEvent(Event& event) override {
    if (const nv::message* m = messageOf(event))
      last = *m;
  }
  nv::message last;
};

// A client of the store reached like a router handler, on a manual clock.
class StoreTest : public ::testing::Test {
protected:
  StoreTest() : scope_(reactor_) {}
  ~StoreTest() override {
    store_.reset();
    client_->detach();
    client_ = nullptr;
    resetLooper();
  }

  nv::message ask(uint32_t command, nv::message request = {}) {
    Reference<Replies> replies(new Replies);
    client_->request(command, Path{0, kAddressBookHandlerId}, std::move(request), replies.get(), 0);
    return replies->last;
  }
  nv::message openBook(const std::string& file, const std::string& password) {
    nv::message m;
    m.set(bookcmd::kFile, file);
    m.set(bookcmd::kPassword, password);
    return ask(bookcmd::kOpen, m);
  }
  uint32_t addRouter(const std::string& address, const std::string& login,
                     const std::string& group = "") {
    nv::message m;
    m.set(entry::kAddress, address);
    m.set(entry::kLogin, login);
    m.set(entry::kGroup, group);
    return ask(CMD_ADDOBJ, m).get(STD_ID);
  }
  std::vector<nv::message> entries() { return ask(CMD_GETALL).get(STD_OBJS); }
  Bytes fileBytes(const std::string& path) { return readWholeFile(path).value(); }
  static uint32_t errorOf(const nv::message& reply) {
    return reply.get(SYS_STATUS, STATUS_OK) == STATUS_ERROR ? reply.get(SYS_ERRNO) : 0;
  }
  void writeBook(const std::string& path, const std::vector<nv::message>& e,
                 const std::string& password) {
    ASSERT_TRUE(saveFileAtomically(path, *writeAddressBook(e, password, {}), "kstl").ok());
  }

  struct FreshLooper {
    FreshLooper() { resetLooper(); } // before the store and the client register in it
  } freshLooper_;
  PollReactor reactor_{PollReactor::Clock::Manual};
  ReactorScope scope_;
  test::TempFolder dir_;
  std::unique_ptr<AddressBookStore> store_ = std::make_unique<AddressBookStore>(reactor_);
  Reference<IHandler> client_ = createHandler(nullptr);
};

TEST_F(StoreTest, ChangesAreSavedOnce100msAfterTheFirst) {
  std::string book = dir_.file("Addresses.cdb");
  writeBook(book, {}, "");
  ASSERT_FALSE(openBook(book, "").get(bookcmd::kNeedsPassword));
  addRouter("198.18.0.1", "admin", "lab");
  reactor_.advance(50);
  addRouter("198.18.0.2", "admin", "lab");
  EXPECT_EQ(fileBytes(book).size(), 4u) << "nothing written before the delay";
  reactor_.advance(50);
  BookContents saved = readAddressBook(fileBytes(book), "", BookReadMode::Open);
  ASSERT_EQ(saved.entries.size(), 2u);
  EXPECT_EQ(saved.entries[0].get(entry::kSession), "<own>");
  EXPECT_EQ(saved.entries[1].get(entry::kGroupIndex), saved.entries[0].get(entry::kGroupIndex));
  EXPECT_EQ(reactor_.timerCount(), 0u);
}

TEST_F(StoreTest, SameAddressAndLoginUpdatesInPlace) {
  uint32_t a = addRouter("r", "admin", "g1");
  EXPECT_EQ(addRouter("r", "admin", "g2"), a);
  EXPECT_NE(addRouter("r", "other"), a);
  auto all = entries();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].get(entry::kGroup), "g2");
}

TEST_F(StoreTest, EncipheredBookNeedsItsPasswordAndStaysLockedUntilGiven) {
  std::string book = dir_.file("sealed.cdb");
  nv::message r;
  r.set(entry::kAddress, "secret-router");
  writeBook(book, {r}, "master");
  Bytes original = fileBytes(book);
  addRouter("kept", "admin");

  nv::message none = openBook(book, "");
  EXPECT_TRUE(none.get(bookcmd::kNeedsPassword));
  nv::message wrong = openBook(book, "nope");
  EXPECT_TRUE(wrong.get(bookcmd::kNeedsPassword));
  EXPECT_EQ(wrong.get(bookcmd::kStatusText), "Bad password");
  EXPECT_TRUE(store_->locked());
  ASSERT_EQ(entries().size(), 1u) << "the entries in memory stay";
  addRouter("more", "admin");
  reactor_.advance(1000);
  EXPECT_EQ(fileBytes(book), original) << "a locked store never writes over the file";

  nv::message m;
  m.set(bookcmd::kPassword, "still wrong");
  EXPECT_EQ(errorOf(ask(bookcmd::kSetPassword, m)), 0xFE0006u);
  m.set(bookcmd::kPassword, "master");
  EXPECT_EQ(errorOf(ask(bookcmd::kSetPassword, m)), 0u);
  EXPECT_FALSE(store_->locked());
  auto all = entries();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].get(entry::kAddress), "secret-router");
  EXPECT_EQ(openBook(book, "master").get(bookcmd::kStatusText), "Encrypted");
}

TEST_F(StoreTest, BookEncipheredBehindItsBackIsNotOverwritten) {
  std::string book = dir_.file("b.cdb");
  writeBook(book, {}, "");
  openBook(book, "");
  writeBook(book, {}, "other"); // another instance set a master password meanwhile
  Bytes theirs = fileBytes(book);
  addRouter("x", "y");
  reactor_.advance(100);
  EXPECT_EQ(fileBytes(book), theirs);
  EXPECT_TRUE(store_->needsPassword());
  EXPECT_TRUE(ask(CMD_GETALL).get(bookcmd::kNeedsPassword));
  nv::message m;
  m.set(bookcmd::kPassword, "mine");
  EXPECT_EQ(errorOf(ask(bookcmd::kSetPassword, m)), 0xFE0006u);
  m.set(bookcmd::kPassword, "other");
  EXPECT_EQ(errorOf(ask(bookcmd::kSetPassword, m)), 0u);
  BookContents now = readAddressBook(fileBytes(book), "other", BookReadMode::Open);
  ASSERT_EQ(now.status, BookStatus::Ok);
  EXPECT_EQ(now.entries.size(), 1u);
}

TEST_F(StoreTest, ClearingTheMasterPasswordRewritesInClear) {
  std::string book = dir_.file("b.cdb");
  writeBook(book, {}, "pw");
  openBook(book, "pw");
  nv::message m;
  m.set(bookcmd::kPassword, "");
  EXPECT_EQ(errorOf(ask(bookcmd::kSetPassword, m)), 0u);
  EXPECT_EQ(fileBytes(book), *writeAddressBook({}, "", {}));
}

TEST_F(StoreTest, FailedSaveKeepsTheFileAndSaysSo) {
  std::string book = dir_.file("b.cdb");
  writeBook(book, {}, "");
  openBook(book, "");
  Bytes before = fileBytes(book);
  addRouter("x", "y");
  setSaveWriteHookForTesting([](size_t) { return false; }, 0);
  CaptureLogSink log;
  reactor_.advance(100);
  setSaveWriteHookForTesting({}, 0);
  EXPECT_EQ(fileBytes(book), before);
  EXPECT_EQ(store_->errorText(), "Could not save configuration");
  EXPECT_TRUE(log.contains("ERROR: could not save"));
}

TEST_F(StoreTest, ExportImportAndNotAnAddressFile) {
  addRouter("a", "admin");
  std::string ksx = dir_.file("out.ksx");
  nv::message m;
  m.set(bookcmd::kFile, ksx);
  m.set(bookcmd::kWithPasswords, false);
  EXPECT_EQ(errorOf(ask(bookcmd::kExport, m)), 0u);
  EXPECT_EQ(ask(bookcmd::kImport, m).get(bookcmd::kCount), 1u);
  EXPECT_EQ(entries().size(), 1u) << "same address and login: updated, not added";
  std::string junk = dir_.file("junk");
  ASSERT_TRUE(saveFileAtomically(junk, asBytes("not a book"), "kstl").ok());
  EXPECT_EQ(errorOf(openBook(junk, "")), ERROR_FAILED);
  EXPECT_EQ(entries().size(), 1u);
  EXPECT_EQ(fileBytes(junk), Bytes(asBytes("not a book").begin(), asBytes("not a book").end()));
}

TEST_F(StoreTest, AgentFilterAndRemove) {
  nv::message m;
  m.set(entry::kAddress, "via");
  m.set(entry::kAgent, "agent1");
  uint32_t id = ask(CMD_ADDOBJ, m).get(STD_ID);
  addRouter("direct", "admin");
  nv::message f;
  f.set(bookcmd::kAgent, "agent1");
  ask(bookcmd::kAgentFilter, f);
  EXPECT_EQ(entries().size(), 1u);
  nv::message rm;
  rm.set(STD_ID, id);
  ask(CMD_REMOVEOBJ, rm);
  EXPECT_EQ(entries().size(), 0u);
  EXPECT_EQ(errorOf(ask(CMD_REMOVEOBJ, rm)), ERROR_FAILED);
}

} // namespace
} // namespace kestel

namespace kestel {
namespace {

TEST_F(StoreTest, FirstStartImportsTheOldAddressFileIntoANewBook) {
  nv::message r;
  r.set(entry::kAddress, "old-router");
  r.set(entry::kLogin, "admin");
  Bytes old = writeExport({r}, ExportPasswords::Without);
  ASSERT_TRUE(saveFileAtomically(dir_.file("kestel.cfg"), old, "kstl").ok());
  store_->openAtStart(dir_.path(), "", "");
  reactor_.advance(100);
  BookContents book =
      readAddressBook(fileBytes(dir_.file("Addresses.cdb")), "", BookReadMode::Open);
  ASSERT_EQ(book.entries.size(), 1u);
  EXPECT_EQ(book.entries[0].get(entry::kAddress), "old-router");
  EXPECT_EQ(fileBytes(dir_.file("kestel.cfg")), old);
  // The next start opens the book and imports nothing again.
  addRouter("new", "admin");
  reactor_.advance(100);
  store_.reset(); // the slot at (0, 1) is free again
  store_ = std::make_unique<AddressBookStore>(reactor_);
  store_->openAtStart(dir_.path(), "", "");
  EXPECT_EQ(store_->size(), 2u);
  EXPECT_EQ(entries().size(), 2u);
}

} // namespace
} // namespace kestel

namespace kestel {
namespace {

TEST_F(StoreTest, GroupsAndSessionsAreListsOfTheirOwn) {
  addRouter("a", "x", "lab");
  addRouter("b", "x", "office");
  addRouter("c", "x", "lab");
  Reference<Replies> replies(new Replies);
  client_->request(CMD_GETALL, Path{0, kGroupsHandlerId}, {}, replies.get(), 0);
  auto groups = replies->last.get(STD_OBJS);
  ASSERT_EQ(groups.size(), 2u);
  auto all = entries();
  for (const auto& g : groups) {
    size_t members = 0;
    for (const auto& e : all)
      members += e.get(entry::kGroupIndex) == g.get(STD_ID) &&
                 e.get(entry::kGroup) == g.get(entry::kAddress);
    EXPECT_EQ(members, g.get(entry::kAddress) == "lab" ? 2u : 1u);
  }
  ASSERT_TRUE(saveFileAtomically(dir_.file("r%1.viw"), {}, "viw").ok());
  nv::message m;
  m.set(bookcmd::kFile, dir_.path());
  EXPECT_EQ(ask(bookcmd::kSessions, m).get(bookcmd::kNames),
            (std::vector<std::string>{"r:1", "<none>", "<own>"}));
  client_->request(CMD_GETALL, Path{0, kSessionListHandlerId}, {}, replies.get(), 0);
  auto sessions = replies->last.get(STD_OBJS);
  ASSERT_EQ(sessions.size(), 3u);
  EXPECT_EQ(sessions[0].get(entry::kAddress), "r:1");
}

} // namespace
} // namespace kestel
