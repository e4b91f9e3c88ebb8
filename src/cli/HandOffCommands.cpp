#include "HandOffCommands.h"

#include "CacheCommands.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "app/CacheFolders.h"
#include "app/ChildSession.h"
#include "app/CommandLine.h"
#include "app/HandOff.h"
#include "app/ParameterPipe.h"
#include "app/ReadyStep.h"
#include "util/Log.h"

#include <cstdio>
#include <optional>
#include <unistd.h>

namespace kestel::cli {

int openInNewProcess(ConnectRequest connect) {
  PollReactor reactor;
  ReactorScope scope(reactor);
  ReadyRequest request;
  request.connect = connect;
  request.appData = appDataFolder();
  if (request.appData.empty())
    return 1;
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
  if (!result || !result->ok) {
    std::fprintf(stderr, "%s\n", result ? result->error.c_str() : "no outcome");
    step->cancel();
    return 1;
  }
  nv::message parameters;
  parameters.set(param::kAddress, connect.address);
  parameters.set(param::kLogin, connect.login);
  parameters.set(param::kNewProcess, true);
  ConnectStep* logged = step->connectStep();
  HandOffSource source;
  source.connection = dynamic_cast<Connection*>(logged->connection());
  if (!source.connection) {
    std::fprintf(stderr, "only a TCP connection can be handed to a new process\n");
    step->cancel();
    return 1;
  }
  source.secure = logged->secureSession();
  source.legacy = logged->legacySession();
  source.indexBytes = result->cache->indexBytes();
  source.skinBytes = step->skinBytes();
  Expected<std::string> program = ownProgramPath();
  Expected<void> handed =
      program ? openInNewWindow(*program, parameters, source) : Expected<void>(program.error());
  step->cancel();
  if (!handed) {
    std::fprintf(stderr, "could not open in a new process: %s\n", handed.error().text.c_str());
    return 1;
  }
  std::printf("session handed over to a new process\n");
  return 0;
}

int runHandedOverSession() {
  nv::message parameters = readSessionParameters(STDIN_FILENO);
  PollReactor reactor;
  ReactorScope scope(reactor);
  std::string appData = appDataFolder();
  if (appData.empty())
    return 1;
  std::optional<ReadyOutcome> ready;
  auto session = makeRef<ChildSession>(reactor, parameters, appData, [&](const ReadyOutcome& o) {
    ready = o;
    reactor.stop();
  });
  session->start();
  if (!ready)
    reactor.run();
  if (!ready || !ready->ok) {
    std::fprintf(stderr, "handed-over session: %s\n", ready ? ready->error.c_str() : "no outcome");
    session->cancel();
    return 1;
  }
  std::printf("handed-over session carries on (%s login)\n",
              session->legacy() ? "legacy" : "secure");
  if (size_t skin = parameters.get(param::kSkinBytes).size())
    std::printf("skin handed over: %zu bytes\n", skin);

  // Something read over the same connection: the router's descriptor index, again.
  MemorySink index;
  std::unique_ptr<FileFetcher> fetcher;
  if (session->legacy())
    fetcher = std::make_unique<StreamFileFetcher>(*session->connection());
  else
    fetcher = std::make_unique<MessageFileFetcher>(*session->port());
  bool done = false;
  fetcher->fetch(index, DescriptorCache::indexName(), false, [&] {
    if (fetcher->isDone()) {
      done = true;
      reactor.stop();
    }
  });
  if (!done)
    reactor.run();
  int code = 1;
  if (fetcher->failed()) {
    std::fprintf(stderr, "index: %s\n", fetcher->errorText().c_str());
  } else {
    bool same = index.bytes() == parameters.get(param::kIndexBytes);
    std::printf("index read over the handed-over connection: %zu bytes, %s\n", index.bytes().size(),
                same ? "as handed over" : "differs from the one handed over");
    printMenus();
    code = 0;
  }
  fetcher.reset();
  session->cancel();
  return code;
}

} // namespace kestel::cli
