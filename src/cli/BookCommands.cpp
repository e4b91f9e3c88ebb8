#include "BookCommands.h"
#include "JsonText.h"

#include "api/net/Events.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "api/wire/Vocabulary.h"
#include "app/AddressBookStore.h"
#include "app/AppPaths.h"
#include "app/PasswordInput.h"
#include "app/Startup.h"
#include "app/UpgradeHandler.h"
#include "miw/SafeFile.h"
#include "miw/Settings.h"
#include "util/Log.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace kestel {

namespace {

int usage() {
  std::fprintf(stderr, "usage: kestel-cli book list [--file F] [--json]\n"
                       "       kestel-cli book import <file> [--file F]\n"
                       "       kestel-cli book export <file> [--with-passwords] [--file F]\n"
                       "       kestel-cli book add <address> <login> [--group G] [--note N]\n"
                       "                           [--password-file P] [--file F]\n"
                       "       kestel-cli book passwd [--file F]\n"
                       "       (every book command takes --master-password-file M)\n"
                       "       kestel-cli settings dump <file.viw>\n"
                       "       kestel-cli settings upgrade-server [<host>[:<port>] | --off]\n");
  return 2;
}

class Replies final : public EventListener {
public:
  void onEvent(Event& event) override {
    if (const nv::message* m = messageOf(event))
      last = *m;
  }
  nv::message last;
};

struct Options {
  std::vector<std::string> words;
  std::map<std::string, std::string> values;
  bool json = false;
  bool withPasswords = false;
};

std::optional<Options> parse(int argc, char** argv) {
  Options o;
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--json") {
      o.json = true;
    } else if (a == "--with-passwords") {
      o.withPasswords = true;
    } else if (a.rfind("--", 0) == 0) {
      if (i + 1 >= argc)
        return std::nullopt;
      o.values[a] = argv[++i];
    } else {
      o.words.push_back(a);
    }
  }
  return o;
}

std::optional<std::string> promptTwice(const char* what) {
  int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
  if (tty < 0) {
    std::fprintf(stderr, "kestel-cli: no terminal to ask for the %s\n", what);
    return std::nullopt;
  }
  std::string first = std::string("New ") + what + ": ";
  auto a = promptPassword(tty, first.c_str());
  auto b = a ? promptPassword(tty, "Again: ") : a;
  ::close(tty);
  if (!a || !b || *a != *b) {
    std::fprintf(stderr, "kestel-cli: the two entries differ or none was given\n");
    return std::nullopt;
  }
  return *a;
}

// One command-line session with the store: a reactor, the store at (0, 1) and a client handler.
class BookSession {
public:
  BookSession() : scope_(reactor_) {}
  ~BookSession() {
    store_->flush();
    client_->detach();
  }
  nv::message ask(uint32_t command, nv::message request = {}) {
    Reference<Replies> replies(new Replies);
    client_->request(command, Path{0, kAddressBookHandlerId}, std::move(request), replies.get(), 0);
    return replies->last;
  }
  static bool failed(const nv::message& reply) {
    if (reply.get(SYS_STATUS, STATUS_OK) != STATUS_ERROR)
      return false;
    std::fprintf(stderr, "kestel-cli: %s\n", reply.get(SYS_ERRSTR).c_str());
    return true;
  }
  bool saveFailed() {
    store_->flush();
    if (store_->errorText().empty() && !store_->needsPassword())
      return false;
    std::fprintf(stderr, "kestel-cli: %s\n",
                 store_->needsPassword() ? "the book needs its master password"
                                         : store_->errorText().c_str());
    return true;
  }

private:
  PollReactor reactor_;
  ReactorScope scope_;
  std::unique_ptr<AddressBookStore> store_ = std::make_unique<AddressBookStore>(reactor_);
  Reference<IHandler> client_ = createHandler(nullptr);
};

// Opens the chosen book (a missing one starts empty at that path). False when it stays locked.
bool openBook(BookSession& s, const Options& o, std::string& path) {
  std::string appData = appDataFolder();
  auto f = o.values.find("--file");
  path = chooseAddressBook(appData, f == o.values.end() ? "" : f->second);
  std::string master;
  auto m = o.values.find("--master-password-file");
  if (m != o.values.end()) {
    auto read = readPasswordFile(m->second);
    if (!read) {
      std::fprintf(stderr, "kestel-cli: %s\n", read.error().text.c_str());
      return false;
    }
    master = *read;
  }
  if (!isRegularFile(path)) {
    (void)makeFolders(parentFolder(path));
    nv::message save;
    save.set(bookcmd::kFile, path);
    save.set(bookcmd::kPassword, master);
    if (BookSession::failed(s.ask(bookcmd::kSave, save)))
      return false;
  }
  nv::message req;
  req.set(bookcmd::kFile, path);
  req.set(bookcmd::kPassword, master);
  nv::message reply = s.ask(bookcmd::kOpen, req);
  if (BookSession::failed(reply))
    return false;
  if (!reply.get(bookcmd::kNeedsPassword))
    return true;
  std::fprintf(stderr, "kestel-cli: %s: %s\n", path.c_str(),
               master.empty() ? "the book is enciphered; give --master-password-file"
                              : reply.get(bookcmd::kStatusText).c_str());
  return false;
}

void printList(const std::vector<nv::message>& all, bool asJson) {
  if (!asJson) {
    for (const auto& e : all)
      std::printf("%s\t%s\t%s\t%s\n", e.get(entry::kAddress).c_str(), e.get(entry::kLogin).c_str(),
                  e.get(entry::kGroup).c_str(), e.get(entry::kNote).c_str());
    return;
  }
  std::printf("[");
  for (size_t i = 0; i < all.size(); ++i) {
    const auto& e = all[i];
    std::printf("%s\n {\"address\": %s, \"login\": %s, \"group\": %s, \"note\": %s, "
                "\"session\": %s, \"secure\": %s, \"keepPassword\": %s, \"hasPassword\": %s}",
                i ? "," : "", jsonString(e.get(entry::kAddress)).c_str(),
                jsonString(e.get(entry::kLogin)).c_str(), jsonString(e.get(entry::kGroup)).c_str(),
                jsonString(e.get(entry::kNote)).c_str(), jsonString(e.get(entry::kSession)).c_str(),
                e.get(entry::kSecure) ? "true" : "false",
                e.get(entry::kKeepPassword) ? "true" : "false",
                e.get(entry::kPassword).empty() ? "false" : "true");
  }
  std::printf("\n]\n");
}

int addEntry(BookSession& s, const Options& o) {
  if (o.words.size() != 3)
    return usage();
  std::string password;
  auto pf = o.values.find("--password-file");
  if (pf != o.values.end()) {
    auto read = readPasswordFile(pf->second);
    if (!read) {
      std::fprintf(stderr, "kestel-cli: %s\n", read.error().text.c_str());
      return 1;
    }
    password = *read;
  } else {
    auto typed = promptTwice("router password");
    if (!typed)
      return 1;
    password = *typed;
  }
  nv::message e;
  e.set(entry::kAddress, o.words[1]);
  e.set(entry::kLogin, o.words[2]);
  e.set(entry::kPassword, password);
  e.set(entry::kKeepPassword, true);
  e.set(entry::kSecure, true);
  auto g = o.values.find("--group");
  e.set(entry::kGroup, g == o.values.end() ? "" : g->second);
  auto n = o.values.find("--note");
  e.set(entry::kNote, n == o.values.end() ? "" : n->second);
  return BookSession::failed(s.ask(CMD_ADDOBJ, e)) || s.saveFailed() ? 1 : 0;
}

} // namespace

int runBookCommand(int argc, char** argv) {
  auto o = parse(argc, argv);
  if (!o || o->words.empty())
    return usage();
  const std::string& verb = o->words[0];
  if (verb != "list" && verb != "import" && verb != "export" && verb != "add" && verb != "passwd")
    return usage();
  BookSession s;
  std::string path;
  if (!openBook(s, *o, path))
    return 1;
  if (verb == "list") {
    printList(s.ask(CMD_GETALL).get(STD_OBJS), o->json);
    return 0;
  }
  if (verb == "import" || verb == "export") {
    if (o->words.size() != 2)
      return usage();
    nv::message req;
    req.set(bookcmd::kFile, o->words[1]);
    req.set(bookcmd::kWithPasswords, o->withPasswords);
    nv::message reply = s.ask(verb == "import" ? bookcmd::kImport : bookcmd::kExport, req);
    if (BookSession::failed(reply) || s.saveFailed())
      return 1;
    if (verb == "import")
      std::printf("imported %u entries into %s\n", reply.get(bookcmd::kCount), path.c_str());
    return 0;
  }
  if (verb == "add")
    return addEntry(s, *o);
  auto typed = promptTwice("master password (empty: none)");
  if (!typed)
    return 1;
  nv::message req;
  req.set(bookcmd::kPassword, *typed);
  return BookSession::failed(s.ask(bookcmd::kSetPassword, req)) ? 1 : 0;
}

// The loader's upgrade server: printed, set, or switched off ("--off").
int upgradeServerCommand(int argc, char** argv) {
  SettingsRegistry& settings = settingsRegistry();
  settings.loadSettings(appDataFolder() + "/" + kSettingsFileName);
  if (argc == 1) {
    std::string server = upgradeServerSetting(settings);
    std::printf("%s\n", server.empty() ? "(none: the self-upgrade is off)" : server.c_str());
    return 0;
  }
  std::string server = std::strcmp(argv[1], "--off") == 0 ? std::string() : argv[1];
  if (!server.empty() && !isUpgradeServerName(server)) {
    std::fprintf(stderr, "kestel-cli: not a host name or address with a port: %s\n", argv[1]);
    return 2;
  }
  return setUpgradeServerSetting(settings, server) && settings.saveSettings() ? 0 : 1;
}

int runSettingsCommand(int argc, char** argv) {
  if (argc >= 1 && argc <= 2 && std::strcmp(argv[0], "upgrade-server") == 0)
    return upgradeServerCommand(argc, argv);
  if (argc != 2 || std::strcmp(argv[0], "dump") != 0)
    return usage();
  auto bytes = readWholeFile(argv[1]);
  if (!bytes) {
    std::fprintf(stderr, "kestel-cli: %s\n", bytes.error().text.c_str());
    return 1;
  }
  CaptureLogSink log;
  auto records = parseSettingsFile(*bytes);
  std::printf("{\"records\": [");
  bool firstRecord = true;
  for (const auto& [id, map] : records) {
    std::printf("%s\n  {\"id\": %u, \"fields\": {", firstRecord ? "" : ",", id);
    firstRecord = false;
    bool first = true;
    for (const auto& [key, value] : map.fields()) {
      std::string hex;
      for (unsigned char c : value) {
        char b[3];
        std::snprintf(b, sizeof b, "%02x", c);
        hex += b;
      }
      std::printf("%s%s: {\"hex\": \"%s\", \"text\": %s}", first ? "" : ", ",
                  jsonString(key).c_str(), hex.c_str(), jsonString(value).c_str());
      first = false;
    }
    std::printf("}}");
  }
  std::printf("\n ],\n \"log\": [");
  for (size_t i = 0; i < log.lines().size(); ++i)
    std::printf("%s%s", i ? ", " : "", jsonString(log.lines()[i]).c_str());
  std::printf("]}\n");
  return 0;
}

} // namespace kestel
