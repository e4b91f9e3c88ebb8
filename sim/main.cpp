// nimbalux-sim: stands in for a router on loopback. "--port 0" picks a free port and prints it
// on stdout (one line) once the listener is up, so scripts and tests can connect to it.
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "sim/Console.h"
#include "sim/CrashReports.h"
#include "sim/DiscoveryResponder.h"
#include "sim/FileService.h"
#include "sim/HoplinkAgent.h"
#include "sim/MacResponder.h"
#include "sim/MenuCatalogue.h"
#include "sim/RouterLogin.h"
#include "sim/SimServer.h"
#include "sim/Torch.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr unsigned kDefaultLoginTimeoutS = 10;
constexpr unsigned long kMaxTimeoutS = 86400;

void usage(FILE* out = stderr) {
  std::fprintf(out,
               "usage: nimbalux-sim [--help] [--port <port>] [--host <address>]\n"
               "                    [--echo <channel>]...\n"
               "                    [--drop-after <bytes>] [--login-timeout <seconds>]\n"
               "                    [--idle-timeout <seconds>] [--crash-reports <file>]\n"
               "  --login-timeout  close connections that have not logged in by then (default %u,\n"
               "                   0: never)\n"
               "  --idle-timeout   close connections that have sent nothing for that long\n"
               "                   (default 0: never)\n"
               "  --crash-reports  append the crash reports clients send to the file\n",
               kDefaultLoginTimeoutS);
  std::fprintf(out, "%s", kestel::sim::loginOptionsUsage());
  std::fprintf(out, "%s", kestel::sim::fileOptionsUsage());
  std::fprintf(out, "%s", kestel::sim::fileStoreOptionsUsage());
  std::fprintf(out, "%s", kestel::sim::announceOptionsUsage());
  std::fprintf(out, "%s", kestel::sim::macOptionsUsage());
  std::fprintf(out, "%s", kestel::sim::hoplinkOptionsUsage());
  std::fprintf(out, "%s", kestel::sim::menuOptionsUsage());
  std::fprintf(out, "%s", kestel::sim::liveOptionsUsage());
  std::fprintf(out, "%s", kestel::sim::consoleOptionsUsage());
}

bool parseNumber(const char* text, unsigned long max, unsigned long& out) {
  char* end = nullptr;
  out = std::strtoul(text, &end, 10);
  return end && *end == '\0' && end != text && out <= max;
}

} // namespace

int main(int argc, char** argv) {
  using namespace kestel;
  PollReactor reactor;
  ReactorScope scope(reactor);
  sim::SimServer server(reactor);
  server.limits().handshakeMs = kDefaultLoginTimeoutS * 1000;
  unsigned long port = 8291;
  std::string host = "127.0.0.1";
  sim::RouterLogin login;
  std::string crashFile;
  login.install(server); // channels 5 and 6; an --echo of either replaces it
  sim::CrashReports crashes;
  crashes.install(server); // channel 4
  sim::FileServiceOptions fileOptions;
  sim::FileStoreOptions storeOptions;
  sim::AnnounceOptions announce;
  sim::MacOptions macOptions;
  sim::HoplinkOptions hoplinkOptions;
  sim::CatalogueOptions menuOptions;
  sim::ConsoleOptions consoleOptions;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") {
      usage(stdout);
      return 0;
    }
    int used = sim::applyLoginOption(login, argc, argv, i);
    if (used == 0)
      used = sim::applyFileOption(fileOptions, argc, argv, i);
    if (used == 0)
      used = sim::applyFileStoreOption(storeOptions, argc, argv, i);
    if (used == 0)
      used = sim::applyAnnounceOption(announce, argc, argv, i);
    if (used == 0)
      used = sim::applyMacOption(macOptions, argc, argv, i);
    if (used == 0)
      used = sim::applyHoplinkOption(hoplinkOptions, argc, argv, i);
    if (used == 0)
      used = sim::applyMenuOption(menuOptions, argc, argv, i);
    if (used == 0)
      used = sim::applyConsoleOption(consoleOptions, argc, argv, i);
    if (used < 0) {
      usage();
      return 2;
    }
    if (used > 0) {
      i += used - 1;
      continue;
    }
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    unsigned long value = 0;
    if (arg == "--port" && hasValue && parseNumber(argv[i + 1], 65535, value)) {
      port = value;
    } else if (arg == "--drop-after" && hasValue && parseNumber(argv[i + 1], ~0ul, value)) {
      server.setDropAfterBytes(value);
    } else if (arg == "--login-timeout" && hasValue &&
               parseNumber(argv[i + 1], kMaxTimeoutS, value)) {
      server.limits().handshakeMs = uint32_t(value * 1000);
    } else if (arg == "--idle-timeout" && hasValue &&
               parseNumber(argv[i + 1], kMaxTimeoutS, value)) {
      server.limits().idleMs = uint32_t(value * 1000);
    } else if (arg == "--host" && hasValue) {
      host = argv[i + 1];
    } else if (arg == "--crash-reports" && hasValue) {
      crashFile = argv[i + 1];
    } else if (arg == "--echo" && hasValue && parseNumber(argv[i + 1], 254, value)) {
      auto channel = static_cast<uint8_t>(value);
      server.registerChannel(
          channel, [channel](sim::SimConnection&) { return sim::createEchoHandler(channel); });
    } else {
      usage();
      return 2;
    }
    ++i;
  }
  login.ensureDefaultUser();
  sim::FileService files(std::move(fileOptions));
  if (auto loaded = files.load(login.facts().version); !loaded) {
    std::fprintf(stderr, "nimbalux-sim: %s\n", loaded.error().text.c_str());
    return 1;
  }
  sim::FileStore store(storeOptions);
  files.attachStore(store);
  files.install(login, server);
  std::unique_ptr<sim::HoplinkAgent> agent;
  if (!hoplinkOptions.interface.empty()) {
    agent = std::make_unique<sim::HoplinkAgent>(reactor, hoplinkOptions);
    agent->install(login);
  }
  sim::MenuCatalogue menus(reactor, std::move(menuOptions));
  if (std::string error; !menus.install(login, error)) {
    std::fprintf(stderr, "nimbalux-sim: %s\n", error.c_str());
    return 2;
  }
  sim::Console console(reactor, consoleOptions);
  console.install(login);
  sim::TorchSource torch(reactor);
  torch.install(login);
  crashes.setListener([&crashFile](const sim::CrashReport& report) {
    // The file first: whoever reads the line on stderr finds the report in the file.
    if (!crashFile.empty() && !sim::appendCrashReport(crashFile, report))
      std::fprintf(stderr, "nimbalux-sim: cannot write %s\n", crashFile.c_str());
    std::fprintf(stderr, "nimbalux-sim: crash report from %s (%zu bytes)\n",
                 report.peerAddress.c_str(), report.text.size());
  });
  auto bound = server.listen(static_cast<uint16_t>(port), host);
  if (!bound) {
    std::fprintf(stderr, "nimbalux-sim: %s\n", bound.error().text.c_str());
    return 1;
  }
  std::unique_ptr<sim::DiscoveryResponder> responder;
  if (!announce.address.empty()) {
    auto started = sim::DiscoveryResponder::start(reactor, announce, login.facts().version);
    if (!started) {
      std::fprintf(stderr, "nimbalux-sim: %s\n", started.error().text.c_str());
      return 1;
    }
    responder = std::move(*started);
  }
  std::unique_ptr<sim::MacResponder> macResponder;
  if (!macOptions.interface.empty()) {
    auto started = sim::MacResponder::start(reactor, server, macOptions);
    if (!started) {
      std::fprintf(stderr, "nimbalux-sim: %s\n", started.error().text.c_str());
      return 1;
    }
    macResponder = std::move(*started);
  }
  std::printf("%u\n", unsigned(*bound));
  std::fflush(stdout);
  reactor.run();
  return 0;
}
