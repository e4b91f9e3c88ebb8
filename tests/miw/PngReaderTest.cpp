// The icon sheets' PNG reader against libpng: images libpng writes with each filter type (and
// with its own choice per row) decode to the pixels libpng reads back; truncated, hostile and
// unsupported files fail cleanly with their log lines.
#include "miw/PngReader.h"

#include "util/Log.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstring>
#include <random>

namespace kestel {
namespace {

struct Written {
  Bytes bytes;
};

void writeToVector(png_structp png, png_bytep data, png_size_t size) {
  auto* out = static_cast<Written*>(png_get_io_ptr(png));
  out->bytes.insert(out->bytes.end(), data, data + size);
}

// Encodes `pixels` (RGBA, or gray/palette layouts for the refused formats) with libpng.
Bytes libpngEncode(uint32_t w, uint32_t h, const Bytes& pixels, int filters, int colourType = 6,
                   int depth = 8, int interlace = PNG_INTERLACE_NONE) {
  Written out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    ADD_FAILURE() << "libpng could not write";
    return {};
  }
  png_set_write_fn(png, &out, writeToVector, nullptr);
  png_set_IHDR(png, info, w, h, depth, colourType, interlace, PNG_COMPRESSION_TYPE_BASE,
               PNG_FILTER_TYPE_BASE);
  if (colourType == PNG_COLOR_TYPE_PALETTE) {
    png_color palette[2] = {{0, 0, 0}, {255, 255, 255}};
    png_set_PLTE(png, info, palette, 2);
  }
  png_set_filter(png, PNG_FILTER_TYPE_BASE, filters);
  png_write_info(png, info);
  size_t bpp = colourType == 6 ? 4 * depth / 8 : 1;
  const int passes = png_set_interlace_handling(png);
  for (int pass = 0; pass < passes; ++pass)
    for (uint32_t y = 0; y < h; ++y)
      png_write_row(png, const_cast<uint8_t*>(pixels.data() + y * w * bpp));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out.bytes;
}

Bytes libpngDecode(const Bytes& file) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size()))
    return {};
  image.format = PNG_FORMAT_RGBA;
  Bytes out(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.data(), 0, nullptr))
    return {};
  return out;
}

Bytes noisyPixels(uint32_t w, uint32_t h, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes px(size_t(w) * h * 4);
  // Smooth gradients with noise, so every filter has something to predict.
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      uint8_t* p = px.data() + (size_t(y) * w + x) * 4;
      p[0] = uint8_t(x * 3 + (rng() & 7));
      p[1] = uint8_t(y * 5 + (rng() & 3));
      p[2] = uint8_t((x ^ y) + (rng() & 1));
      p[3] = uint8_t(rng() % 3 == 0 ? 0 : 255 - (x & 31));
    }
  return px;
}

TEST(PngReader, DecodesWhatLibpngWritesWithEveryFilter) {
  const struct {
    const char* name;
    int filters;
  } cases[] = {{"none", PNG_FILTER_NONE},   {"sub", PNG_FILTER_SUB},
               {"up", PNG_FILTER_UP},       {"average", PNG_FILTER_AVG},
               {"paeth", PNG_FILTER_PAETH}, {"libpng's choice", PNG_ALL_FILTERS}};
  const std::pair<uint32_t, uint32_t> sizes[] = {{1, 1}, {512, 48}, {37, 61}};
  unsigned seed = 1;
  for (const auto& c : cases)
    for (auto [w, h] : sizes) {
      Bytes pixels = noisyPixels(w, h, seed++);
      Bytes file = libpngEncode(w, h, pixels, c.filters);
      Expected<RgbaImage> ours = decodePng(file);
      ASSERT_TRUE(ours.ok()) << c.name << " " << w << "x" << h << ": " << ours.error().text;
      EXPECT_EQ(ours->width, w);
      EXPECT_EQ(ours->height, h);
      EXPECT_EQ(ours->pixels, libpngDecode(file)) << c.name << " " << w << "x" << h;
      EXPECT_EQ(ours->pixels, pixels) << c.name;
    }
}

TEST(PngReader, EveryTruncationFailsCleanly) {
  Bytes file = libpngEncode(40, 20, noisyPixels(40, 20, 9), PNG_ALL_FILTERS);
  for (size_t len = 0; len < file.size(); ++len) {
    CaptureLogSink log;
    Expected<RgbaImage> r = decodePng(ByteSpan(file.data(), len));
    // Cutting only the final CRC of IEND still leaves every pixel: the CRC is not checked, but
    // the chunk must be whole.
    EXPECT_FALSE(r.ok()) << "length " << len;
    if (len >= 8) {
      EXPECT_FALSE(log.lines().empty()) << "length " << len;
    }
  }
}

TEST(PngReader, RefusedFormatsLogWhatTheyAre) {
  const struct {
    int colourType, depth, interlace;
    const char* logged;
  } cases[] = {
      {PNG_COLOR_TYPE_PALETTE, 8, PNG_INTERLACE_NONE,
       "ERROR: unsupported png format depth=8 color-type=3 compression=0 filter=0 interlace=0"},
      {PNG_COLOR_TYPE_RGBA, 16, PNG_INTERLACE_NONE,
       "ERROR: unsupported png format depth=16 color-type=6 compression=0 filter=0 interlace=0"},
      {PNG_COLOR_TYPE_RGBA, 8, PNG_INTERLACE_ADAM7,
       "ERROR: unsupported png format depth=8 color-type=6 compression=0 filter=0 interlace=1"},
  };
  for (const auto& c : cases) {
    size_t bpp = c.colourType == 6 ? 4 * c.depth / 8 : 1;
    Bytes pixels(8 * 8 * bpp, 1);
    Bytes file = libpngEncode(8, 8, pixels, PNG_FILTER_NONE, c.colourType, c.depth, c.interlace);
    CaptureLogSink log;
    EXPECT_FALSE(decodePng(file).ok());
    EXPECT_TRUE(log.contains(c.logged)) << log.text();
  }
}

// A PNG assembled chunk by chunk, for files no encoder would write.
class PngBuilder {
public:
  PngBuilder() { bytes_ = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}; }
  PngBuilder& chunk(const char* type, const Bytes& data, int64_t claimedLength = -1) {
    put32(claimedLength < 0 ? uint32_t(data.size()) : uint32_t(claimedLength));
    bytes_.insert(bytes_.end(), type, type + 4);
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    put32(0); // CRC, not checked by the reader
    return *this;
  }
  PngBuilder& header(uint32_t w, uint32_t h, uint8_t depth = 8, uint8_t colour = 6) {
    Bytes d;
    for (uint32_t v : {w, h})
      for (int s = 24; s >= 0; s -= 8)
        d.push_back(uint8_t(v >> s));
    d.insert(d.end(), {depth, colour, 0, 0, 0});
    return chunk("IHDR", d);
  }
  PngBuilder& rows(const Bytes& raw) {
    uLongf size = compressBound(uLong(raw.size()));
    Bytes z(size);
    compress(z.data(), &size, raw.data(), uLong(raw.size()));
    z.resize(size);
    return chunk("IDAT", z);
  }
  PngBuilder& end() { return chunk("IEND", {}); }
  const Bytes& bytes() const { return bytes_; }

private:
  void put32(uint32_t v) {
    for (int s = 24; s >= 0; s -= 8)
      bytes_.push_back(uint8_t(v >> s));
  }
  Bytes bytes_;
};

TEST(PngReader, HostileFilesFailWithTheirLogLines) {
  Bytes oneRow = {0, 1, 2, 3, 4, 5, 6, 7, 8}; // 2×1: filter byte and two pixels
  Bytes badFilter = oneRow;
  badFilter[0] = 5;
  const struct {
    const char* name;
    Bytes file;
    const char* logged;
  } cases[] = {
      {"data before header", PngBuilder().rows(oneRow).header(2, 1).end().bytes(),
       "ERROR: png image data before its header"},
      {"short header", PngBuilder().chunk("IHDR", Bytes(12, 0)).end().bytes(),
       "ERROR: bad png header size"},
      {"filter byte 5", PngBuilder().header(2, 1).rows(badFilter).end().bytes(),
       "png defilter failed"},
      {"not zlib", PngBuilder().header(2, 1).chunk("IDAT", Bytes(9, 0x55)).end().bytes(),
       "png gunzip failed"},
      {"chunk longer than the file",
       PngBuilder().header(2, 1).chunk("IDAT", {1}, 0x7FFFFFFF).bytes(),
       "ERROR: png chunk longer than the file"},
      // A header promising a huge image with a few bytes of data: refused when the data runs
      // short, after inflating only what is there.
      {"huge image, little data", PngBuilder().header(16384, 4096).rows(oneRow).end().bytes(),
       "ERROR: png image data too short"},
      {"side over the cap", PngBuilder().header(16385, 1).end().bytes(),
       "ERROR: png image size refused width=16385 height=1"},
      {"area over the cap", PngBuilder().header(16384, 16384).end().bytes(),
       "ERROR: png image size refused"},
      {"zero width", PngBuilder().header(0, 5).end().bytes(), "ERROR: png image size refused"},
      {"no IEND", PngBuilder().header(2, 1).rows(oneRow).bytes(),
       "ERROR: could not read chunk header"},
  };
  for (const auto& c : cases) {
    CaptureLogSink log;
    EXPECT_FALSE(decodePng(c.file).ok()) << c.name;
    EXPECT_TRUE(log.contains(c.logged)) << c.name << ": " << log.text();
  }
  CaptureLogSink log;
  EXPECT_FALSE(decodePng(asBytes("GIF89a not a png at all")).ok());
  EXPECT_TRUE(log.lines().empty()) << "a file without the signature is refused silently";
  // The assembled form itself decodes when nothing is wrong (the cases above differ in one way).
  Expected<RgbaImage> good = decodePng(PngBuilder().header(2, 1).rows(oneRow).end().bytes());
  ASSERT_TRUE(good.ok());
  EXPECT_EQ(good->pixels, Bytes(oneRow.begin() + 1, oneRow.end()));
}

} // namespace
} // namespace kestel
