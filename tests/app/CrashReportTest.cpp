// The crash report: its names for each fault, its framing to the router, and whole reports from
// a program crashed on purpose, checked against what the processor, the compiler's line tables
// (through addr2line) and the kernel's /proc/<pid>/maps say, and against what the simulator got.
#include "app/CrashReport.h"
#include "api/net/Connection.h"
#include "api/net/CrashSocket.h"
#include "api/net/NetTestSupport.h"
#include "sim/CrashReports.h"
#include "support/TempFolder.h"
#include "util/FixedText.h"

#include <kestel/Version.h>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <regex.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kestel {
namespace {

using test::runUntil;

std::string nameOf(int signal, int code, uintptr_t fault = 0x10, uintptr_t sp = 0x7ffc0000) {
  char buffer[128];
  FixedText text(buffer, sizeof buffer);
  appendCrashName(text, signal, code, fault, sp);
  return std::string(text.data(), text.size());
}

TEST(CrashName, EachFaultGetsItsName) {
  struct Case {
    int signal, code;
    uintptr_t fault, sp;
    const char* name;
  } cases[] = {
      {SIGSEGV, SEGV_MAPERR, 0x10, 0x7ffc0000, "ACCESS VIOLATION EXCEPTION"},
      {SIGSEGV, SEGV_ACCERR, 0x5000, 0x7ffc0000, "ACCESS VIOLATION EXCEPTION"},
      {SIGSEGV, SI_KERNEL, 0, 0x7ffc0000, "ACCESS VIOLATION EXCEPTION"}, // non-canonical address
      {SIGSEGV, SEGV_MAPERR, 0x7ffbfff8, 0x7ffc0000, "STACK OVERFLOW EXCEPTION"},
      {SIGSEGV, SEGV_MAPERR, 0x7ffc0000 - 65535, 0x7ffc0000, "STACK OVERFLOW EXCEPTION"},
      {SIGSEGV, SEGV_MAPERR, 0x7ffc0000 - 65536, 0x7ffc0000, "ACCESS VIOLATION EXCEPTION"},
      {SIGSEGV, SI_USER, 0, 0x7ffc0000, "UNKNOWN EXCEPTION SIGSEGV SI_USER"}, // sent, no fault
      {SIGBUS, BUS_ADRALN, 0x11, 0, "DATATYPE MISALIGNMENT EXCEPTION"},
      {SIGBUS, BUS_ADRERR, 0x11, 0, "UNKNOWN EXCEPTION SIGBUS BUS_ADRERR"},
      {SIGFPE, FPE_INTDIV, 0, 0, "INT DIVIDE BY ZERO EXCEPTION"},
      {SIGFPE, FPE_FLTDIV, 0, 0, "FLT DIVIDE BY ZERO EXCEPTION"},
      {SIGFPE, FPE_INTOVF, 0, 0, "UNKNOWN EXCEPTION SIGFPE FPE_INTOVF"},
      {SIGILL, ILL_ILLOPN, 0, 0, "UNKNOWN EXCEPTION SIGILL ILL_ILLOPN"},
      {SIGILL, 99, 0, 0, "UNKNOWN EXCEPTION SIGILL code 99"},
      {SIGABRT, SI_TKILL, 0, 0, "UNKNOWN EXCEPTION SIGABRT SI_TKILL"},
      {SIGABRT, SI_QUEUE, 0, 0, "UNKNOWN EXCEPTION SIGABRT SI_QUEUE"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(nameOf(c.signal, c.code, c.fault, c.sp), c.name) << c.signal << "/" << c.code;
}

// ---- Framing

std::string readAll(int fd) {
  std::string out;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
    out.append(buffer, size_t(n));
  return out;
}

TEST(CrashFraming, PreludePacketsAndClosingAreTheRoutersChunks) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  std::string report(600, 'r');
  CrashSender sender(pair[0], 1000);
  EXPECT_TRUE(sender.sendPrelude());
  EXPECT_TRUE(sender.sendPacket(report.data(), report.size()));
  EXPECT_TRUE(sender.sendPacket("x", 1));
  EXPECT_TRUE(sender.sendClosing());
  ::close(pair[0]);
  std::string wire = readAll(pair[1]);
  ::close(pair[1]);

  std::string expected(256, '\0');
  expected += std::string("\x01\x00\x00", 3);
  expected += std::string("\xff\x04", 2) + report.substr(0, 255);
  expected += std::string("\xff\xff", 2) + report.substr(255, 255);
  expected += std::string("\x5a\xff", 2) + report.substr(510);
  expected += std::string("\x01\x04x", 3);
  expected += std::string("\x01\xff\x00", 3);
  EXPECT_EQ(wire, expected);
}

TEST(CrashFraming, APeerThatStopsReadingEndsTheSendAtTheDeadline) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair), 0);
  std::string big(1 << 20, 'b'); // more than the socket buffers hold
  CrashSender sender(pair[0], 20);
  EXPECT_FALSE(sender.sendPacket(big.data(), big.size()));
  EXPECT_FALSE(sender.ok());
  EXPECT_FALSE(sender.sendClosing()); // nothing more after a failure
  ::close(pair[0]);
  ::close(pair[1]);
}

// Whatever the connection left half-sent on another channel, the router finds the report.
class CrashResync : public test::ReactorTest {};

TEST_F(CrashResync, TheSimulatorFindsTheReportAfterAnyPartialChunk) {
  struct Case {
    const char* what;
    std::string before;
  } cases[] = {
      {"nothing", ""},
      {"a whole chunk", std::string("\x03\x06"
                                    "abc",
                                    5)},
      {"a length byte", std::string("\xc8", 1)},
      {"a header", std::string("\xc8\x06", 2)},
      {"a header and 1 byte", std::string("\xc8\x06"
                                          "a",
                                          3)},
      {"a header and 50 bytes", std::string("\xc8\x06", 2) + std::string(50, 'a')},
      {"a header and 254 bytes", std::string("\xff\x06", 2) + std::string(254, 'a')},
  };
  for (const Case& c : cases) {
    sim::SimServer server(reactor);
    sim::CrashReports reports;
    reports.install(server);
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair), 0);
    server.serve(pair[1], "127.0.0.1");
    ASSERT_EQ(::write(pair[0], c.before.data(), c.before.size()), ssize_t(c.before.size()));
    std::string report =
        "ACCESS VIOLATION EXCEPTION at address: 0000000000000010\n\n" + std::string(700, 'z');
    CrashSender sender(pair[0], 1000);
    sender.sendPrelude();
    sender.sendPacket(report.data(), 300);
    sender.sendPacket(report.data() + 300, report.size() - 300);
    sender.sendClosing();
    ASSERT_TRUE(runUntil(reactor, [&] { return !reports.reports().empty(); })) << c.what;
    EXPECT_EQ(reports.reports()[0].text, report) << c.what;
    EXPECT_TRUE(reports.reports()[0].complete) << c.what;
    ::close(pair[0]);
  }
}

TEST_F(CrashResync, AReportCutByTheConnectionIsKeptAsIncomplete) {
  sim::SimServer server(reactor);
  sim::CrashReports reports;
  reports.install(server);
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair), 0);
  server.serve(pair[1], "127.0.0.1");
  CrashSender sender(pair[0], 1000);
  sender.sendPrelude();
  sender.sendPacket("half a report", 13);
  ::close(pair[0]);
  ASSERT_TRUE(runUntil(reactor, [&] { return !reports.reports().empty(); }));
  EXPECT_EQ(reports.reports()[0].text, "half a report");
  EXPECT_FALSE(reports.reports()[0].complete);
}

// ---- Whole reports from a crashing program

// POSIX extended regular expressions; `^` and `$` match at line ends. Fills `groups` with the
// parenthesised matches.
bool search(const std::string& text, const std::string& pattern,
            std::vector<std::string>* groups = nullptr, int flags = REG_NEWLINE) {
  regex_t re;
  if (::regcomp(&re, pattern.c_str(), REG_EXTENDED | flags) != 0) {
    ADD_FAILURE() << "bad pattern " << pattern;
    return false;
  }
  regmatch_t m[4];
  bool found = ::regexec(&re, text.c_str(), 4, m, 0) == 0;
  ::regfree(&re);
  if (found && groups) {
    groups->clear();
    for (size_t i = 1; i < 4 && m[i].rm_so >= 0; ++i)
      groups->push_back(text.substr(size_t(m[i].rm_so), size_t(m[i].rm_eo - m[i].rm_so)));
  }
  return found;
}

// The whole text matches.
bool fullMatch(const std::string& text, const std::string& pattern) {
  return search(text, "^(" + pattern + ")$", nullptr, 0);
}

struct ProbeRun {
  int signal = 0; // the signal that ended it, 0 when it exited
  std::string stdoutText;
  std::string log;
  std::string maps;
  uintptr_t fault = 0; // the faulting instruction, when the probe knows it
  int line = 0;        // the source line of the call that crashed
};

std::string fileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A child process with its standard streams on pipes, without core dumps and with an 8 MiB
// stack; killed when the object goes.
class Child {
public:
  Child(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
      return;
    pid_ = ::fork();
    if (pid_ == 0) {
      // The crashes are on purpose: no core files. And an unlimited stack would let a stack
      // overflow run into other mappings.
      rlimit core{0, 0}, stack{8 << 20, 8 << 20};
      ::setrlimit(RLIMIT_CORE, &core);
      ::setrlimit(RLIMIT_STACK, &stack);
      for (const std::string& e : env)
        ::putenv(const_cast<char*>(e.c_str()));
      ::dup2(in[0], STDIN_FILENO);
      ::dup2(out[1], STDOUT_FILENO);
      ::dup2(err[1], STDERR_FILENO);
      std::vector<char*> argv;
      for (std::string& a : args)
        argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    input = in[1];
    output = out[0];
    errors = err[0];
  }
  ~Child() {
    for (int fd : {input, output, errors})
      ::close(fd);
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Reads `fd` until a line holds `fragment`; false at the end of the stream.
  static bool readUntil(int fd, const std::string& fragment, std::string* seen = nullptr) {
    std::string text;
    char c;
    while (::read(fd, &c, 1) == 1) {
      text += c;
      if (text.find(fragment) != std::string::npos) {
        if (seen)
          *seen = text;
        return true;
      }
    }
    return false;
  }
  // Sends the signal and returns the signal that ended the process (0 when it exited).
  int killWith(int signal) {
    ::kill(pid_, signal);
    return wait();
  }
  // Waits for the process to end; returns the signal that ended it (0 when it exited).
  int wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }

  int input = -1, output = -1, errors = -1;

private:
  pid_t pid_ = -1;
};

ProbeRun runProbe(const std::string& kind, const test::TempFolder& folder, int port) {
  ProbeRun run;
  std::string log = folder.file(kind + ".log"), maps = folder.file(kind + ".maps");
  std::vector<std::string> args = {KESTEL_CRASH_PROBE_PATH, kind, log, maps};
  if (port)
    args.push_back(std::to_string(port));
  Child probe(args);
  run.stdoutText = readAll(probe.output);
  run.signal = probe.wait();
  run.log = fileText(log);
  run.maps = fileText(maps);
  std::vector<std::string> m;
  if (search(run.stdoutText, "fault ([0-9a-f]{16})", &m))
    run.fault = uintptr_t(std::stoull(m[0], nullptr, 16));
  if (search(run.stdoutText, "line ([0-9]+)", &m))
    run.line = std::stoi(m[0]);
  return run;
}

std::string section(const std::string& report, const std::string& title, const std::string& next) {
  size_t start = report.find(title);
  if (start == std::string::npos)
    return {};
  start += title.size();
  size_t end = next.empty() ? report.size() : report.find(next, start);
  return report.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// Every module the report lists is mapped in the kernel's view, from its base, by that file.
void expectModulesMatchMaps(const std::string& report, const std::string& maps) {
  std::string modules = section(report, "modules:\n", "\ncode:\n");
  std::istringstream lines(modules);
  std::string line;
  size_t files = 0;
  bool program = false, libc = false;
  while (std::getline(lines, line)) {
    std::vector<std::string> m;
    ASSERT_TRUE(search(line, "^([0-9a-f]{16})    (.+)$", &m)) << line;
    const std::string& path = m[1];
    if (path[0] != '/')
      continue; // the vDSO
    ++files;
    std::ostringstream start;
    start << std::hex << std::stoull(m[0], nullptr, 16) << "-";
    bool found = false;
    std::istringstream mapLines(maps);
    std::string mapLine;
    while (std::getline(mapLines, mapLine)) {
      size_t slash = mapLine.find('/');
      std::error_code ec;
      if (mapLine.rfind(start.str(), 0) == 0 && slash != std::string::npos &&
          std::filesystem::equivalent(path, mapLine.substr(slash), ec))
        found = true;
    }
    EXPECT_TRUE(found) << line;
    program |= path.find("crash_probe") != std::string::npos;
    libc |= path.find("libc.so") != std::string::npos;
  }
  EXPECT_GE(files, 3u);
  EXPECT_TRUE(program);
  EXPECT_TRUE(libc);
}

void expectStackAndCode(const std::string& report) {
  std::string stack = section(report, "\n\nstack:\n", "modules:\n");
  EXPECT_TRUE(fullMatch(stack, "(([0-9a-f?]{16} ){7}[0-9a-f?]{16}\n){4}\n")) << stack;
  std::string code = section(report, "\ncode:\n", "");
  EXPECT_TRUE(fullMatch(code, "([0-9a-f?]{2} ){15}[0-9a-f?]{2}\n")) << code;
}

class CrashProbe : public test::ReactorTest {
protected:
  test::TempFolder folder;
};

TEST_F(CrashProbe, EachFaultIsReportedToTheLogAndTheRouter) {
  struct Case {
    const char* kind;
    int signal;
    const char* name;
    const char* frame; // a function the backtrace must show
  } cases[] = {
      {"ill", SIGILL, "UNKNOWN EXCEPTION SIGILL ILL_ILLOPN", "probe_ill"},
      {"segv", SIGSEGV, "ACCESS VIOLATION EXCEPTION", "probe_segv"},
      {"fpe", SIGFPE, "INT DIVIDE BY ZERO EXCEPTION", "probe_fpe"},
      {"misaligned", SIGBUS, "DATATYPE MISALIGNMENT EXCEPTION", "probe_misaligned"},
      {"overflow", SIGSEGV, "STACK OVERFLOW EXCEPTION", "recurse"},
      {"bus", SIGBUS, "UNKNOWN EXCEPTION SIGBUS BUS_ADRERR", "busError"},
      {"fltdiv", SIGFPE, "FLT DIVIDE BY ZERO EXCEPTION", "floatDivide"},
      {"abort", SIGABRT, "UNKNOWN EXCEPTION SIGABRT SI_TKILL", "abort"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
#if !defined(__x86_64__)
    if (std::string(c.frame).rfind("probe_", 0) == 0)
      continue; // made in x86-64 assembly
#endif
    sim::SimServer server(reactor);
    sim::CrashReports reports;
    reports.install(server);
    ASSERT_TRUE(server.listen(0).ok());
    ProbeRun run = runProbe(c.kind, folder, server.port());
    if (std::string(c.kind) == "misaligned" && run.signal == SIGILL)
      continue; // this processor (or hypervisor) does not check alignment in user mode
    EXPECT_EQ(run.signal, c.signal) << run.stdoutText;
    ASSERT_TRUE(runUntil(reactor, [&] { return !reports.reports().empty(); }));
    const sim::CrashReport& atRouter = reports.reports()[0];
    EXPECT_TRUE(atRouter.complete);
    EXPECT_EQ(atRouter.text, run.log); // the log holds the report and nothing else

    const std::string& report = run.log;
    std::vector<std::string> m;
    ASSERT_TRUE(
        search(report, std::string("^") + c.name + " at address: ([0-9a-f]{16})\n\n", &m, 0))
        << report;
    uintptr_t at = uintptr_t(std::stoull(m[0], nullptr, 16));
    if (run.fault) {
      EXPECT_EQ(at, run.fault);
    }
    EXPECT_NE(report.find("\nkestel version: " + std::string(kKestelVersion) + "\n\nbacktrace:\n"),
              std::string::npos);
    std::string backtrace = section(report, "backtrace:\n", "\n\nstack:\n");
    EXPECT_EQ(backtrace.rfind("#0  " + m[0] + " ", 0), 0u) << backtrace;
    EXPECT_NE(backtrace.find(c.frame), std::string::npos) << backtrace;
    if (std::string(c.kind) != "overflow") { // its 32 frames are all inside the recursion
      EXPECT_NE(backtrace.find("CrashProbe.cpp:" + std::to_string(run.line)), std::string::npos)
          << backtrace;
    }
    expectStackAndCode(report);
    expectModulesMatchMaps(report, run.maps);
  }
}

#if defined(__x86_64__)
TEST_F(CrashProbe, RegistersStackAndCodeAreThoseOfTheFault) {
  ProbeRun run = runProbe("ill", folder, 0); // no router: the log alone
  ASSERT_EQ(run.signal, SIGILL);
  const std::string& r = run.log;
  char rip[17];
  std::snprintf(rip, sizeof rip, "%016lx", static_cast<unsigned long>(run.fault));
  EXPECT_TRUE(search(r, std::string("\nrip=" + std::string(rip) +
                                    " eflags=[0-9a-f]{8}\n"
                                    "rdi=a0a0a0a0a0a0a006 rsi=a0a0a0a0a0a0a005 "
                                    "rbp=[0-9a-f]{16} rsp=[0-9a-f]{16}\n"
                                    "rax=a0a0a0a0a0a0a001 rbx=a0a0a0a0a0a0a002 "
                                    "rcx=a0a0a0a0a0a0a003 rdx=a0a0a0a0a0a0a004\n"
                                    " r8=a0a0a0a0a0a0a008  r9=a0a0a0a0a0a0a009 "
                                    "r10=a0a0a0a0a0a0a00a r11=a0a0a0a0a0a0a00b\n"
                                    "r12=a0a0a0a0a0a0a00c r13=a0a0a0a0a0a0a00d "
                                    "r14=a0a0a0a0a0a0a00e r15=a0a0a0a0a0a0a00f\n"
                                    "kestel version: ")))
      << r;
  // The instruction and the bytes the probe placed after it.
  EXPECT_NE(r.find("\ncode:\n0f 0b de ad be ef 01 23 45 67 89 ab cd ef 55 aa\n"), std::string::npos)
      << r;
  // The first stack word is the return address into the caller: frame #1.
  std::vector<std::string> m;
  ASSERT_TRUE(search(r, "\n#1  ([0-9a-f]{16}) ", &m));
  EXPECT_NE(r.find("\nstack:\n" + m[0] + " "), std::string::npos) << r;
}
#endif

// The shipped command line has the handlers: killed in the middle of a terminal session it
// reports to its log and, over the session's connection, to the router.
TEST(CrashReportOfTheCli, AKilledSessionReportsToTheLogAndTheRouter) {
  test::TempFolder folder;
  std::string reportsFile = folder.file("reports.txt");
  Child sim({KESTEL_SIM_PATH, "--port", "0", "--user", "admin:pw", "--crash-reports", reportsFile});
  std::string port;
  ASSERT_TRUE(Child::readUntil(sim.output, "\n", &port));
  Child cli({KESTEL_CLI_PATH, "terminal", "--timeout", "600",
             "127.0.0.1:" + port.substr(0, port.size() - 1), "admin"},
            {"KESTEL_PASSWORD=pw", "KESTEL_HOME=" + folder.path()});
  char first;
  ASSERT_EQ(::read(cli.output, &first, 1), 1); // the console answered: the session is up
  EXPECT_EQ(cli.killWith(SIGABRT), SIGABRT);
  ASSERT_TRUE(Child::readUntil(sim.errors, "crash report from 127.0.0.1"));

  std::string log = fileText(folder.file("kestel.log"));
  size_t start = log.find("UNKNOWN EXCEPTION SIGABRT SI_USER at address: ");
  ASSERT_NE(start, std::string::npos) << log;
  std::string report = log.substr(start);
  EXPECT_NE(report.find("\nkestel version: " + std::string(kKestelVersion) + "\n"),
            std::string::npos);
  // Symbols come from the program's own tables: the session was waiting in the event loop.
  EXPECT_NE(section(report, "backtrace:\n", "\n\nstack:\n").find("kestel::PollReactor::run"),
            std::string::npos)
      << report;
  expectStackAndCode(report);
  std::string atRouter = fileText(reportsFile);
  EXPECT_EQ(atRouter.rfind(
                "crash report from 127.0.0.1 (" + std::to_string(report.size()) + " bytes)\n", 0),
            0u)
      << atRouter;
  EXPECT_NE(atRouter.find(report), std::string::npos);
}

TEST(CrashSocket, TheConnectionRegistersItsSocketWhileUp) {
  PollReactor reactor(PollReactor::Clock::Manual);
  ReactorScope scope(reactor);
  sim::SimServer server(reactor);
  ASSERT_TRUE(server.listen(0).ok());
  auto connection = createConnection(reactor);
  connection->connect("127.0.0.1", server.port());
  ASSERT_TRUE(runUntil(reactor, [&] { return connection->isUp(); }));
  int fd = registeredCrashSocket();
  ASSERT_GE(fd, 0);
  int type = 0;
  socklen_t length = sizeof type;
  EXPECT_EQ(::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length), 0);
  EXPECT_EQ(type, SOCK_STREAM);
  unregisterCrashSocket(fd + 1); // another socket's withdrawal leaves it
  EXPECT_EQ(registeredCrashSocket(), fd);
  connection->close(CloseMode::Now);
  EXPECT_EQ(registeredCrashSocket(), -1);
}

} // namespace
} // namespace kestel
