#include "app/CommandLine.h"

#include "app/PasswordInput.h"
#include "util/Log.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace kestel {
namespace {

// The full path of `argument` when it names an existing regular file.
std::optional<std::string> existingFile(const char* argument) {
  struct stat st {};
  if (::stat(argument, &st) != 0 || !S_ISREG(st.st_mode))
    return std::nullopt;
  char full[PATH_MAX];
  if (!::realpath(argument, full))
    return std::nullopt;
  return std::string(full);
}

CommandLine finish(int code) {
  CommandLine out;
  out.exitCode = code;
  return out;
}

} // namespace

RawForm parseRawForm(std::span<char* const> args) {
  std::string text;
  for (size_t i = 1; i < args.size(); ++i) {
    if (i > 1)
      text += ' ';
    text += args[i];
  }
  RawForm form;
  if (text.size() < 3 || text[0] != '\\' || text[2] != ' ')
    return form;
  if (text[1] == 'c')
    form.kind = RawForm::Kind::FinishUpgrade;
  else if (text[1] == 'd')
    form.kind = RawForm::Kind::DeleteFile;
  else
    return form;
  form.path = text.substr(3);
  return form;
}

CommandLine parseCommandLine(std::span<char*> args, const ParameterSource& readStandardInput) {
  CommandLine out;
  nv::message& p = out.parameters;
  int position = 0;
  bool bookTaken = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const char* a = args[i];
    if (std::strcmp(a, "--") == 0) {
      std::vector<std::string> documents(args.begin() + long(i) + 1, args.end());
      p.set(param::kDocuments, std::move(documents));
      break;
    }
    if (std::strcmp(a, "-") == 0) {
      p = readStandardInput ? readStandardInput() : nv::message();
      continue;
    }
    if (!std::strcmp(a, "--help") || !std::strcmp(a, "-?") || !std::strcmp(a, "-h")) {
      logLine(kUsageText);
      return finish(0);
    }
    if (std::strcmp(a, "--nosecure") == 0) {
      p.set(param::kSecure, false);
      continue;
    }
    if (std::strcmp(a, "--hoplink") == 0) {
      if (i + 1 >= args.size()) {
        logf("unknown argument - ", a);
        logLine(kUsageText);
        return finish(1);
      }
      nv::message agent;
      agent.set(param::kAddress, args[++i]);
      p.set(param::kHoplink, agent);
      continue;
    }
    if (position == 0 && !bookTaken) {
      if (auto file = existingFile(a)) {
        p.set(param::kAddressBook, *file);
        bookTaken = true;
        continue;
      }
    }
    switch (position++) {
    case 0:
      p.set(param::kAddress, a);
      break;
    case 1:
      p.set(param::kLogin, a);
      break;
    case 2:
      p.set(param::kPassword, a);
      wipeArgument(args[i]);
      break;
    case 3:
      p.set(param::kCommandLineSession, a);
      break;
    default:
      logf("unknown argument - ", a);
      return finish(1);
    }
  }
  return out;
}

} // namespace kestel
