// Fetchers bring one router file at a time into a FileSink. The listener is called after every
// event (each reply or piece, and the end); isDone() tells when the transfer is over and
// failed() whether it went wrong, with errorText() and errorCode() saying why.
#pragma once

#include "api/net/IConnection.h"
#include "app/FileSink.h"
#include "app/RequestPort.h"
#include "util/Base.h"

#include <functional>
#include <string>

namespace kestel {

// A transfer that keeps sending past this is refused: no descriptor file comes near it.
inline constexpr uint64_t kMaxTransferBytes = 256ull << 20;

class FileFetcher {
public:
  using Listener = std::function<void()>;
  virtual ~FileFetcher() = default;
  // Starts a transfer of `name` into `sink` (kept alive by the caller until done or cancel).
  virtual void fetch(FileSink& sink, const std::string& name, bool compressed,
                     Listener listener) = 0;
  // Gives up the transfer; no more listener calls.
  virtual void cancel() = 0;
  virtual bool isDone() const = 0;
  virtual bool failed() const = 0;
  virtual const std::string& errorText() const = 0;
  virtual uint32_t errorCode() const = 0;
};

// Through the file handler (2, 2): "open" (command 7, string 1 = name, ".gz" appended when
// compressed) answers with a transfer id; "read" (command 4, STD_ID and the largest piece)
// answers with raw 3 and bool 4 at the end; "give up" (command 5) drops a transfer.
class MessageFileFetcher final : public FileFetcher {
public:
  static constexpr uint32_t kOpenCommand = 7;
  static constexpr uint32_t kReadCommand = 4;
  static constexpr uint32_t kGiveUpCommand = 5;
  static constexpr uint32_t kLargestPiece = 32768;
  static const std::vector<uint32_t>& handlerPath();

  explicit MessageFileFetcher(RequestPort& port) : port_(port) {}
  ~MessageFileFetcher() override { cancel(); }

  void fetch(FileSink& sink, const std::string& name, bool compressed, Listener listener) override;
  void cancel() override;
  bool isDone() const override { return done_; }
  bool failed() const override { return failed_; }
  const std::string& errorText() const override { return error_; }
  uint32_t errorCode() const override { return code_; }

private:
  void onOpen(const nv::message& reply);
  void onRead(const nv::message& reply);
  void read();
  void finish(std::string error, uint32_t code);

  RequestPort& port_;
  FileSink* sink_ = nullptr;
  std::string name_;
  Listener listener_;
  uint32_t pending_ = 0; // request id awaiting its reply
  uint32_t transfer_ = 0;
  bool haveTransfer_ = false;
  uint64_t received_ = 0;
  bool done_ = false;
  bool failed_ = false;
  std::string error_;
  uint32_t code_ = 0;
};

// Raw channel 2 of a direct connection (the legacy session's way): an 18-byte request (name of
// at most 11 characters NUL-filled to 12 bytes, the largest piece as u16 and the offset as u32,
// big-endian), answered by a piece whose 18-byte header carries 1 and the piece length (or 2
// and an error code), the rest of the piece following in continuation chunks. A zero-length
// piece ends the file.
class StreamFileFetcher final : public FileFetcher, public IChannelReceiver {
public:
  static constexpr uint8_t kChannel = 2;
  static constexpr uint8_t kContinuation = 0xFF;
  static constexpr size_t kHeader = 18;
  static constexpr uint16_t kLargestPiece = 65517;

  explicit StreamFileFetcher(IConnection& connection);
  ~StreamFileFetcher() override;

  void fetch(FileSink& sink, const std::string& name, bool compressed, Listener listener) override;
  void cancel() override;
  bool isDone() const override { return done_; }
  bool failed() const override { return failed_; }
  const std::string& errorText() const override { return error_; }
  uint32_t errorCode() const override { return code_; }

  void receive(uint8_t channelByte, const uint8_t* data, size_t length) override;

  // The request for `name` from `offset`; exposed for tests.
  static Bytes request(const std::string& name, uint32_t offset);

private:
  void sendRequest();
  void finish(std::string error, uint32_t code);
  // False when the piece finished the transfer.
  bool piece(uint8_t channelByte, const uint8_t* data, size_t length);

  Reference<IConnection> connection_;
  bool registered_ = false;
  FileSink* sink_ = nullptr;
  std::string name_;
  Listener listener_;
  uint32_t offset_ = 0;
  uint32_t outstanding_ = 0;
  bool active_ = false;
  bool done_ = false;
  bool failed_ = false;
  std::string error_;
  uint32_t code_ = 0;
};

} // namespace kestel
