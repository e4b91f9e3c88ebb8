// The crash report: handlers for SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT, run on an
// alternate signal stack, that write what the fault was, the registers, the version, a
// backtrace, the first stack words, the loaded modules and the code bytes at the fault to the
// log and, when a router connection is up, to the router on channel 4; then the process ends
// with the signal's default action (a core dump where enabled). Everything the handler does is
// safe inside a signal handler: it writes into memory set aside at installation, reads memory
// only through a probe that cannot fault, and bounds every wait.
#pragma once

#include <cstdint>

namespace kestel {

class FixedText;

// Installs the handlers for the calling thread's process and an alternate stack for the calling
// thread (a stack overflow in another thread ends the process without a report). Logs a
// "WARNING:" and goes on without a report when the memory or the handlers cannot be had.
void installCrashHandler();

// A function the handler calls before anything else, e.g. to give a terminal back its mode; it
// must itself be safe inside a signal handler. Null removes it.
using CrashCleanup = void (*)();
void setCrashCleanup(CrashCleanup cleanup);

// Appends the name of the fault as the report's first line has it: "ACCESS VIOLATION
// EXCEPTION", "STACK OVERFLOW EXCEPTION" (a segmentation fault within 64 KiB of the stack
// pointer), "DATATYPE MISALIGNMENT EXCEPTION", "FLT DIVIDE BY ZERO EXCEPTION", "INT DIVIDE BY
// ZERO EXCEPTION", or "UNKNOWN EXCEPTION " and the signal with its code ("SIGILL ILL_ILLOPN").
void appendCrashName(FixedText& out, int signal, int code, uintptr_t faultAddress,
                     uintptr_t stackPointer);

} // namespace kestel
