#include "TerminalCommand.h"

#include "LoginOptions.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "api/term/TerminalText.h"
#include "app/ConnectAddress.h"
#include "app/ConnectStep.h"
#include "app/CrashReport.h"
#include "app/LooperRoute.h"
#include "app/PasswordInput.h"
#include "app/TerminalConsole.h"
#include "app/TerminalEntries.h"
#include "util/Log.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace kestel::cli {

namespace {

// Exit codes beyond 0 (the session ended normally), 1 (no session) and 2 (usage).
constexpr int kExitTimedOut = 4;
// Leaves an interactive session: Ctrl-].
constexpr char kLeaveKey = 0x1D;

void usage() {
  std::fprintf(stderr,
               "usage: kestel-cli terminal [--legacy] [--verbose] [--password-file <path>]\n"
               "         [--telnet <addr> | --mac-telnet <addr>] [--target-user <user>]\n"
               "         [--guest <link>] [--size <columns>x<rows>] [--timeout <seconds>]\n"
               "         [--screen] <address>[:port] <login>\n"
               "On a terminal the session is interactive (Ctrl-] leaves). Otherwise standard\n"
               "input is sent, the router's output printed (with --screen: the final screen as\n"
               "text instead), and the command ends when the router closes the session (exit 0)\n"
               "or sends nothing for --timeout seconds (default 5; exit %d).\n",
               kExitTimedOut);
}

struct Options {
  ConnectRequest connect;
  TerminalTarget target;
  std::vector<std::string> positional;
  std::optional<std::string> passwordArgument;
  const char* passwordFile = nullptr;
  int columns = 80, rows = 24;
  unsigned timeoutS = 5;
  bool screen = false;
};

bool parseSize(const char* text, int& columns, int& rows) {
  char* end = nullptr;
  long c = std::strtol(text, &end, 10);
  if (!end || *end != 'x')
    return false;
  long r = std::strtol(end + 1, &end, 10);
  if (!end || *end || c < 1 || r < 1 || c > 1000 || r > 500)
    return false;
  columns = int(c);
  rows = int(r);
  return true;
}

bool parseUnsigned(const char* text, unsigned long max, unsigned long& out) {
  char* end = nullptr;
  out = std::strtoul(text, &end, 10);
  return end && *end == '\0' && end != text && out <= max;
}

// False on a usage error.
bool parseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    unsigned long n = 0;
    if (arg == "--legacy") {
      o.connect.legacyMode = true;
    } else if (arg == "--verbose") {
      setLogToStderr(true);
    } else if (arg == "--screen") {
      o.screen = true;
    } else if (arg == "--password-file" && hasValue) {
      o.passwordFile = argv[++i];
    } else if ((arg == "--telnet" || arg == "--mac-telnet") && hasValue) {
      o.target.kind = arg == "--telnet" ? TerminalKind::Telnet : TerminalKind::MacTelnet;
      o.target.address = argv[++i];
    } else if (arg == "--target-user" && hasValue) {
      o.target.user = argv[++i];
    } else if (arg == "--guest" && hasValue && parseUnsigned(argv[i + 1], 0xFFFFFFFE, n)) {
      o.target.kind = TerminalKind::Guest;
      o.target.guestLink = uint32_t(n);
      ++i;
    } else if (arg == "--size" && hasValue && parseSize(argv[i + 1], o.columns, o.rows)) {
      ++i;
    } else if (arg == "--timeout" && hasValue && parseUnsigned(argv[i + 1], 86400, n) && n > 0) {
      o.timeoutS = unsigned(n);
      ++i;
    } else if (arg.starts_with("--")) {
      return false;
    } else if (o.positional.size() == 2) {
      o.passwordArgument = arg;
      wipeArgument(argv[i]);
      o.positional.emplace_back();
    } else {
      o.positional.push_back(arg);
    }
  }
  return o.positional.size() == 2 || o.positional.size() == 3;
}

void writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return;
    bytes.remove_prefix(size_t(n));
  }
}

// ---- The terminal's mode, put back on every way out

termios gSavedMode;
volatile sig_atomic_t gRawActive = 0;
int gSignalPipe[2] = {-1, -1};

void restoreMode() {
  if (gRawActive) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &gSavedMode);
    gRawActive = 0;
  }
}

// A crash gives the terminal back before the crash report is written.
void restoreModeOnCrash() {
  if (gRawActive)
    ::tcsetattr(STDIN_FILENO, TCSANOW, &gSavedMode);
}

// Window size changes and requests to end are handled on the reactor's thread.
void onSignal(int signal) {
  int saved = errno;
  unsigned char byte = uint8_t(signal);
  [[maybe_unused]] ssize_t n = ::write(gSignalPipe[1], &byte, 1);
  errno = saved;
}

class RawMode {
public:
  RawMode() {
    if (::tcgetattr(STDIN_FILENO, &gSavedMode) != 0)
      return;
    termios raw = gSavedMode;
    ::cfmakeraw(&raw);
    setCrashCleanup(restoreModeOnCrash);
    gRawActive = 1;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw);
  }
  ~RawMode() {
    restoreMode();
    setCrashCleanup(nullptr);
  }
  RawMode(const RawMode&) = delete;
  RawMode& operator=(const RawMode&) = delete;
};

// The signals the interactive session takes through a pipe, undone when it goes.
class SignalPipe {
public:
  static constexpr int kSignals[] = {SIGWINCH, SIGTERM, SIGHUP, SIGINT, SIGQUIT};
  SignalPipe() {
    if (::pipe2(gSignalPipe, O_NONBLOCK | O_CLOEXEC) != 0)
      return;
    struct sigaction action {};
    action.sa_handler = onSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int s : kSignals)
      ::sigaction(s, &action, nullptr);
  }
  ~SignalPipe() {
    for (int s : kSignals)
      ::signal(s, SIG_DFL);
    for (int& fd : gSignalPipe)
      if (fd >= 0)
        ::close(std::exchange(fd, -1));
  }
  int readEnd() const { return gSignalPipe[0]; }
  SignalPipe(const SignalPipe&) = delete;
  SignalPipe& operator=(const SignalPipe&) = delete;
};

bool windowSize(int& columns, int& rows) {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0)
    return false;
  columns = size.ws_col;
  rows = size.ws_row;
  return true;
}

// ---- Interactive: the local terminal draws; the session passes bytes through.

class Interactive final : public TerminalSessionClient {
public:
  Interactive(PollReactor& reactor, const Options& o)
      : reactor_(reactor), session_(reactor, *this, terminalTitle(o.target, o.positional[0])) {}

  int run(const Options& o) {
    int columns = o.columns, rows = o.rows;
    windowSize(columns, rows);
    SignalPipe signals;
    RawMode raw;
    reactor_.watch(signals.readEnd(), IoRead, [this](unsigned) { onSignals(); });
    reactor_.watch(STDIN_FILENO, IoRead, [this](unsigned) { onKeys(); });
    session_.open(o.connect.login, o.target, columns, rows);
    reactor_.run();
    reactor_.unwatch(STDIN_FILENO);
    reactor_.unwatch(signals.readEnd());
    restoreMode();
    if (session_.state() == TerminalSession::State::Failed) {
      std::fprintf(stderr, "%s\n", session_.error().c_str());
      return 1;
    }
    std::fprintf(stderr, "\n%s\n", session_.title().c_str());
    return 0;
  }

  // The router connection ended.
  void lost() { session_.connectionLost(); }

  void output(std::string_view bytes) override { writeAll(STDOUT_FILENO, bytes); }
  void stateChanged() override {
    auto state = session_.state();
    if (state != TerminalSession::State::Opening && state != TerminalSession::State::Open)
      reactor_.stop();
  }

private:
  void onKeys() {
    char buffer[4096];
    ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
      return;
    std::string_view keys(buffer, n > 0 ? size_t(n) : 0);
    size_t leave = keys.find(kLeaveKey);
    session_.input(keys.substr(0, leave));
    if (n <= 0 || leave != std::string_view::npos)
      session_.close();
  }
  void onSignals() {
    unsigned char signals[64];
    ssize_t n = ::read(gSignalPipe[0], signals, sizeof signals);
    for (ssize_t i = 0; i < n; ++i) {
      int columns = 0, rows = 0;
      if (signals[i] == SIGWINCH && windowSize(columns, rows))
        session_.resize(columns, rows);
      else if (signals[i] != SIGWINCH)
        session_.close();
    }
  }

  PollReactor& reactor_;
  TerminalSession session_;
};

// ---- Scripted: input from stdin, output as it comes (or the final screen).

class Scripted {
public:
  Scripted(PollReactor& reactor, const Options& o)
      : reactor_(reactor), options_(o), console_(reactor, terminalTitle(o.target, o.positional[0]),
                                                 o.columns, o.rows, callbacks()) {}
  ~Scripted() { reactor_.removeTimer(timer_); }

  int run() {
    int flags = ::fcntl(STDIN_FILENO, F_GETFL);
    if (flags >= 0)
      ::fcntl(STDIN_FILENO, F_SETFL, flags | O_NONBLOCK);
    reactor_.watch(STDIN_FILENO, IoRead, [this](unsigned) { onInput(); });
    console_.open(options_.connect.login, options_.target);
    armTimer();
    reactor_.run();
    reactor_.unwatch(STDIN_FILENO);
    if (options_.screen)
      writeAll(STDOUT_FILENO, terminalScreenText(console_.screen()));
    const TerminalSession& s = console_.session();
    if (s.state() == TerminalSession::State::Failed) {
      std::fprintf(stderr, "%s\n", s.error().c_str());
      return 1;
    }
    if (timedOut_) {
      std::fprintf(stderr, "kestel-cli: nothing from the router for %u s; session closed\n",
                   options_.timeoutS);
      return kExitTimedOut;
    }
    return 0;
  }

  void lost() { console_.session().connectionLost(); }

private:
  TerminalConsole::Callbacks callbacks() {
    TerminalConsole::Callbacks c;
    c.received = [this](std::string_view bytes) {
      armTimer();
      if (!options_.screen)
        writeAll(STDOUT_FILENO, bytes);
    };
    c.stateChanged = [this] {
      auto state = console_.session().state();
      if (state != TerminalSession::State::Opening && state != TerminalSession::State::Open)
        reactor_.stop();
    };
    return c;
  }
  void onInput() {
    char buffer[16384];
    ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
      return;
    if (n <= 0) { // the input is over; the router decides when the session ends
      reactor_.unwatch(STDIN_FILENO);
      return;
    }
    console_.session().input(std::string_view(buffer, size_t(n)));
  }
  void armTimer() {
    reactor_.removeTimer(timer_);
    timer_ = reactor_.addTimer(
        options_.timeoutS * 1000,
        [this] {
          timer_ = 0;
          timedOut_ = true;
          console_.session().close();
        },
        false);
  }

  PollReactor& reactor_;
  const Options& options_;
  TerminalConsole console_;
  Reactor::TimerId timer_ = 0;
  bool timedOut_ = false;
};

} // namespace

int runTerminalCommand(int argc, char** argv) {
  Options o;
  if (!parseOptions(argc, argv, o)) {
    usage();
    return 2;
  }
  if ((o.target.kind == TerminalKind::Telnet || o.target.kind == TerminalKind::MacTelnet) &&
      o.target.user.empty())
    o.target.user = o.positional[1];
  auto target = parseConnectAddress(o.positional[0]);
  if (!target) {
    std::fprintf(stderr, "%s\n", target.error().text.c_str());
    return 2;
  }
  auto password = obtainPassword(std::move(o.passwordArgument), o.passwordFile);
  if (!password)
    return 2;
  openDefaultLog();
  o.connect.address = target->host;
  o.connect.port = target->port;
  o.connect.transport = target->transport;
  o.connect.login = o.positional[1];
  o.connect.password = std::move(*password);

  PollReactor reactor;
  ReactorScope scope(reactor);
  std::optional<ConnectOutcome> outcome;
  auto step = makeRef<ConnectStep>(reactor, o.connect, [&](const ConnectOutcome& result) {
    outcome = result;
    reactor.stop();
  });
  step->start();
  reactor.run();
  int code = 1;
  if (!outcome || outcome->kind != ConnectOutcome::LoggedIn) {
    std::fprintf(stderr, "%s\n", outcome ? outcome->text.c_str() : "no outcome");
  } else if (::isatty(STDIN_FILENO) && ::isatty(STDOUT_FILENO)) {
    Interactive session(reactor, o);
    LooperRoute route(*step, [&](const std::string&) { session.lost(); });
    code = session.run(o);
  } else {
    Scripted session(reactor, o);
    LooperRoute route(*step, [&](const std::string&) { session.lost(); });
    code = session.run();
  }
  step->cancel();
  return code;
}

} // namespace kestel::cli
