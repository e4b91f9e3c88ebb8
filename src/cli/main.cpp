// kestel-cli: the scripting command line of the Kestel client. With an address, a login and a
// password it connects to the router, logs in, prints the outcome and the router's facts, and
// exits with 0 only when the login succeeded. The password comes from --password-file, from
// KESTEL_PASSWORD or from a prompt on the terminal; one given as an argument is still taken, with
// a warning, and wiped from the argument memory at once. The log goes to the default log file.
#include "BookCommands.h"
#include "CacheCommands.h"
#include "MenuCommands.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "api/wire/Vocabulary.h"
#include "app/CacheFolders.h"
#include "app/ConnectStep.h"
#include "app/PasswordInput.h"
#include "app/ReadyStep.h"
#include "util/Log.h"

#include <kestel/Version.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace {

using namespace kestel;

void usage() {
  std::fprintf(stderr,
               "usage: kestel-cli --version\n"
               "       kestel-cli [--legacy] [--verbose] [--password-file <path>] [--menus] "
               "<address>[:port] <login>\n"
               "The password comes from --password-file, from %s or from a prompt on the\n"
               "terminal. With --menus the router's descriptor files are brought into the cache\n"
               "and its menus are printed instead of the login facts. The log is written to %s.\n"
               "Router commands (each with --help):\n",
               kPasswordVariable, defaultLogPath().c_str());
  kestel::cli::printRouterCommandsUsage();
}

struct Target {
  std::string host;
  uint32_t port = 0;
};

// host, host:port, [v6] or [v6]:port; nullopt for anything else.
std::optional<Target> parseAddress(const std::string& text) {
  Target t;
  std::string rest;
  if (!text.empty() && text[0] == '[') {
    size_t close = text.find(']');
    if (close == std::string::npos)
      return std::nullopt;
    t.host = text.substr(1, close - 1);
    rest = text.substr(close + 1);
    if (!rest.empty() && rest[0] != ':')
      return std::nullopt;
  } else {
    size_t colon = text.find(':');
    if (colon != std::string::npos && text.find(':', colon + 1) != std::string::npos)
      return std::nullopt; // IPv6 without brackets
    t.host = text.substr(0, colon);
    if (colon != std::string::npos)
      rest = text.substr(colon);
  }
  if (!rest.empty()) {
    std::string digits = rest.substr(1);
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
      return std::nullopt;
    unsigned long port = std::stoul(digits);
    if (port < 1 || port > 65535)
      return std::nullopt;
    t.port = uint32_t(port);
  }
  if (t.host.empty())
    return std::nullopt;
  return t;
}

// The password from the first source there is: the argument (warned about and wiped), the
// file, the environment, the terminal. nullopt after saying why there is none.
std::optional<std::string> obtainPassword(std::optional<std::string> argument, const char* file) {
  if (argument) {
    std::fprintf(stderr,
                 "kestel-cli: warning: a password on the command line is visible to other "
                 "users; use --password-file or %s\n",
                 kPasswordVariable);
    return argument;
  }
  if (file) {
    auto password = readPasswordFile(file);
    if (!password) {
      std::fprintf(stderr, "kestel-cli: %s\n", password.error().text.c_str());
      return std::nullopt;
    }
    return std::move(*password);
  }
  if (auto password = takePasswordFromEnvironment())
    return password;
  int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  auto password = tty >= 0 ? promptPassword(tty, "Password: ")
                           : Expected<std::string>(makeError("no terminal"));
  if (tty >= 0)
    ::close(tty);
  if (!password) {
    std::fprintf(stderr,
                 "kestel-cli: no password (%s): give --password-file <path>, set %s or run on "
                 "a terminal\n",
                 password.error().text.c_str(), kPasswordVariable);
    return std::nullopt;
  }
  return std::move(*password);
}

// Opens the default log file; --verbose also mirrors it to stderr.
void openDefaultLog() {
  std::string path = defaultLogPath();
  if (!openLogFile(path))
    std::fprintf(stderr, "kestel-cli: warning: cannot open the log file %s\n", path.c_str());
}

void printFacts(const ConnectOutcome& outcome) {
  const nv::message& r = outcome.reply;
  std::printf("logged in (%s login)\n", outcome.legacy ? "legacy" : "secure");
  std::printf("router version: %s\n", r.get(kLoginReplyVersion).c_str());
  std::printf("required client version: %s\n", r.get(kLoginReplyRequiredClient).c_str());
  std::printf("skin: %s\n", r.get(kLoginReplySkin).c_str());
  std::printf("password change required: %s\n", r.get(kLoginReplyChangePassword) ? "yes" : "no");
  std::printf("policy: 0x%08x\n", unsigned(r.get(kLoginReplyPolicy)));
}

// Connects, logs in, brings the descriptor cache up to date (progress on stderr), loads the
// router's descriptors and prints its menus.
int printRouterMenus(ConnectRequest connect) {
  PollReactor reactor;
  ReactorScope scope(reactor);
  ReadyRequest request;
  request.connect = std::move(connect);
  request.appData = appDataFolder();
  if (request.appData.empty())
    return 1; // the folder could not be made; appDataFolder() said why in the log
  std::optional<ReadyOutcome> result;
  auto step = makeRef<ReadyStep>(
      reactor, std::move(request),
      [](const std::string& status) { std::fprintf(stderr, "%s\n", status.c_str()); },
      [&](const ReadyOutcome& outcome) {
        result = outcome;
        reactor.stop();
      });
  step->start();
  reactor.run();
  int code = 1;
  if (result && result->ok) {
    kestel::cli::printMenus();
    code = 0;
  } else {
    std::fprintf(stderr, "%s\n", result ? result->error.c_str() : "no outcome");
  }
  step->cancel();
  return code;
}

} // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "book") == 0)
    return runBookCommand(argc - 2, argv + 2);
  if (argc >= 2 && std::strcmp(argv[1], "settings") == 0)
    return runSettingsCommand(argc - 2, argv + 2);
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("kestel-cli %s\n", kKestelVersion);
    return 0;
  }
  if (int code = kestel::cli::runCacheCommand(argc, argv); code >= 0)
    return code;
  if (argc >= 2 && kestel::cli::isRouterCommand(argv[1])) {
    // "kestel-cli <command> --help" needs no router.
    kestel::cli::RouterCommand command{argv[1], {argv + 2, argv + argc}};
    if (int code = kestel::cli::routerCommandHelp(command); code >= 0)
      return code;
    usage();
    return 2;
  }
  ConnectRequest request;
  std::vector<std::string> positional;
  std::optional<std::string> passwordArgument;
  const char* passwordFile = nullptr;
  bool menus = false;
  std::optional<kestel::cli::RouterCommand> command;
  for (int i = 1; i < argc; ++i) {
    if (positional.size() == 2 && kestel::cli::isRouterCommand(argv[i])) {
      command = kestel::cli::RouterCommand{argv[i], {argv + i + 1, argv + argc}};
      break;
    }
    if (std::strcmp(argv[i], "--menus") == 0) {
      menus = true;
    } else if (std::strcmp(argv[i], "--legacy") == 0) {
      request.legacyMode = true;
    } else if (std::strcmp(argv[i], "--verbose") == 0) {
      setLogToStderr(true);
    } else if (std::strcmp(argv[i], "--password-file") == 0 && i + 1 < argc) {
      passwordFile = argv[++i];
    } else if (positional.size() == 2) {
      passwordArgument = std::string(argv[i]);
      wipeArgument(argv[i]); // /proc/<pid>/cmdline shows arguments to every local user
      positional.emplace_back();
    } else {
      positional.emplace_back(argv[i]);
    }
  }
  if (positional.size() != 2 && positional.size() != 3) {
    usage();
    return 2;
  }
  if (command) {
    if (int code = kestel::cli::routerCommandHelp(*command); code >= 0)
      return code;
  }
  auto target = parseAddress(positional[0]);
  if (!target) {
    std::fprintf(stderr, "invalid address - %s\n", positional[0].c_str());
    return 2;
  }
  auto password = obtainPassword(std::move(passwordArgument), passwordFile);
  if (!password)
    return 2;
  openDefaultLog();
  request.address = target->host;
  request.port = target->port;
  request.login = positional[1];
  request.password = std::move(*password);

  if (command)
    return kestel::cli::runRouterCommand(*command, std::move(request));
  if (menus)
    return printRouterMenus(std::move(request));

  PollReactor reactor;
  ReactorScope scope(reactor);
  std::optional<ConnectOutcome> result;
  auto step = makeRef<ConnectStep>(reactor, request, [&](const ConnectOutcome& outcome) {
    result = outcome;
    reactor.stop();
  });
  step->start();
  reactor.run();
  int code = 1;
  if (result && result->kind == ConnectOutcome::LoggedIn) {
    printFacts(*result);
    code = 0;
  } else {
    std::fprintf(stderr, "%s\n", result ? result->text.c_str() : "no outcome");
  }
  step->cancel();
  step = nullptr;
  return code;
}
