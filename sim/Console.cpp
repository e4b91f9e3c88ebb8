#include "sim/Console.h"

#include "api/net/TerminalHandler.h"
#include "api/wire/Vocabulary.h"
#include "sim/ConsoleScreens.h"
#include "util/Log.h"

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <zlib.h>

namespace kestel::sim {

namespace {

constexpr int kMaxColumns = 1000;
constexpr int kMaxRows = 500;
constexpr uint32_t kSweepMs = 1000;

nv::message errorReply(uint32_t code) {
  nv::message reply;
  reply.set(SYS_STATUS, STATUS_ERROR);
  reply.set(SYS_ERRNO, code);
  return reply;
}

} // namespace

class Console::Session {
public:
  Session(Console& owner, uint32_t id, std::shared_ptr<RouterPeer> peer, std::vector<uint32_t> to,
          std::string banner, std::string prompt, uint64_t floodBytes, int columns, int rows)
      : owner_(owner), id_(id), peer_(std::move(peer)), to_(std::move(to)),
        banner_(std::move(banner)), prompt_(std::move(prompt)), floodBytes_(floodBytes),
        columns_(columns), rows_(rows) {}
  ~Session() { owner_.reactor_.removeTimer(topTimer_); }

  bool alive() const { return peer_->alive() && !closed_; }
  const RouterPeer* peer() const { return peer_.get(); }
  std::pair<int, int> size() const { return {columns_, rows_}; }

  // Sends the banner and the first prompt (or starts the flood) once: on the turn after the
  // open reply, or earlier when the client's first input arrives in the same turn as its open
  // request — the input must find the session started, or a typed "quit" would end it before
  // the banner is ever sent.
  void start() {
    if (started_)
      return;
    started_ = true;
    write(banner_);
    if (floodBytes_) {
      floodLeft_ = floodBytes_;
      pump();
    } else {
      write(prompt_);
    }
  }

  void onData(const nv::message& message) {
    start();
    if (message.has(kTerminalReceived))
      onAcknowledged(message.get(kTerminalReceived));
    if (!message.has(kTerminalBytes))
      return;
    std::vector<uint8_t> bytes = message.get(kTerminalBytes);
    owner_.typed_ += bytes.size();
    owner_.typedCrc_ = uint32_t(::crc32(owner_.typedCrc_, bytes.data(), uInt(bytes.size())));
    received_ += uint32_t(bytes.size());
    for (uint8_t b : bytes) {
      if (!alive() || closing_)
        return;
      onByte(b);
    }
  }

  void onWindowSize(int columns, int rows) {
    columns_ = std::clamp(columns, 1, kMaxColumns);
    rows_ = std::clamp(rows, 1, kMaxRows);
    if (mode_ == Mode::Top)
      write(topFrame(columns_, rows_, topTick_, false));
  }

  // The client closed the session.
  void onClose() { closed_ = true; }

private:
  enum class Mode { Line, Top, AwaitSize };

  // An acknowledgement counts only when it lies within what was sent and not yet acknowledged.
  void onAcknowledged(uint32_t received) {
    if (received - acked_ <= sent_ - acked_) {
      acked_ = received;
      pump();
    }
  }

  // Escape sequences the client sends (cursor keys, the terminal's reports) are taken whole;
  // only a cursor report is used, by "size".
  void onByte(uint8_t b) {
    if (escape_) {
      sequence_ += char(b);
      bool done = sequence_.size() == 1 ? b != '[' : b >= 0x40 && b <= 0x7E;
      if (sequence_.size() > 32)
        done = true;
      if (done) {
        escape_ = false;
        onSequence(std::exchange(sequence_, {}));
      }
      return;
    }
    if (b == 0x1B) {
      escape_ = true;
      return;
    }
    if (mode_ == Mode::Top) {
      if (b == 'q' || b == 3)
        leaveTop();
      return;
    }
    if (floodLeft_ && b == 3) { // ^C stops a flood
      floodLeft_ = 0;
      write("^C\r\n" + prompt_);
      return;
    }
    switch (b) {
    case '\r':
    case '\n':
      if (b == '\n' && lastWasReturn_) {
        lastWasReturn_ = false;
        return;
      }
      lastWasReturn_ = b == '\r';
      write("\r\n");
      return runLine(std::exchange(line_, {}));
    case 3: // ^C
      line_.clear();
      return write("^C\r\n" + prompt_);
    case 4: // ^D on an empty line ends the session
      if (line_.empty())
        return quit();
      return;
    case 8:
    case 127:
      if (!line_.empty()) {
        line_.pop_back();
        write("\b \b");
      }
      return;
    default:
      break;
    }
    lastWasReturn_ = false;
    if (b < 0x20 || line_.size() >= kMaxLine)
      return;
    line_ += char(b);
    write(std::string(1, char(b)));
  }

  void onSequence(const std::string& sequence) {
    if (mode_ != Mode::AwaitSize || sequence.empty() || sequence.back() != 'R')
      return;
    // "[<row>;<column>R"
    int row = std::atoi(sequence.c_str() + 1);
    size_t semicolon = sequence.find(';');
    int column = semicolon == std::string::npos ? 0 : std::atoi(sequence.c_str() + semicolon + 1);
    mode_ = Mode::Line;
    write("window " + std::to_string(columns_) + "x" + std::to_string(rows_) +
          ", terminal reports " + std::to_string(column) + "x" + std::to_string(row) + "\r\n" +
          prompt_);
  }

  void runLine(const std::string& line) {
    size_t start = line.find_first_not_of(' ');
    if (start == std::string::npos)
      return write(prompt_);
    size_t end = line.find(' ', start);
    std::string command = line.substr(start, end - start);
    size_t from = line.find_first_not_of(' ', end);
    std::string argument = from == std::string::npos ? std::string() : line.substr(from);
    if (command == "help") {
      write(consoleHelp());
    } else if (command == "colors") {
      write(colourTable());
    } else if (command == "box") {
      write(lineBox(columns_, argument.empty() ? "Nimbalux" : argument));
    } else if (command == "list") {
      int n = argument.empty() ? 100 : std::atoi(argument.c_str());
      write(routeListing(std::clamp(n, 0, 100000)));
    } else if (command == "clear") {
      write("\x1b[H\x1b[2J");
    } else if (command == "echo") {
      write(argument + "\r\n");
    } else if (command == "size") {
      mode_ = Mode::AwaitSize;
      return write("\x1b"
                   "7\x1b[999;999H\x1b[6n\x1b"
                   "8");
    } else if (command == "top") {
      return enterTop();
    } else if (command == "flood") {
      floodLeft_ = std::strtoull(argument.c_str(), nullptr, 10);
      if (floodLeft_)
        return pump();
    } else if (command == "quit" || command == "exit") {
      return quit();
    } else {
      write(command + ": no such command (try help)\r\n");
    }
    write(prompt_);
  }

  void enterTop() {
    mode_ = Mode::Top;
    topTick_ = 0;
    write(topFrame(columns_, rows_, topTick_, true));
    armTop();
  }
  void armTop() {
    topTimer_ = owner_.reactor_.addTimer(
        kTopPeriodMs,
        [this] {
          topTimer_ = 0;
          if (!alive() || mode_ != Mode::Top)
            return;
          write(topFrame(columns_, rows_, ++topTick_, false));
          armTop();
        },
        false);
  }
  void leaveTop() {
    owner_.reactor_.removeTimer(std::exchange(topTimer_, 0));
    mode_ = Mode::Line;
    write(topLeave() + prompt_);
  }

  void quit() {
    write("bye\r\n");
    closing_ = true;
    pump();
  }

  void write(std::string_view bytes) {
    pending_.append(bytes);
    pump();
  }

  // Sends what waits while the client has taken enough of what was sent; then a flood's next
  // piece (the prompt after its last), then the close that a quit asked for.
  void pump() {
    while (alive()) {
      if (pendingAt_ == pending_.size()) {
        pending_.clear();
        pendingAt_ = 0;
        if (floodLeft_) {
          pending_ = floodPiece(floodPiece_++, columns_, rows_);
          floodLeft_ -= std::min<uint64_t>(floodLeft_, pending_.size());
          if (!floodLeft_)
            pending_ += "\x1b[0m\r\n" + prompt_;
        } else if (closing_) {
          closed_ = true;
          return send(kTerminalClose, nv::message());
        } else {
          return;
        }
      }
      uint32_t inFlight = sent_ - acked_;
      if (inFlight >= kWindowBytes)
        return;
      size_t n =
          std::min({pending_.size() - pendingAt_, kPieceBytes, size_t(kWindowBytes - inFlight)});
      nv::message data;
      data.set(kTerminalBytes, std::vector<uint8_t>(pending_.begin() + ptrdiff_t(pendingAt_),
                                                    pending_.begin() + ptrdiff_t(pendingAt_ + n)));
      data.set(kTerminalReceived, received_);
      pendingAt_ += n;
      sent_ += uint32_t(n);
      send(kTerminalData, std::move(data));
    }
  }

  void send(uint32_t command, nv::message message) {
    message.set(SYS_TO, to_);
    message.set(SYS_FROM, std::vector<uint32_t>{kTerminalHandler});
    message.set(SYS_CMD, command);
    message.set(STD_ID, id_);
    peer_->send(message);
  }

  Console& owner_;
  uint32_t id_;
  std::shared_ptr<RouterPeer> peer_;
  std::vector<uint32_t> to_;
  std::string banner_;
  std::string prompt_;
  uint64_t floodBytes_;
  bool started_ = false;
  int columns_, rows_;
  Mode mode_ = Mode::Line;
  std::string line_;
  bool lastWasReturn_ = false;
  bool escape_ = false;
  std::string sequence_;
  std::string pending_;
  size_t pendingAt_ = 0;
  uint32_t sent_ = 0, acked_ = 0, received_ = 0;
  uint64_t floodLeft_ = 0, floodPiece_ = 0;
  Reactor::TimerId topTimer_ = 0;
  uint64_t topTick_ = 0;
  bool closing_ = false, closed_ = false;
};

Console::Console(Reactor& reactor, ConsoleOptions options) : reactor_(reactor), options_(options) {}

Console::~Console() {
  reactor_.removeTimer(sweepTimer_);
  sessions_.clear();
}

void Console::install(RouterLogin& login) {
  login.addHandler({kTerminalHandler}, [this](const RouterRequest& r) { return serve(r); });
}

std::optional<std::pair<int, int>> Console::windowSize(uint32_t id) const {
  auto it = sessions_.find(id);
  if (it == sessions_.end())
    return std::nullopt;
  return it->second->size();
}

std::optional<nv::message> Console::serve(const RouterRequest& request) {
  sweep();
  uint32_t command = request.message.get(SYS_CMD);
  if (command == kTerminalOpen)
    return open(request);
  auto it = sessions_.find(request.message.get(STD_ID, kNoTerminalSession));
  // Only the connection that opened a session may use it.
  bool mine = it != sessions_.end() && it->second->peer() == request.peer.get();
  if (command == kTerminalData && mine) {
    it->second->onData(request.message);
  } else if (command == kTerminalWindowSize && mine) {
    it->second->onWindowSize(int(request.message.get(kTerminalColumns, 80)),
                             int(request.message.get(kTerminalRows, 24)));
  } else if (command == kTerminalClose && mine) {
    it->second->onClose();
  } else if (request.message.get(SYS_REPLYEXP)) {
    return errorReply(mine || command != kTerminalData ? ERROR_NOTIMP : ERROR_UNKNOWNID);
  }
  return std::nullopt;
}

std::optional<nv::message> Console::open(const RouterRequest& request) {
  const nv::message& m = request.message;
  auto kind = static_cast<TerminalKind>(m.get(kTerminalKind));
  std::string address = m.get(kTerminalTargetAddress);
  std::string user = m.get(kTerminalLogin, request.user.login.name);
  if (user.empty())
    user = request.user.login.name;
  std::string banner, host = "Nimbalux";
  switch (kind) {
  case TerminalKind::Console:
    break;
  case TerminalKind::Telnet:
  case TerminalKind::MacTelnet:
    if (address.empty())
      return errorReply(ERROR_MISSING);
    if (!m.get(kTerminalTargetUser).empty())
      user = m.get(kTerminalTargetUser);
    host = address;
    banner = (kind == TerminalKind::Telnet ? "Trying " + address + "...\r\nConnected to "
                                           : "Connecting to " + address + "\r\nConnected to ") +
             address + ".\r\n\r\n";
    break;
  case TerminalKind::Guest: {
    uint32_t link = m.get(kTerminalOptions).get(kTerminalGuestLink);
    host = "guest-" + std::to_string(link);
    banner = "Nestvisor: console of guest <" + std::to_string(link) + ">\r\n\r\n";
    break;
  }
  default:
    return errorReply(ERROR_NOTIMP);
  }
  size_t held = size_t(std::count_if(sessions_.begin(), sessions_.end(), [&](const auto& entry) {
    return entry.second->peer() == request.peer.get();
  }));
  if (held >= kMaxSessions || !request.peer)
    return errorReply(ERROR_TOOMUCH);
  uint32_t id = nextId_++;
  if (nextId_ == kNoTerminalSession)
    nextId_ = 1;
  int columns =
      std::clamp(int(std::min<uint32_t>(m.get(kTerminalColumns, 80), kMaxColumns)), 1, kMaxColumns);
  int rows = std::clamp(int(std::min<uint32_t>(m.get(kTerminalRows, 24), kMaxRows)), 1, kMaxRows);
  banner =
      "\x1b[1mNimbalux\x1b[0m router console (" + std::string(kTerminalTypeName) + ")\r\n" + banner;
  auto& session = sessions_[id];
  session = std::make_unique<Session>(*this, id, request.peer, m.get(SYS_FROM), std::move(banner),
                                      "[" + user + "@" + host + "] > ", options_.floodBytes,
                                      columns, rows);
  // The banner follows the reply: a client takes data only for a session it knows.
  reactor_.post([this, id] {
    auto it = sessions_.find(id);
    if (it != sessions_.end() && it->second->alive())
      it->second->start();
  });
  if (!sweepTimer_)
    armSweep();
  nv::message reply;
  reply.set(STD_ID, id);
  return reply;
}

void Console::armSweep() {
  sweepTimer_ = reactor_.addTimer(
      kSweepMs,
      [this] {
        sweepTimer_ = 0;
        sweep();
        if (!sessions_.empty())
          armSweep();
      },
      false);
}

// Sessions whose connection went or that were closed are dropped.
void Console::sweep() {
  std::erase_if(sessions_, [](const auto& entry) { return !entry.second->alive(); });
}

int applyConsoleOption(ConsoleOptions& options, int argc, char** argv, int i) {
  if (std::string(argv[i]) != "--console-flood")
    return 0;
  if (i + 1 >= argc)
    return -1;
  char* end = nullptr;
  unsigned long long n = std::strtoull(argv[i + 1], &end, 10);
  if (!end || *end || end == argv[i + 1])
    return -1;
  options.floodBytes = n;
  return 2;
}

const char* consoleOptionsUsage() {
  return "  console: --console-flood <bytes>   every terminal session first streams that many\n"
         "           bytes of mixed console output\n";
}

} // namespace kestel::sim
