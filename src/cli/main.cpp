// kestel-cli: the scripting command line of the Kestel client. With an address, a login and a
// password it connects to the router, logs in, prints the outcome and the router's facts, and
// exits with 0 only when the login succeeded.
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "api/wire/Vocabulary.h"
#include "app/ConnectStep.h"
#include "util/Log.h"

#include <kestel/Version.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

namespace {

using namespace kestel;

void usage() {
  std::fprintf(stderr, "usage: kestel-cli --version\n"
                       "       kestel-cli [--legacy] [--verbose] <address>[:port] <login> "
                       "<password>\n");
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

void printFacts(const ConnectOutcome& outcome) {
  const nv::message& r = outcome.reply;
  std::printf("logged in (%s login)\n", outcome.legacy ? "legacy" : "secure");
  std::printf("router version: %s\n", r.get(kLoginReplyVersion).c_str());
  std::printf("required client version: %s\n", r.get(kLoginReplyRequiredClient).c_str());
  std::printf("skin: %s\n", r.get(kLoginReplySkin).c_str());
  std::printf("password change required: %s\n", r.get(kLoginReplyChangePassword) ? "yes" : "no");
  std::printf("policy: 0x%08x\n", unsigned(r.get(kLoginReplyPolicy)));
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("kestel-cli %s\n", kKestelVersion);
    return 0;
  }
  ConnectRequest request;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--legacy") == 0)
      request.legacyMode = true;
    else if (std::strcmp(argv[i], "--verbose") == 0)
      setLogToStderr(true);
    else
      positional.emplace_back(argv[i]);
  }
  if (positional.size() != 3) {
    usage();
    return 2;
  }
  auto target = parseAddress(positional[0]);
  if (!target) {
    std::fprintf(stderr, "invalid address - %s\n", positional[0].c_str());
    return 2;
  }
  request.address = target->host;
  request.port = target->port;
  request.login = positional[1];
  request.password = positional[2];

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
