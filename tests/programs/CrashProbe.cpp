// crash_probe: a program that installs the crash handler as kestel and kestel-cli do, optionally
// connects to a router on 127.0.0.1, and then crashes on purpose in the way its first argument
// names. Before crashing it prints what a test needs to check the report against: the address
// of the faulting instruction (for the faults made in assembly), the source line of the call
// that crashes, and a copy of /proc/self/maps.
//
//   crash_probe <segv|overflow|bus|misaligned|fpe|fltdiv|ill|abort> <log> <maps copy> [port]
#include "api/net/Connection.h"
#include "api/net/PollReactor.h"
#include "api/net/ReactorScope.h"
#include "app/CrashReport.h"
#include "util/Log.h"

#include <cfenv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

// Under AddressSanitizer the program's own handlers must be the ones that run, as in a release
// build: the sanitizer keeps out of these signals.
extern "C" const char* __asan_default_options() {
  return "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0:"
         "allow_user_segv_handler=1";
}

#if defined(__x86_64__)
// Faults made in assembly, so that neither the compiler nor a sanitizer changes them: each sets
// every general register to a known pattern first, and the faulting instruction carries a global
// label. The CFI lets the unwinder step out of them into the C++ caller.
#define KESTEL_PROBE_PATTERNS                                                                      \
  "  movabs $0xa0a0a0a0a0a0a001, %rax\n"                                                           \
  "  movabs $0xa0a0a0a0a0a0a002, %rbx\n"                                                           \
  "  movabs $0xa0a0a0a0a0a0a004, %rdx\n"                                                           \
  "  movabs $0xa0a0a0a0a0a0a005, %rsi\n"                                                           \
  "  movabs $0xa0a0a0a0a0a0a006, %rdi\n"                                                           \
  "  movabs $0xa0a0a0a0a0a0a008, %r8\n"                                                            \
  "  movabs $0xa0a0a0a0a0a0a009, %r9\n"                                                            \
  "  movabs $0xa0a0a0a0a0a0a00a, %r10\n"                                                           \
  "  movabs $0xa0a0a0a0a0a0a00b, %r11\n"                                                           \
  "  movabs $0xa0a0a0a0a0a0a00c, %r12\n"                                                           \
  "  movabs $0xa0a0a0a0a0a0a00d, %r13\n"                                                           \
  "  movabs $0xa0a0a0a0a0a0a00e, %r14\n"                                                           \
  "  movabs $0xa0a0a0a0a0a0a00f, %r15\n"

asm(R"(
  .text
  .globl probe_ill, probe_ill_fault, probe_segv, probe_segv_fault, probe_fpe, probe_fpe_fault
  .globl probe_misaligned, probe_misaligned_fault
  .type probe_ill, @function
probe_ill:
  .cfi_startproc
)" KESTEL_PROBE_PATTERNS R"(
  movabs $0xa0a0a0a0a0a0a003, %rcx
probe_ill_fault:
  ud2
  .byte 0xde, 0xad, 0xbe, 0xef, 0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0x55, 0xaa
  .cfi_endproc
  .size probe_ill, .-probe_ill

  .type probe_segv, @function
probe_segv:
  .cfi_startproc
)" KESTEL_PROBE_PATTERNS R"(
  movabs $0xa0a0a0a0a0a0a003, %rcx
probe_segv_fault:
  movl $42, 0x10
  ud2
  .cfi_endproc
  .size probe_segv, .-probe_segv

  .type probe_fpe, @function
probe_fpe:
  .cfi_startproc
  xorl %ecx, %ecx
  movl $1, %eax
  cqto
probe_fpe_fault:
  idivq %rcx
  ud2
  .cfi_endproc
  .size probe_fpe, .-probe_fpe

  .type probe_misaligned, @function
probe_misaligned:
  .cfi_startproc
  pushfq
  .cfi_adjust_cfa_offset 8
  orl $0x40000, (%rsp)
  popfq
  .cfi_adjust_cfa_offset -8
probe_misaligned_fault:
  movq 1(%rsp), %rax
  ud2
  .cfi_endproc
  .size probe_misaligned, .-probe_misaligned
)");

extern "C" {
void probe_ill();
void probe_segv();
void probe_fpe();
void probe_misaligned();
extern char probe_ill_fault[], probe_segv_fault[], probe_fpe_fault[], probe_misaligned_fault[];
}
#endif

namespace {

using namespace kestel;

void copyMaps(const char* to) {
  int in = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  int out = ::open(to, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  char buffer[4096];
  ssize_t n;
  while (in >= 0 && out >= 0 && (n = ::read(in, buffer, sizeof buffer)) > 0)
    if (::write(out, buffer, size_t(n)) != n)
      break;
  ::close(in);
  ::close(out);
}

// Reports where the fault will be and the line of the call that makes it.
void announce(const void* faultAddress, int callLine) {
  std::printf("fault %016lx\nline %d\n", reinterpret_cast<unsigned long>(faultAddress), callLine);
  std::fflush(stdout);
}

__attribute__((noinline)) int recurse(volatile char* previous) {
  volatile char frame[512];
  frame[0] = previous ? previous[0] : 1;
  if (frame[0] == 0) // never: keeps the compiler from seeing an endless recursion
    return 0;
  return recurse(frame) + frame[1];
}

__attribute__((noinline)) void busError() {
  char path[] = "/tmp/kestel-crash-probe-XXXXXX";
  int fd = ::mkstemp(path);
  ::unlink(path);
  // A mapping past the end of an empty file: touching it is a bus error.
  auto* page = static_cast<volatile char*>(::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0));
  announce(nullptr, __LINE__ + 1);
  std::printf("%d\n", page[0]);
}

__attribute__((noinline)) void floatDivide() {
  ::feenableexcept(FE_DIVBYZERO);
  volatile double zero = 0.0;
  announce(nullptr, __LINE__ + 1);
  volatile double result = 1.0 / zero;
  (void)result;
}

int crash(const std::string& kind) {
#if defined(__x86_64__)
  if (kind == "ill") {
    announce(probe_ill_fault, __LINE__ + 1);
    probe_ill();
  }
  if (kind == "segv") {
    announce(probe_segv_fault, __LINE__ + 1);
    probe_segv();
  }
  if (kind == "fpe") {
    announce(probe_fpe_fault, __LINE__ + 1);
    probe_fpe();
  }
  if (kind == "misaligned") {
    announce(probe_misaligned_fault, __LINE__ + 1);
    probe_misaligned();
  }
#endif
  if (kind == "overflow") {
    announce(nullptr, __LINE__ + 1);
    return recurse(nullptr);
  }
  if (kind == "bus")
    busError();
  if (kind == "fltdiv")
    floatDivide();
  if (kind == "abort") {
    announce(nullptr, __LINE__ + 1);
    std::abort();
  }
  std::fprintf(stderr, "crash_probe: no crash of kind %s here\n", kind.c_str());
  return 2;
}

// Connects to the router at 127.0.0.1:port and waits until the connection is up.
Reference<Connection> connectTo(PollReactor& reactor, uint32_t port) {
  auto connection = createConnection(reactor);
  connection->connect("127.0.0.1", port);
  while (!connection->isUp() && !connection->isClosed())
    reactor.runOnce(-1);
  return connection;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: crash_probe <kind> <log> <maps copy> [port]\n");
    return 2;
  }
  installCrashHandler();
  if (!openLogFile(argv[2])) {
    std::fprintf(stderr, "crash_probe: cannot open %s\n", argv[2]);
    return 2;
  }
  PollReactor reactor;
  ReactorScope scope(reactor);
  Reference<Connection> connection;
  if (argc == 5) {
    connection = connectTo(reactor, uint32_t(std::atoi(argv[4])));
    if (!connection->isUp()) {
      std::fprintf(stderr, "crash_probe: not connected\n");
      return 2;
    }
  }
  copyMaps(argv[3]);
  return crash(argv[1]);
}
