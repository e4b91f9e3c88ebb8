// The file sinks against zlib as the oracle: a real gzip stream (zlib's own gzip writer, with
// every optional header field) fed in every split, the header rules, damaged and truncated
// streams, and part files that never show under the real name unless complete.
#include "app/FileSink.h"

#include "CacheTestSupport.h"
#include "support/Constants.h"

#include <gtest/gtest.h>

#include <random>
#include <zlib.h>

namespace kestel {
namespace {

struct GzipFields {
  bool name = false, comment = false, extra = false, headerCheck = false;
};

Bytes gzipWithZlib(const std::string& plain, GzipFields fields) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, MAX_WBITS + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
  gz_header h{};
  std::string name = "nimblux.jg", comment = "descriptor", extra("XY\x04\0abcd", 8);
  if (fields.name)
    h.name = reinterpret_cast<Bytef*>(name.data());
  if (fields.comment)
    h.comment = reinterpret_cast<Bytef*>(comment.data());
  if (fields.extra) {
    h.extra = reinterpret_cast<Bytef*>(extra.data());
    h.extra_len = static_cast<uInt>(extra.size());
  }
  h.hcrc = fields.headerCheck;
  deflateSetHeader(&z, &h);
  Bytes out(deflateBound(&z, uLong(plain.size())) + 64);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
  z.avail_in = uInt(plain.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// zlib's own reading of a gzip stream.
std::string gunzipWithZlib(const Bytes& gz) {
  z_stream z{};
  inflateInit2(&z, MAX_WBITS + 16);
  std::string out;
  char buf[4096];
  z.next_in = const_cast<Bytef*>(gz.data());
  z.avail_in = uInt(gz.size());
  int r = Z_OK;
  while (r == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(buf);
    z.avail_out = sizeof buf;
    r = inflate(&z, Z_NO_FLUSH);
    out.append(buf, sizeof buf - z.avail_out);
  }
  inflateEnd(&z);
  return r == Z_STREAM_END ? out : "zlib failed";
}

std::string sampleText() {
  std::string text = test::readWhole(std::string(KESTEL_SOURCE_DIR) + "/sim/sample/ipv6.jg");
  std::mt19937 rng(test::kSeed);
  for (int i = 0; i < 9000; ++i) // poorly compressible bytes, so output steps fill in mid-input
    text += char('a' + rng() % 26);
  return text;
}

class FileSinkTest : public ::testing::Test {
public:
  std::string path() const { return folder.path() + "/file.jg"; }
  test::TempFolder folder;
};

// Feeds `gz` in pieces [0, cut) and [cut, end), then the end; returns the first error or the
// file written.
std::string feedSplit(const std::string& path, const Bytes& gz, size_t cut) {
  GzipFileSink sink;
  if (!sink.open(path))
    return "open failed";
  for (auto [from, to] : {std::pair(size_t(0), cut), std::pair(cut, gz.size())})
    if (to > from)
      if (std::string e = sink.write(gz.data() + from, to - from); !e.empty())
        return e;
  if (std::string e = sink.write(nullptr, 0); !e.empty())
    return e;
  return test::readWhole(path);
}

TEST_F(FileSinkTest, GzipInEverySplitMatchesZlib) {
  std::string plain = sampleText();
  GzipFields variants[] = {{}, {true, true, false, false}, {true, true, true, true}};
  for (const GzipFields& f : variants) {
    Bytes gz = gzipWithZlib(plain, f);
    std::string expected = gunzipWithZlib(gz);
    ASSERT_EQ(expected, plain);
    size_t header = 10 + (f.extra ? 2 + 8 : 0) + (f.name ? 11 : 0) + (f.comment ? 11 : 0) +
                    (f.headerCheck ? 2 : 0);
    for (size_t cut = header; cut <= gz.size(); ++cut) {
      std::string got = feedSplit(path(), gz, cut);
      if (got != expected) {
        ADD_FAILURE() << "split at " << cut << " of " << gz.size() << ": " << got.substr(0, 40);
        break;
      }
    }
    // A header cut short in the first call is refused.
    EXPECT_EQ(feedSplit(path(), gz, header - 1), "bad file format");
  }
}

TEST_F(FileSinkTest, GzipFailures) {
  std::string plain = sampleText();
  Bytes gz = gzipWithZlib(plain, {});
  Bytes notGzip = gz;
  notGzip[1] = 0x8C;
  Bytes damaged = gz;
  damaged[10] |= 0x06; // reserved block type
  Bytes truncated(gz.begin(), gz.begin() + long(gz.size() / 2));
  struct Case {
    const char* what;
    Bytes input;
    std::string error;
  } cases[] = {
      {"other magic", notGzip, "bad file format"},
      {"short", Bytes{0x1F, 0x8B, 8}, "bad file format"},
      {"damaged stream", damaged, "corrupted gzip"},
      {"truncated", truncated, "corrupted gzip"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(feedSplit(path(), c.input, c.input.size()), c.error);
    EXPECT_TRUE(test::snapshot(folder.path()).empty()); // neither the file nor its part file
  }
  // Bytes after the end of the compressed stream (the trailer and more) are accepted.
  Bytes trailing = gz;
  trailing.insert(trailing.end(), {1, 2, 3});
  EXPECT_TRUE(feedSplit(path(), trailing, trailing.size() - 1) == plain);
}

TEST_F(FileSinkTest, PartFileReplacesTheOldFileOnlyWhenComplete) {
  test::writeWhole(path(), "previous");
  {
    PlainFileSink sink;
    ASSERT_TRUE(sink.open(path()));
    EXPECT_EQ(sink.write(reinterpret_cast<const uint8_t*>("new"), 3), "");
    EXPECT_EQ(test::readWhole(path()), "previous"); // still the old one while writing
  }                                                 // dropped before the end of the file
  EXPECT_EQ(test::snapshot(folder.path()),
            (std::map<std::string, std::string>{{"file.jg", "previous"}}));
  PlainFileSink sink;
  ASSERT_TRUE(sink.open(path()));
  EXPECT_EQ(sink.write(reinterpret_cast<const uint8_t*>("new"), 3), "");
  EXPECT_EQ(sink.write(nullptr, 0), "");
  EXPECT_TRUE(sink.finished());
  EXPECT_EQ(test::snapshot(folder.path()),
            (std::map<std::string, std::string>{{"file.jg", "new"}}));
  PlainFileSink nowhere;
  EXPECT_FALSE(nowhere.open(folder.path() + "/missing/file.jg"));
}

} // namespace
} // namespace kestel
