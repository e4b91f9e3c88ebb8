// nimbalux-sim: stands in for a router on loopback. "--port 0" picks a free port and prints it
// on stdout (one line) once the listener is up, so scripts and tests can connect to it.
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "sim/FileService.h"
#include "sim/MenuCatalogue.h"
#include "sim/RouterLogin.h"
#include "sim/SimServer.h"

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
               "                    [--idle-timeout <seconds>]\n"
               "  --login-timeout  close connections that have not logged in by then (default %u,\n"
               "                   0: never)\n"
               "  --idle-timeout   close connections that have sent nothing for that long\n"
               "                   (default 0: never)\n",
               kDefaultLoginTimeoutS);
  std::fprintf(out, "%s", kestel::sim::loginOptionsUsage());
  std::fprintf(out, "%s", kestel::sim::fileOptionsUsage());
  std::fprintf(out, "%s", kestel::sim::menuOptionsUsage());
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
  login.install(server); // channels 5 and 6; an --echo of either replaces it
  sim::FileServiceOptions fileOptions;
  sim::CatalogueOptions menuOptions;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") {
      usage(stdout);
      return 0;
    }
    int used = sim::applyLoginOption(login, argc, argv, i);
    if (used == 0)
      used = sim::applyFileOption(fileOptions, argc, argv, i);
    if (used == 0)
      used = sim::applyMenuOption(menuOptions, argc, argv, i);
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
  files.install(login, server);
  sim::MenuCatalogue menus(reactor, std::move(menuOptions));
  if (std::string error; !menus.install(login, error)) {
    std::fprintf(stderr, "nimbalux-sim: %s\n", error.c_str());
    return 2;
  }
  auto bound = server.listen(static_cast<uint16_t>(port), host);
  if (!bound) {
    std::fprintf(stderr, "nimbalux-sim: %s\n", bound.error().text.c_str());
    return 1;
  }
  std::printf("%u\n", unsigned(*bound));
  std::fflush(stdout);
  reactor.run();
  return 0;
}
