#include "TransferCommands.h"

#include "api/net/Looper.h"
#include "app/FileTransfer.h"
#include "app/LooperRequestPort.h"
#include "app/RemoteFileList.h"
#include "miw/ConvertorText.h"
#include "miw/SafeFile.h"

#include <cstdio>
#include <optional>
#include <sys/stat.h>

namespace kestel::cli {
namespace {

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// Runs the queue with the progress texts on stderr; returns the exit code.
int runQueue(CommandContext& context, RequestPort& port, FileTransfer::Direction direction,
             std::vector<TransferEntry> queue) {
  std::string shown;
  FileTransfer* running = nullptr;
  FileTransfer transfer(context.reactor, port, direction, [&] {
    if (running && running->status() != shown && !running->status().empty()) {
      shown = running->status();
      std::fprintf(stderr, "%s\n", shown.c_str());
    }
  });
  running = &transfer;
  transfer.start(std::move(queue));
  while (transfer.running()) {
    if (!routerConnection()) {
      transfer.cancel();
      std::fprintf(stderr, "kestel-cli: the connection to the router closed\n");
      return kExitRefused;
    }
    context.reactor.runOnce(100);
  }
  if (!transfer.error().empty())
    return kExitRefused; // the engine's message box is already on stderr
  for (const std::string& problem : transfer.problems())
    std::fprintf(stderr, "kestel-cli: %s\n", problem.c_str());
  std::fprintf(stderr, "%s: %zu files, %s\n", transfer.title(), transfer.filesDone(),
               bigBytesText(transfer.bytesDone()).c_str());
  return transfer.problems().empty() ? kExitOk : kExitRefused;
}

int put(CommandContext& context, RequestPort& port, std::vector<std::string> args) {
  std::string folder;
  if (args.size() > 1 && !exists(args.back())) {
    folder = args.back();
    args.pop_back();
    while (!folder.empty() && folder.back() == '/')
      folder.pop_back();
  }
  std::vector<std::string> skipped;
  std::vector<TransferEntry> queue = planUpload(args, folder.empty() ? "" : folder + "/", &skipped);
  for (const std::string& path : skipped)
    std::fprintf(stderr, "kestel-cli: cannot read %s\n", path.c_str());
  if (queue.empty())
    return kExitUsage;
  if (!folder.empty()) {
    TransferEntry remoteFolder;
    remoteFolder.kind = TransferEntry::Kind::Folder;
    remoteFolder.remote = folder;
    queue.insert(queue.begin(), remoteFolder);
  }
  int code = runQueue(context, port, FileTransfer::Direction::Upload, std::move(queue));
  return skipped.empty() ? code : kExitRefused;
}

int get(CommandContext& context, RequestPort& port, std::vector<std::string> args) {
  std::string folder = ".";
  if (args.size() > 1 && isFolder(args.back())) {
    folder = args.back();
    args.pop_back();
  }
  RemoteFileList list(port);
  std::optional<std::vector<RemoteFile>> files;
  std::string error;
  list.fetch([&](std::vector<RemoteFile> f, std::string e) {
    files = std::move(f);
    error = std::move(e);
  });
  if (!context.waitFor([&] { return files.has_value(); }))
    return kExitRefused;
  if (!error.empty()) {
    std::fprintf(stderr, "kestel-cli: the router's file list: %s\n", error.c_str());
    return kExitRefused;
  }
  std::vector<std::string> skipped;
  std::vector<TransferEntry> queue = planDownload(args, *files, folder, &skipped);
  for (const std::string& name : skipped)
    std::fprintf(stderr, "kestel-cli: not a usable local name: \"%s\"\n", name.c_str());
  if (queue.empty())
    return kExitRefused;
  int code = runQueue(context, port, FileTransfer::Direction::Download, std::move(queue));
  return skipped.empty() ? code : kExitRefused;
}

} // namespace

int runTransferCommand(CommandContext& context, const RouterCommand& command) {
  LooperRequestPort port;
  if (command.name == "put")
    return put(context, port, command.args);
  return get(context, port, command.args);
}

} // namespace kestel::cli
