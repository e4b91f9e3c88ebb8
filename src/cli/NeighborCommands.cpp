#include "NeighborCommands.h"
#include "JsonText.h"

#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "app/Discovery.h"
#include "util/Log.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace kestel {

namespace {

constexpr unsigned long kMaxSeconds = 86400;

int usage() {
  std::fprintf(stderr, "usage: kestel-cli neighbors [--seconds N] [--json] [--verbose]\n");
  return 2;
}

void printTable(const std::vector<Neighbour>& list) {
  const auto& titles = neighbourColumns();
  std::vector<std::vector<std::string>> rows{titles};
  for (const Neighbour& n : list)
    rows.push_back(neighbourColumnTexts(n));
  std::vector<size_t> width(titles.size(), 0);
  for (const auto& row : rows)
    for (size_t c = 0; c < row.size(); ++c)
      width[c] = std::max(width[c], row[c].size());
  for (const auto& row : rows) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size())
        line += std::string(width[c] - row[c].size() + 2, ' ');
    }
    std::printf("%s\n", line.c_str());
  }
}

void printJson(const std::vector<Neighbour>& list) {
  const auto& titles = neighbourColumns();
  std::printf("[");
  for (size_t i = 0; i < list.size(); ++i) {
    auto texts = neighbourColumnTexts(list[i]);
    std::printf("%s\n  {", i ? "," : "");
    for (size_t c = 0; c < titles.size(); ++c)
      std::printf("%s%s: %s", c ? ", " : "", jsonString(titles[c]).c_str(),
                  jsonString(texts[c]).c_str());
    std::printf(", \"Connect To\": %s}", jsonString(neighbourConnectText(list[i])).c_str());
  }
  std::printf("%s]\n", list.empty() ? "" : "\n");
}

} // namespace

int runNeighborsCommand(int argc, char** argv) {
  unsigned long seconds = 0;
  bool json = false;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (std::strcmp(argv[i], "--verbose") == 0) {
      setLogToStderr(true);
    } else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      char* end = nullptr;
      seconds = std::strtoul(argv[++i], &end, 10);
      if (!end || *end || seconds < 1 || seconds > kMaxSeconds)
        return usage();
    } else {
      return usage();
    }
  }
  openLogFile(defaultLogPath());
  PollReactor reactor;
  ReactorScope scope(reactor);
  NeighbourTable table;
  std::random_device seed;
  std::mt19937 random(seed());
  {
    Discovery discovery(reactor, createUdpDiscoveryTransport(reactor), table,
                        [&] { return static_cast<uint32_t>(random()); });
    if (seconds == 0)
      discovery.setScanEndListener([&] { reactor.stop(); });
    else
      reactor.addTimer(
          static_cast<uint32_t>(seconds * 1000), [&] { reactor.stop(); }, false);
    discovery.start();
    reactor.run();
    discovery.stop();
  }
  if (json)
    printJson(table.list());
  else
    printTable(table.list());
  return 0;
}

} // namespace kestel
