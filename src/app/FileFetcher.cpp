#include "app/FileFetcher.h"

#include "api/wire/Vocabulary.h"
#include "util/Log.h"

namespace kestel {
namespace {

inline constexpr nv::string_id kFileName{1};
inline constexpr nv::u32_id kPieceSize{2};
inline constexpr nv::raw_id kPieceData{3};
inline constexpr nv::bool_id kPieceLast{4};

} // namespace

const std::vector<uint32_t>& MessageFileFetcher::handlerPath() {
  static const std::vector<uint32_t> path{2, 2};
  return path;
}

void MessageFileFetcher::fetch(FileSink& sink, const std::string& name, bool compressed,
                               Listener listener) {
  cancel();
  sink_ = &sink;
  name_ = name;
  listener_ = std::move(listener);
  done_ = failed_ = haveTransfer_ = false;
  error_.clear();
  code_ = 0;
  received_ = 0;
  nv::message open;
  open.set(kFileName, compressed ? name + ".gz" : name);
  pending_ = port_.request(handlerPath(), kOpenCommand, open,
                           [this](const nv::message& reply) { onOpen(reply); });
}

void MessageFileFetcher::cancel() {
  if (pending_)
    port_.forget(pending_);
  pending_ = 0;
  if (haveTransfer_ && !done_) {
    nv::message giveUp;
    giveUp.set(STD_ID, transfer_);
    port_.send(handlerPath(), kGiveUpCommand, giveUp);
  }
  haveTransfer_ = false;
  sink_ = nullptr;
  listener_ = nullptr;
}

void MessageFileFetcher::onOpen(const nv::message& reply) {
  pending_ = 0;
  unsigned int code = 0;
  std::string text;
  if (isError(reply, &code, &text)) {
    std::string dump;
    reply.dump(dump);
    logf("could not open ", name_, ": ", dump);
    return finish(getErrorDescription(code, text), code);
  }
  transfer_ = reply.get(STD_ID);
  haveTransfer_ = true;
  read();
  if (listener_)
    listener_();
}

void MessageFileFetcher::read() {
  nv::message next;
  next.set(STD_ID, transfer_);
  next.set(kPieceSize, kLargestPiece);
  pending_ = port_.request(handlerPath(), kReadCommand, next,
                           [this](const nv::message& reply) { onRead(reply); });
}

void MessageFileFetcher::onRead(const nv::message& reply) {
  pending_ = 0;
  unsigned int code = 0;
  std::string text;
  if (isError(reply, &code, &text))
    return finish(getErrorDescription(code, text), code);
  Bytes data = reply.get(kPieceData);
  received_ += data.size();
  if (received_ > kMaxTransferBytes)
    return finish("corrupted data", 0);
  if (!data.empty())
    if (std::string e = sink_->write(data.data(), data.size()); !e.empty())
      return finish(e, 0);
  if (reply.get(kPieceLast)) {
    haveTransfer_ = false; // the router closed it itself
    if (std::string e = sink_->write(nullptr, 0); !e.empty())
      return finish(e, 0);
    return finish({}, 0);
  }
  read();
  if (listener_)
    listener_();
}

void MessageFileFetcher::finish(std::string error, uint32_t code) {
  failed_ = !error.empty();
  error_ = std::move(error);
  code_ = code;
  Listener listener = std::move(listener_);
  cancel(); // gives up a transfer the router still holds
  done_ = true;
  if (listener)
    listener();
}

StreamFileFetcher::StreamFileFetcher(IConnection& connection) : connection_(&connection) {}

StreamFileFetcher::~StreamFileFetcher() {
  if (registered_)
    connection_->removeReceiver(kChannel, this);
}

Bytes StreamFileFetcher::request(const std::string& name, uint32_t offset) {
  Bytes r(kHeader, 0);
  for (size_t i = 0; i < name.size() && i < 11; ++i)
    r[i] = static_cast<uint8_t>(name[i]);
  r[12] = kLargestPiece >> 8;
  r[13] = kLargestPiece & 0xFF;
  r[14] = static_cast<uint8_t>(offset >> 24);
  r[15] = static_cast<uint8_t>(offset >> 16);
  r[16] = static_cast<uint8_t>(offset >> 8);
  r[17] = static_cast<uint8_t>(offset);
  return r;
}

void StreamFileFetcher::fetch(FileSink& sink, const std::string& name, bool, Listener listener) {
  cancel();
  if (!registered_) {
    connection_->addReceiver(kChannel, this);
    registered_ = true;
  }
  sink_ = &sink;
  name_ = name;
  listener_ = std::move(listener);
  offset_ = 0;
  outstanding_ = 0;
  done_ = failed_ = false;
  error_.clear();
  code_ = 0;
  active_ = true;
  sendRequest();
}

void StreamFileFetcher::cancel() {
  active_ = false;
  sink_ = nullptr;
  listener_ = nullptr;
}

void StreamFileFetcher::sendRequest() {
  Bytes r = request(name_, offset_);
  connection_->send(kChannel, r.data(), r.size());
}

void StreamFileFetcher::receive(uint8_t channelByte, const uint8_t* data, size_t length) {
  if (!active_)
    return; // a late piece of a cancelled or finished transfer
  if (!piece(channelByte, data, length))
    return; // finished: the listener heard it, and may have dropped this fetcher
  if (listener_)
    listener_();
}

bool StreamFileFetcher::piece(uint8_t channelByte, const uint8_t* data, size_t length) {
  const uint8_t* run = data;
  size_t runLength = length;
  if (channelByte == kChannel && outstanding_ == 0) {
    if (length >= kHeader + 1 && data[11] == 2) {
      code_ = data[18];
      return finish("could not fetch " + name_, code_), false;
    }
    if (length < kHeader || data[11] != 1)
      return finish("corrupted data", 0), false;
    uint32_t pieceLength = uint32_t(data[12]) << 8 | data[13];
    if (pieceLength == 0) {
      if (std::string e = sink_->write(nullptr, 0); !e.empty())
        return finish(e, 0), false;
      return finish({}, 0), false;
    }
    if (uint64_t(offset_) + pieceLength > kMaxTransferBytes)
      return finish("corrupted data", 0), false;
    offset_ += pieceLength;
    outstanding_ = pieceLength;
    run = data + kHeader;
    runLength = length - kHeader;
  } else if (channelByte != kContinuation || outstanding_ == 0) {
    return finish("corrupted data", 0), false; // a new piece before the last ended, or a stray one
  }
  if (runLength > outstanding_)
    return finish("corrupted data", 0), false; // more than the piece announced
  outstanding_ -= static_cast<uint32_t>(runLength);
  if (runLength > 0)
    if (std::string e = sink_->write(run, runLength); !e.empty())
      return finish(e, 0), false;
  if (outstanding_ == 0)
    sendRequest();
  return true;
}

void StreamFileFetcher::finish(std::string error, uint32_t code) {
  failed_ = !error.empty();
  error_ = std::move(error);
  code_ = code;
  Listener listener = std::move(listener_);
  cancel();
  done_ = true;
  if (listener)
    listener();
}

} // namespace kestel
