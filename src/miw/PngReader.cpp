#include "miw/PngReader.h"

#include "util/Log.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <zlib.h>

namespace kestel {
namespace {

constexpr std::array<uint8_t, 8> kSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr uint32_t kChunkIHDR = 0x49484452;
constexpr uint32_t kChunkIDAT = 0x49444154;
constexpr uint32_t kChunkIEND = 0x49454E44;

Error fail(std::string text) {
  logLine(text);
  return Error{std::move(text)};
}

// The image data stream: inflates IDAT contents into the filtered rows, never past their size.
class Inflater {
public:
  explicit Inflater(size_t expected) : expected_(expected) {
    stream_.zalloc = Z_NULL;
    stream_.zfree = Z_NULL;
    stream_.opaque = Z_NULL;
    ok_ = inflateInit(&stream_) == Z_OK;
  }
  ~Inflater() {
    if (ok_)
      inflateEnd(&stream_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  bool ready() const { return ok_; }
  const Bytes& rows() const { return rows_; }
  Bytes& rows() { return rows_; }

  // Feeds one chunk's data; false when zlib reports an error. Data after the end of the stream,
  // or beyond the rows' size, is ignored.
  bool feed(ByteSpan data) {
    stream_.next_in = const_cast<Bytef*>(data.data());
    stream_.avail_in = static_cast<uInt>(data.size());
    while (stream_.avail_in > 0 && !ended_ && rows_.size() < expected_) {
      size_t have = rows_.size();
      size_t room = std::min<size_t>(expected_ - have, 64 * 1024);
      rows_.resize(have + room);
      stream_.next_out = rows_.data() + have;
      stream_.avail_out = static_cast<uInt>(room);
      int rc = inflate(&stream_, Z_NO_FLUSH);
      rows_.resize(have + room - stream_.avail_out);
      if (rc == Z_STREAM_END)
        ended_ = true;
      else if (rc != Z_OK)
        return false;
    }
    return true;
  }

private:
  z_stream stream_{};
  bool ok_ = false;
  bool ended_ = false;
  size_t expected_;
  Bytes rows_;
};

inline uint8_t paeth(int a, int b, int c) {
  const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  if (pa <= pb && pa <= pc)
    return static_cast<uint8_t>(a);
  return static_cast<uint8_t>(pb <= pc ? b : c);
}

// Undoes the five PNG filters row by row (4 bytes per pixel) into `out`.
bool defilter(const Bytes& rows, uint32_t width, uint32_t height, Bytes& out) {
  const size_t stride = static_cast<size_t>(width) * 4;
  out.assign(stride * height, 0);
  const Bytes zero(stride, 0);
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* in = rows.data() + y * (stride + 1);
    uint8_t filter = in[0];
    ++in;
    uint8_t* row = out.data() + y * stride;
    const uint8_t* up = y ? out.data() + (y - 1) * stride : zero.data();
    switch (filter) {
    case 0:
      std::memcpy(row, in, stride);
      break;
    case 1: // Sub: the first pixel has nothing to its left
      std::memcpy(row, in, std::min<size_t>(4, stride));
      for (size_t i = 4; i < stride; ++i)
        row[i] = static_cast<uint8_t>(in[i] + row[i - 4]);
      break;
    case 2:
      for (size_t i = 0; i < stride; ++i)
        row[i] = static_cast<uint8_t>(in[i] + up[i]);
      break;
    case 3:
      for (size_t i = 0; i < 4 && i < stride; ++i)
        row[i] = static_cast<uint8_t>(in[i] + (up[i] >> 1));
      for (size_t i = 4; i < stride; ++i)
        row[i] = static_cast<uint8_t>(in[i] + ((unsigned(row[i - 4]) + up[i]) >> 1));
      break;
    case 4:
      for (size_t i = 0; i < 4 && i < stride; ++i)
        row[i] = static_cast<uint8_t>(in[i] + up[i]); // Paeth of (0, up, 0) is up
      for (size_t i = 4; i < stride; ++i)
        row[i] = static_cast<uint8_t>(in[i] + paeth(row[i - 4], up[i], up[i - 4]));
      break;
    default:
      return false;
    }
  }
  return true;
}

struct Header {
  uint32_t width, height;
  uint8_t depth, colourType, compression, filter, interlace;
};

Expected<Header> readHeader(ByteReader& in) {
  Header h{};
  if (!in.u32be(h.width) || !in.u32be(h.height) || !in.u8(h.depth) || !in.u8(h.colourType) ||
      !in.u8(h.compression) || !in.u8(h.filter) || !in.u8(h.interlace))
    return fail("ERROR: could not read inline png header");
  if (h.depth != 8 || h.colourType != 6 || h.compression != 0 || h.filter != 0 ||
      h.interlace != 0) {
    logf("ERROR: unsupported png format depth=", unsigned(h.depth),
         " color-type=", unsigned(h.colourType), " compression=", unsigned(h.compression),
         " filter=", unsigned(h.filter), " interlace=", unsigned(h.interlace));
    return Error{"ERROR: unsupported png format"};
  }
  if (h.width == 0 || h.height == 0 || h.width > kMaxPngSide || h.height > kMaxPngSide ||
      uint64_t(h.width) * h.height > kMaxPngPixels) {
    logf("ERROR: png image size refused width=", h.width, " height=", h.height);
    return Error{"ERROR: png image size refused"};
  }
  return h;
}

} // namespace

Expected<RgbaImage> decodePng(ByteSpan file) {
  if (file.size() < kSignature.size() ||
      std::memcmp(file.data(), kSignature.data(), kSignature.size()) != 0)
    return Error{"not a png file"};
  ByteReader in(file.subspan(kSignature.size()));
  Header header{};
  bool haveHeader = false;
  std::unique_ptr<Inflater> data;
  for (;;) {
    uint32_t length = 0, type = 0;
    if (!in.u32be(length) || !in.u32be(type))
      return fail("ERROR: could not read chunk header");
    // The chunk's data and its CRC (which is not verified) must both be in the file.
    ByteSpan chunk, crc;
    if (uint64_t(length) + 4 > in.remaining() || !in.span(length, chunk) || !in.span(4, crc))
      return fail("ERROR: png chunk longer than the file");
    if (type == kChunkIHDR) {
      if (haveHeader)
        return fail("ERROR: second png header");
      if (length != 13)
        return fail("ERROR: bad png header size");
      ByteReader h(chunk);
      Expected<Header> read = readHeader(h);
      if (!read)
        return read.error();
      header = read.value();
      haveHeader = true;
      data = std::make_unique<Inflater>(size_t(header.height) * (size_t(header.width) * 4 + 1));
      if (!data->ready())
        return fail("ERROR: png inflate could not start");
    } else if (type == kChunkIDAT) {
      if (!haveHeader)
        return fail("ERROR: png image data before its header");
      if (!data->feed(chunk))
        return fail("png gunzip failed");
    } else if (type == kChunkIEND) {
      break;
    }
  }
  if (!haveHeader)
    return fail("ERROR: png without header");
  size_t expected = size_t(header.height) * (size_t(header.width) * 4 + 1);
  if (data->rows().size() != expected)
    return fail("ERROR: png image data too short");
  RgbaImage image;
  image.width = header.width;
  image.height = header.height;
  if (!defilter(data->rows(), header.width, header.height, image.pixels))
    return fail("png defilter failed");
  return image;
}

} // namespace kestel
