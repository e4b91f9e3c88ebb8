// "Open In New Window": a parent instance hands its logged-in session to a child process. The
// child is this program started with the single argument "-"; its standard input is a pipe on
// which the parent writes the session parameters (ParameterPipe.h), and the connection's socket
// is the one descriptor besides the standard ones it inherits: every other descriptor, whoever
// opened it, is closed in the child before exec. The parameters carry the connection's stream
// state (1003), the session's keys and stream state (1018), the legacy flag (1020), the
// descriptor index (1004) and the skin document (1022), so the child carries on without logging
// in again. Once the child has them the parent's copy of the socket is closed and its session
// dropped: one session never has two users.
#pragma once

#include "api/net/Connection.h"
#include "api/net/LegacySession.h"
#include "api/net/SecureSession.h"
#include "api/wire/Message.h"
#include "util/Expected.h"

#include <string>
#include <vector>

namespace kestel {

// The running program's executable; fails (after logging "ERROR: could get path to myself").
Expected<std::string> ownProgramPath();

// Starts `program` with `arguments` (the first is the name it sees) as a process of its own
// (not this one's child once started, so it leaves no zombie), standard output and error shared
// with this process. With `parameters`, standard input is a pipe they are written to; without,
// it is shared too. `keepFd`, when not -1, stays open in the child under the same number. Logs
// "ERROR: CreatePipe failed" or "ERROR: could not start process" and fails when the child could
// not be started or did not take its parameters.
Expected<void> startProcess(const std::string& program, const std::vector<std::string>& arguments,
                            const nv::message* parameters, int keepFd);

// What a logged-in session consists of in the parent.
struct HandOffSource {
  Connection* connection = nullptr;
  SecureSession* secure = nullptr; // one of the two sessions
  LegacySession* legacy = nullptr;
  Bytes indexBytes; // the descriptor index the parent loaded from; empty: the child fetches it
  Bytes skinBytes;  // the skin document; empty when the router has none
};

// The parameters for the child: `parameters` with 1003, 1018, 1020, 1004 and 1022 set. Fails
// when the session is not logged in or its state does not fit the encoding (a router that
// fills our buffers; the hand-over can be tried again later). An index or skin too large for
// one value is left out (logged): the child then fetches the index, and goes without the skin.
Expected<nv::message> childParameters(nv::message parameters, const HandOffSource& source);

// The whole hand-over: builds the child's parameters, starts `program` with "-", and on success
// releases the connection (its socket closed here, open in the child) and stops the session.
// On failure nothing is released and the session carries on here.
Expected<void> openInNewWindow(const std::string& program, const nv::message& parameters,
                               const HandOffSource& source);

// "New Kestel": this program again, with no parameters and nothing inherited but the standard
// descriptors. Logs "ERROR: failed to start updated version" on failure.
Expected<void> startNewInstance(const std::string& program);

} // namespace kestel
