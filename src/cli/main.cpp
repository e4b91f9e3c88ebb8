// kestel-cli: the scripting command line of the Kestel client. With an address, a login and a
// password it connects to the router, logs in, prints the outcome and the router's facts, and
// exits with 0 only when the login succeeded. The password comes from --password-file, from
// KESTEL_PASSWORD or from a prompt on the terminal; one given as an argument is still taken, with
// a warning, and wiped from the argument memory at once. The log goes to the default log file.
#include "BookCommands.h"
#include "CacheCommands.h"
#include "HandOffCommands.h"
#include "HoplinkCommand.h"
#include "LoginOptions.h"
#include "MenuCommands.h"
#include "NeighborCommands.h"
#include "TerminalCommand.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "api/wire/Vocabulary.h"
#include "app/CacheFolders.h"
#include "app/ConnectAddress.h"
#include "app/ConnectStep.h"
#include "app/CrashReport.h"
#include "app/PasswordInput.h"
#include "app/ReadyStep.h"
#include "app/Startup.h"
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
using namespace kestel::cli;

void usage(FILE* out = stderr) {
  std::fprintf(
      out,
      "usage: kestel-cli --version | --help\n"
      "       kestel-cli [--legacy] [--verbose] [--password-file <path>] [--menus | "
      "--new-window] <address>[:port] <login>\n"
      "       kestel-cli terminal [options] <address>[:port] <login>   (terminal --help)\n"
      "       (a MAC address as <address> reaches the router over the MAC-layer transport)\n"
      "The password comes from --password-file, from %s or from a prompt on the\n"
      "terminal. With --menus the router's descriptor files are brought into the cache\n"
      "and its menus are printed instead of the login facts; --new-window does the same\n"
      "in a new process that takes over the logged-in connection. The log is written\n"
      "to %s.\n"
      "Router commands (each with --help):\n",
      kPasswordVariable, defaultLogPath().c_str());
  kestel::cli::printRouterCommandsUsage(out);
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
  installCrashHandler();
  initialiseFramework();
  if (argc == 2 && std::strcmp(argv[1], "-") == 0) {
    openDefaultLog();
    return kestel::cli::runHandedOverSession();
  }
  if (argc >= 2 && std::strcmp(argv[1], "book") == 0)
    return runBookCommand(argc - 2, argv + 2);
  if (argc >= 2 && std::strcmp(argv[1], "terminal") == 0)
    return runTerminalCommand(argc - 1, argv + 1);
  if (argc >= 2 && std::strcmp(argv[1], "settings") == 0)
    return runSettingsCommand(argc - 2, argv + 2);
  if (argc >= 2 && std::strcmp(argv[1], "neighbors") == 0)
    return runNeighborsCommand(argc - 2, argv + 2);
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    usage(stdout);
    return 0;
  }
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
  const char* hoplinkAgent = nullptr;
  bool json = false;
  bool newWindow = false;
  std::optional<kestel::cli::RouterCommand> command;
  for (int i = 1; i < argc; ++i) {
    if (positional.size() == 2 && kestel::cli::isRouterCommand(argv[i])) {
      command = kestel::cli::RouterCommand{argv[i], {argv + i + 1, argv + argc}};
      break;
    }
    if (std::strcmp(argv[i], "--menus") == 0) {
      menus = true;
    } else if (std::strcmp(argv[i], "--new-window") == 0) {
      newWindow = true;
    } else if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (std::strcmp(argv[i], "--hoplink") == 0 && i + 1 < argc) {
      hoplinkAgent = argv[++i];
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
  auto target = parseConnectAddress(hoplinkAgent ? hoplinkAgent : positional[0]);
  if (!target) {
    std::fprintf(stderr, "%s\n", target.error().text.c_str());
    return 2;
  }
  auto password = obtainPassword(std::move(passwordArgument), passwordFile);
  if (!password)
    return 2;
  openDefaultLog();
  request.address = target->host;
  request.port = target->port;
  request.transport = target->transport;
  request.login = positional[1];
  request.password = std::move(*password);

  if (hoplinkAgent && (menus || newWindow || command)) {
    std::fprintf(stderr, "kestel-cli: --menus, --new-window and router commands do not go through "
                         "a Hoplink agent yet\n");
    return 2;
  }
  if (hoplinkAgent && positional[0] == "neighbors")
    return printHoplinkNeighbours(std::move(request), 3, json);
  if (hoplinkAgent) {
    ConnectOutcome reached = loginThroughAgent(std::move(request), positional[0]);
    if (reached.kind != ConnectOutcome::LoggedIn) {
      std::fprintf(stderr, "%s\n", reached.text.c_str());
      return 1;
    }
    printFacts(reached);
    return 0;
  }
  if (command)
    return kestel::cli::runRouterCommand(*command, std::move(request));
  if (menus)
    return printRouterMenus(std::move(request));
  if (newWindow)
    return kestel::cli::openInNewProcess(std::move(request));

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
