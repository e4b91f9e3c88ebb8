// A stand-in for the desktop program in the self-upgrade tests: it runs the same hand-off forms
// at start-up, and otherwise says on standard error that it started and with how many arguments.
#include "app/UpgradeHandOff.h"
#include "util/Log.h"

#include <cstdio>

int main(int argc, char** argv) {
  kestel::setLogToStderr(true);
  switch (kestel::runHandOffForms({argv, size_t(argc)})) {
  case kestel::HandOffStep::Exit:
    return 0;
  case kestel::HandOffStep::StartEmpty:
    argc = 1;
    break;
  case kestel::HandOffStep::None:
    break;
  }
  std::fprintf(stderr, "probe started with %d arguments\n", argc - 1);
  return 0;
}
