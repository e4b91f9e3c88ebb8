#include "app/UpgradeHandOff.h"

#include "app/CommandLine.h"
#include "app/HandOff.h"
#include "app/UpgradeFiles.h"
#include "util/Log.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestel {

Expected<void> startUpgradedProgram(const std::string& downloaded, const std::string& target) {
  Expected<void> started = startProcess(downloaded, {"kestel", "\\c", target}, nullptr, -1);
  if (!started)
    logLine("ERROR: failed to start updated version");
  return started;
}

void finishUpgrade(const std::string& target) {
  Expected<std::string> self = ownProgramPath(); // logs its own failure
  if (!self)
    return;
  int source = ::open(self->c_str(), O_RDONLY | O_CLOEXEC);
  if (source < 0) {
    logLine("ERROR: could not open myself");
    return;
  }
  Expected<void> replaced = replaceProgram(source, target);
  ::close(source);
  if (!replaced)
    logf("ERROR: could not overwrite executable: ", replaced.error().text);
  if (!startProcess(target, {"kestel", "\\d", *self}, nullptr, -1))
    logLine("ERROR: failed to start updated version");
}

void deleteDownloadedProgram(const std::string& path) {
  struct stat st {};
  if (!isDownloadName(path) || ::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
    logf("ERROR: not a downloaded program, left alone: ", path);
    return;
  }
  if (::unlink(path.c_str()) != 0)
    logf("error=", errno);
}

HandOffStep runHandOffForms(std::span<char* const> args) {
  RawForm form = parseRawForm(args);
  switch (form.kind) {
  case RawForm::Kind::FinishUpgrade:
    finishUpgrade(form.path);
    return HandOffStep::Exit;
  case RawForm::Kind::DeleteFile:
    deleteDownloadedProgram(form.path);
    return HandOffStep::StartEmpty;
  case RawForm::Kind::None:
    break;
  }
  return HandOffStep::None;
}

} // namespace kestel
