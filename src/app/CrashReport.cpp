#include "app/CrashReport.h"

#include "api/net/CrashSocket.h"
#include "app/CrashModules.h"
#include "app/CrashSymbols.h"
#include "util/FixedText.h"
#include "util/Log.h"

#include <kestel/Version.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>
#include <unwind.h>

namespace kestel {
namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr size_t kReportBytes = 64 * 1024;
constexpr size_t kAltStackBytes = 256 * 1024;
constexpr size_t kMaxFrames = 32;
constexpr size_t kMaxUnwound = 96; // the handler's own frames come first
constexpr int kStackWords = 32;
constexpr int kCodeBytes = 16;
constexpr uintptr_t kStackOverflowReach = 64 * 1024;
// Bounds for the slow parts, and a last resort if the handler itself hangs (a lock held by the
// crashed code): the default action of SIGALRM ends the process.
constexpr int kSymbolsMs = 10000;
constexpr int kSendMs = 5000;
constexpr unsigned kWatchdogS = 30;

// Everything the handler uses, set aside at installation.
struct HandlerState {
  char* report = nullptr;
  FrameSymbol* symbols = nullptr;
  CrashModules modules;
  CrashSymbols symbolizer;
  int probe[2] = {-1, -1};
  std::atomic<bool> handling{false};
  std::atomic<CrashCleanup> cleanup{nullptr};
};

HandlerState gState;

// ---- Memory the crashed code may have left unreadable

// Reads through a pipe: the kernel reports EFAULT for an unreadable source instead of faulting.
// The bare system call, because a sanitizer's write() would check the source itself and call
// the stack's guard zones an error.
bool readMemory(uintptr_t address, void* out, size_t length) {
  auto written = ssize_t(::syscall(SYS_write, gState.probe[1], address, length));
  if (written <= 0)
    return false;
  ssize_t got = ::read(gState.probe[0], out, size_t(written));
  return written == ssize_t(length) && got == written;
}

// ---- Processor state

struct Registers {
  uintptr_t pc = 0;
  uintptr_t sp = 0;
};

#if defined(__x86_64__)
Registers registersOf(const ucontext_t& uc) {
  return {uintptr_t(uc.uc_mcontext.gregs[REG_RIP]), uintptr_t(uc.uc_mcontext.gregs[REG_RSP])};
}

void appendRegisters(FixedText& out, const ucontext_t& uc) {
  const auto& g = uc.uc_mcontext.gregs;
  struct Item {
    const char* label;
    int reg;
    bool lineEnd;
  };
  static const Item kItems[] = {
      {"rdi=", REG_RDI, false},  {" rsi=", REG_RSI, false}, {" rbp=", REG_RBP, false},
      {" rsp=", REG_RSP, true},  {"rax=", REG_RAX, false},  {" rbx=", REG_RBX, false},
      {" rcx=", REG_RCX, false}, {" rdx=", REG_RDX, true},  {" r8=", REG_R8, false},
      {"  r9=", REG_R9, false},  {" r10=", REG_R10, false}, {" r11=", REG_R11, true},
      {"r12=", REG_R12, false},  {" r13=", REG_R13, false}, {" r14=", REG_R14, false},
      {" r15=", REG_R15, true}};
  out.add("rip=").hex(uint64_t(g[REG_RIP]), 16);
  out.add(" eflags=").hex(uint64_t(g[REG_EFL]), 8).add('\n');
  for (const Item& item : kItems) {
    out.add(item.label).hex(uint64_t(g[item.reg]), 16);
    if (item.lineEnd)
      out.add('\n');
  }
}
#elif defined(__aarch64__)
Registers registersOf(const ucontext_t& uc) {
  return {uintptr_t(uc.uc_mcontext.pc), uintptr_t(uc.uc_mcontext.sp)};
}

void appendRegisters(FixedText& out, const ucontext_t& uc) {
  const auto& m = uc.uc_mcontext;
  out.add(" pc=").hex(m.pc, 16).add(" pstate=").hex(m.pstate, 8).add('\n');
  for (int i = 0; i < 31; ++i) {
    if (i % 4 != 0)
      out.add(' ');
    out.add(i < 10 ? " x" : "x").decimal(uint64_t(i)).add('=').hex(m.regs[i], 16);
    if (i % 4 == 3)
      out.add('\n');
  }
  out.add("  sp=").hex(m.sp, 16).add('\n');
}
#else
Registers registersOf(const ucontext_t&) { return {}; }

void appendRegisters(FixedText& out, const ucontext_t&) {
  out.add("registers: not available on this processor\n");
}
#endif

// ---- Names

struct CodeName {
  int signal; // 0: any signal
  int code;
  const char* name;
};

const CodeName kCodeNames[] = {{SIGILL, ILL_ILLOPC, "ILL_ILLOPC"},
                               {SIGILL, ILL_ILLOPN, "ILL_ILLOPN"},
                               {SIGILL, ILL_ILLADR, "ILL_ILLADR"},
                               {SIGILL, ILL_ILLTRP, "ILL_ILLTRP"},
                               {SIGILL, ILL_PRVOPC, "ILL_PRVOPC"},
                               {SIGILL, ILL_PRVREG, "ILL_PRVREG"},
                               {SIGILL, ILL_COPROC, "ILL_COPROC"},
                               {SIGILL, ILL_BADSTK, "ILL_BADSTK"},
                               {SIGFPE, FPE_INTOVF, "FPE_INTOVF"},
                               {SIGFPE, FPE_FLTOVF, "FPE_FLTOVF"},
                               {SIGFPE, FPE_FLTUND, "FPE_FLTUND"},
                               {SIGFPE, FPE_FLTRES, "FPE_FLTRES"},
                               {SIGFPE, FPE_FLTINV, "FPE_FLTINV"},
                               {SIGFPE, FPE_FLTSUB, "FPE_FLTSUB"},
                               {SIGBUS, BUS_ADRERR, "BUS_ADRERR"},
                               {SIGBUS, BUS_OBJERR, "BUS_OBJERR"},
                               {SIGSEGV, SEGV_MAPERR, "SEGV_MAPERR"},
                               {SIGSEGV, SEGV_ACCERR, "SEGV_ACCERR"},
                               {0, SI_USER, "SI_USER"},
                               {0, SI_KERNEL, "SI_KERNEL"},
                               {0, SI_QUEUE, "SI_QUEUE"},
                               {0, SI_TKILL, "SI_TKILL"},
                               {0, SI_TIMER, "SI_TIMER"},
                               {0, SI_MESGQ, "SI_MESGQ"},
                               {0, SI_ASYNCIO, "SI_ASYNCIO"}};

const char* signalName(int signal) {
  switch (signal) {
  case SIGSEGV:
    return "SIGSEGV";
  case SIGBUS:
    return "SIGBUS";
  case SIGFPE:
    return "SIGFPE";
  case SIGILL:
    return "SIGILL";
  case SIGABRT:
    return "SIGABRT";
  default:
    return nullptr;
  }
}

void appendUnknown(FixedText& out, int signal, int code) {
  out.add("UNKNOWN EXCEPTION ");
  if (const char* name = signalName(signal))
    out.add(name);
  else
    out.add("signal ").decimal(uint64_t(signal));
  // The signals' own codes reuse small numbers, so they are matched before the shared ones.
  for (int pass = 0; pass < 2; ++pass)
    for (const CodeName& c : kCodeNames)
      if (c.code == code && c.signal == (pass == 0 ? signal : 0)) {
        out.add(' ').add(c.name);
        return;
      }
  out.add(" code ").signedDecimal(code);
}

// ---- Backtrace

struct Unwound {
  uintptr_t ip[kMaxUnwound];
  bool beforeInstruction[kMaxUnwound];
  size_t count = 0;
};

_Unwind_Reason_Code onFrame(_Unwind_Context* context, void* arg) {
  auto& u = *static_cast<Unwound*>(arg);
  int before = 0;
  uintptr_t ip = _Unwind_GetIPInfo(context, &before);
  u.ip[u.count] = ip;
  u.beforeInstruction[u.count] = before != 0;
  return ++u.count == kMaxUnwound ? _URC_END_OF_STACK : _URC_NO_REASON;
}

// The return addresses from the faulting frame outwards, as addresses to look up: a return
// address minus one lies in the call instruction, which is the line a reader wants.
size_t collectFrames(uintptr_t pc, uintptr_t* lookUp) {
  static Unwound unwound;
  unwound.count = 0;
  _Unwind_Backtrace(&onFrame, &unwound);
  size_t start = 0;
  while (start < unwound.count && unwound.ip[start] != pc)
    ++start;
  lookUp[0] = pc;
  size_t n = 1;
  for (size_t i = start + 1; i < unwound.count && n < kMaxFrames; ++i) {
    uintptr_t ip = unwound.ip[i];
    if (ip == 0)
      break;
    lookUp[n++] = unwound.beforeInstruction[i] ? ip : ip - 1;
  }
  return n;
}

const char* baseName(const char* path) {
  const char* base = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/')
      base = p + 1;
  return base;
}

void symbolise(const uintptr_t* frames, size_t count) {
  for (size_t i = 0; i < count; ++i)
    gState.symbols[i] = FrameSymbol();
  int64_t deadline = CrashSymbols::nowMs() + kSymbolsMs;
  bool done[kMaxFrames] = {};
  for (size_t i = 0; i < count; ++i) {
    const CrashModule* module = gState.modules.find(frames[i]);
    if (done[i] || !module)
      continue;
    gState.symbolizer.lookUp(*module, frames, count, gState.symbols, deadline);
    for (size_t k = i; k < count; ++k)
      if (gState.modules.find(frames[k]) == module)
        done[k] = true;
  }
}

void appendBacktrace(FixedText& out, uintptr_t pc) {
  uintptr_t frames[kMaxFrames];
  size_t count = collectFrames(pc, frames);
  symbolise(frames, count);
  out.add("backtrace:\n");
  for (size_t i = 0; i < count; ++i) {
    if (i > 0)
      out.add('\n');
    // The address shown is the return address; the look-up used the call instruction.
    uintptr_t shown = i == 0 ? frames[i] : frames[i] + 1;
    out.add('#').decimal(i).add(i < 10 ? "  " : " ").hex(shown, 16);
    if (const CrashModule* module = gState.modules.find(frames[i]))
      out.add(' ').add(baseName(module->name)).add('+').hex(shown - module->bias);
    const FrameSymbol& symbol = gState.symbols[i];
    if (symbol.function[0])
      out.add(' ').add(symbol.function);
    if (symbol.fileLine[0])
      out.add(' ').add(symbol.fileLine);
  }
}

// ---- The other sections

void appendStack(FixedText& out, uintptr_t sp) {
  out.add("\n\nstack:\n");
  for (int i = 0; i < kStackWords; ++i) {
    uint64_t word = 0;
    if (readMemory(sp + uintptr_t(i) * sizeof(uintptr_t), &word, sizeof word))
      out.hex(word, 16);
    else
      out.add("????????????????");
    out.add(i % 8 == 7 ? '\n' : ' ');
  }
  out.add('\n');
}

void appendModules(FixedText& out) {
  out.add("modules:\n");
  for (size_t i = 0; i < gState.modules.count(); ++i) {
    const CrashModule& m = gState.modules.at(i);
    out.hex(m.base, 16).add("    ").add(m.name).add('\n');
  }
}

void appendCode(FixedText& out, uintptr_t pc) {
  out.add("\ncode:\n");
  for (int i = 0; i < kCodeBytes; ++i) {
    uint8_t byte = 0;
    if (i > 0)
      out.add(' ');
    if (readMemory(pc + uintptr_t(i), &byte, 1))
      out.hex(byte, 2);
    else
      out.add("??");
  }
  out.add('\n');
}

// ---- The handler

// Sends what the report holds so far to the router (when connected) and to the log, then
// empties it.
void flushReport(FixedText& report, CrashSender* sender) {
  if (sender)
    sender->sendPacket(report.data(), report.size());
  writeLogFromSignal(report.data(), report.size());
  report.clear();
}

void writeReport(int signal, const siginfo_t& info, const ucontext_t& uc) {
  Registers regs = registersOf(uc);
  gState.modules.take();
  FixedText report(gState.report, kReportBytes);
  appendCrashName(report, signal, info.si_code, uintptr_t(info.si_addr), regs.sp);
  report.add(" at address: ").hex(regs.pc, 16).add("\n\n");
  appendRegisters(report, uc);
  report.add("kestel version: ").add(kKestelVersion).add("\n\n");
  appendBacktrace(report, regs.pc);
  appendStack(report, regs.sp);

  int fd = registeredCrashSocket();
  CrashSender socketSender(fd, kSendMs);
  CrashSender* sender = fd >= 0 ? &socketSender : nullptr;
  if (sender)
    sender->sendPrelude();
  flushReport(report, sender);
  appendModules(report);
  flushReport(report, sender);
  appendCode(report, regs.pc);
  flushReport(report, sender);
  if (sender)
    sender->sendClosing();
}

void onCrash(int signal, siginfo_t* info, void* context) {
#if defined(__x86_64__)
  // The kernel keeps the alignment-check flag across signal delivery; with it the handler's own
  // unaligned accesses would fault again.
  asm volatile("pushfq\n\tandl $~0x40000, (%%rsp)\n\tpopfq" ::: "memory", "cc");
#endif
  if (gState.handling.exchange(true)) {
    // Another thread is writing its report; it ends the process when done.
    for (;;)
      ::pause();
  }
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  ::sigaction(SIGALRM, &dfl, nullptr);
  ::alarm(kWatchdogS);
  if (CrashCleanup cleanup = gState.cleanup.load())
    cleanup();
  writeReport(signal, *info, *static_cast<const ucontext_t*>(context));
  // Default action from here on: a fault re-executes its instruction and ends the process; a
  // signal that was sent is raised again and ends it when the handler returns.
  ::sigaction(signal, &dfl, nullptr);
  ::raise(signal);
}

bool prepareState() {
  void* report = ::mmap(nullptr, kReportBytes + kMaxFrames * sizeof(FrameSymbol),
                        PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (report == MAP_FAILED)
    return false;
  gState.report = static_cast<char*>(report);
  gState.symbols = reinterpret_cast<FrameSymbol*>(gState.report + kReportBytes);
  if (::pipe2(gState.probe, O_CLOEXEC | O_NONBLOCK) != 0)
    return false;
  if (!gState.modules.prepare())
    return false;
  gState.symbolizer.prepare(); // without addr2line, frames keep module+offset
  // The unwinder binds its symbols lazily on first use; do that now, not in the handler.
  static Unwound warmUp;
  _Unwind_Backtrace(&onFrame, &warmUp);
  return true;
}

bool installAltStack() {
  void* memory = ::mmap(nullptr, kAltStackBytes, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (memory == MAP_FAILED)
    return false;
  stack_t stack{};
  stack.ss_sp = memory;
  stack.ss_size = kAltStackBytes;
  return ::sigaltstack(&stack, nullptr) == 0;
}

} // namespace

void appendCrashName(FixedText& out, int signal, int code, uintptr_t faultAddress,
                     uintptr_t stackPointer) {
  bool fromKernel = code > 0;
  if (signal == SIGSEGV && fromKernel) {
    uintptr_t distance =
        faultAddress > stackPointer ? faultAddress - stackPointer : stackPointer - faultAddress;
    out.add(distance < kStackOverflowReach ? "STACK OVERFLOW EXCEPTION"
                                           : "ACCESS VIOLATION EXCEPTION");
    return;
  }
  if (signal == SIGBUS && code == BUS_ADRALN) {
    out.add("DATATYPE MISALIGNMENT EXCEPTION");
    return;
  }
  if (signal == SIGFPE && code == FPE_FLTDIV) {
    out.add("FLT DIVIDE BY ZERO EXCEPTION");
    return;
  }
  if (signal == SIGFPE && code == FPE_INTDIV) {
    out.add("INT DIVIDE BY ZERO EXCEPTION");
    return;
  }
  appendUnknown(out, signal, code);
}

void setCrashCleanup(CrashCleanup cleanup) { gState.cleanup.store(cleanup); }

void installCrashHandler() {
  if (gState.report)
    return;
  if (!prepareState()) {
    logf("WARNING: crash report unavailable: ", std::strerror(errno));
    return;
  }
  if (!installAltStack())
    logf("WARNING: no alternate signal stack: ", std::strerror(errno));
  struct sigaction action {};
  action.sa_sigaction = &onCrash;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  // A second fault of any kind while the report is written ends the process at once.
  for (int s : kSignals)
    sigaddset(&action.sa_mask, s);
  for (int s : kSignals)
    if (::sigaction(s, &action, nullptr) != 0)
      logf("WARNING: no crash handler for signal ", s, ": ", std::strerror(errno));
}

} // namespace kestel
