// The pipe between a parent instance and the child it starts with "-": the length of the session
// parameters as a u32 in little-endian order, then the parameters in the wire encoding. The
// child's end is untrusted input: the length is bounded, the bytes must decode completely, and a
// short read is read on rather than taken as the whole (a pipe delivers a large message in
// pieces). Every failure is logged and yields an empty message.
#pragma once

#include "api/wire/Message.h"
#include "util/Bytes.h"
#include "util/Expected.h"

namespace kestel {

// The most the child accepts: the index and skin documents each fit the encoding's 64 KiB value
// limit, so a few of them are far below this.
inline constexpr uint32_t kMaxParameterBytes = 4u << 20;

// Reads one parameter message from `fd` (blocking). Logs "read len failed <errno>", "bad read
// len", "read msg failed <errno>", "read trimmed msg" or why the bytes were refused, and
// returns an empty message then.
nv::message readSessionParameters(int fd);

// Decodes the bytes after the length word; fails unless they decode completely.
Expected<nv::message> decodeSessionParameters(ByteSpan bytes);

// Writes the length and the encoding to `fd` (blocking; a closed reader is an error, not a
// signal). Logs "write len failed <errno>", "write msg failed <errno>" or "partial write <n>,
// size=<size>" on failure.
Expected<void> writeSessionParameters(int fd, const nv::message& parameters);

} // namespace kestel
