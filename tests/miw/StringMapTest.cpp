#include "miw/StringMap.h"

#include "support/Constants.h"
#include "support/Hex.h"
#include "util/Log.h"

#include <gtest/gtest.h>

#include <random>

namespace kestel {
namespace {

using test::fromHex;
using test::toHex;

TEST(StringMapRecord, WriterEmitsFieldsInByteOrderWithLengthsAndTerminator) {
  StringMap map;
  map.set("zoom", packData(uint32_t(0x01020304)));
  map.set("\xC3\xA9", "x"); // a key above ASCII sorts after every ASCII key
  map.set("a", "");
  map.set("hpwd", packBool(true));
  Bytes out;
  ASSERT_TRUE(writeRecord(out, map));
  // len = 1 + key + value, keyLen, key, value; then 00 00.
  EXPECT_EQ(toHex(out), "0200"
                        "0161"
                        "0600"
                        "0468707764"
                        "01"
                        "0900"
                        "047a6f6f6d"
                        "04030201"
                        "0400"
                        "02c3a9"
                        "78"
                        "0000");
}

TEST(StringMapRecord, WriterLeavesOutFieldsTheFormCannotCarry) {
  StringMap map;
  map.set(std::string(256, 'k'), "v");
  map.set("big", std::string(65535 - 3, 'v')); // 1 + 3 + 65532 = 65536: one too many
  map.set("ok", "1");
  CaptureLogSink log;
  Bytes out;
  EXPECT_FALSE(writeRecord(out, map));
  EXPECT_EQ(toHex(out), "0400026f6b310000");
  EXPECT_EQ(log.lines().size(), 2u);
  EXPECT_TRUE(log.contains("ERROR: could not write msg header"));
}

TEST(StringMapRecord, LargestFieldRoundTrips) {
  StringMap map;
  map.set("k", std::string(65535 - 2, 'v'));
  Bytes out;
  ASSERT_TRUE(writeRecord(out, map));
  ByteReader in(out);
  StringMap back;
  ASSERT_EQ(readRecord(in, back, kSettingsRecordTexts), RecordRead::Record);
  EXPECT_EQ(back, map);
}

struct BadRecordCase {
  const char* name;
  const char* hex;
  RecordRead result;
  const char* text; // the logged line, "" for none
  std::vector<std::pair<std::string, std::string>> fields;
};

TEST(StringMapRecord, ReaderOnBadInput) {
  const BadRecordCase cases[] = {
      {"empty input is a clean end", "", RecordRead::End, "", {}},
      {"one byte of len", "02", RecordRead::Failed, "len read failed", {}},
      {"no terminator", "02000161", RecordRead::Failed, "len read failed", {}},
      {"len without keyLen", "0200", RecordRead::Failed, "keyLen read failed", {}},
      {"key longer than the input", "050004616263", RecordRead::Failed, "key read failed", {}},
      {"value longer than the input", "0500016162", RecordRead::Failed, "value read failed", {}},
      {"keyLen equal to len skips the field",
       "0300 03 6162 0300 01 61 62 0000",
       RecordRead::Record,
       "bad record - skipping",
       {{"a", "b"}}},
      {"keyLen above len skips len-1 bytes",
       "0200 ff 00 0300 01 61 62 0000",
       RecordRead::Record,
       "bad record - skipping",
       {{"a", "b"}}},
      {"skipped field past the end",
       "0900 09 6162",
       RecordRead::Failed,
       "bad record - skipping\nvalue read failed",
       {}},
      {"empty key and value", "0100 00 0000", RecordRead::Record, "", {{"", ""}}},
  };
  for (const auto& c : cases) {
    std::string hex = c.hex;
    std::erase(hex, ' ');
    Bytes bytes = fromHex(hex);
    ByteReader in(bytes);
    StringMap map;
    map.set("stale", "x");
    CaptureLogSink log;
    EXPECT_EQ(readRecord(in, map, kSettingsRecordTexts), c.result) << c.name;
    EXPECT_EQ(log.text(), std::string(c.text).empty() ? "" : std::string(c.text) + "\n") << c.name;
    StringMap expected;
    for (const auto& [k, v] : c.fields)
      expected.set(k, v);
    EXPECT_EQ(map, expected) << c.name;
  }
}

TEST(StringMapRecord, ImportReaderUsesItsOwnTexts) {
  const std::pair<const char*, const char*> cases[] = {
      {"0300036162", "ERROR: bad record - skipping"},
      {"050004616263", "ERROR: could not read key"},
      {"0500016162", "ERROR: could not read value"},
  };
  for (const auto& [hex, text] : cases) {
    Bytes bytes = fromHex(hex);
    ByteReader in(bytes);
    StringMap map;
    CaptureLogSink log;
    (void)readRecord(in, map, kImportRecordTexts);
    EXPECT_TRUE(log.contains(text)) << hex;
  }
}

StringMap randomMap(std::mt19937& rng) {
  StringMap map;
  int fields = int(rng() % 12);
  for (int i = 0; i < fields; ++i) {
    std::string key(rng() % 20, '\0'), value(rng() % 300, '\0');
    for (char& c : key)
      c = char(rng());
    for (char& c : value)
      c = char(rng());
    map.set(key, value);
  }
  return map;
}

TEST(StringMapRecord, SeededRandomMapsRoundTripInBothForms) {
  std::mt19937 rng(test::kSeed);
  for (int round = 0; round < 200; ++round) {
    StringMap map = randomMap(rng);
    Bytes file;
    ASSERT_TRUE(writeRecord(file, map));
    ByteReader in(file);
    StringMap back;
    ASSERT_EQ(readRecord(in, back, kSettingsRecordTexts), RecordRead::Record);
    EXPECT_EQ(back, map);
    EXPECT_TRUE(in.atEnd());
    auto packed = packMap(map);
    ASSERT_TRUE(packed.ok());
    auto unpacked = unpackMap(*packed);
    ASSERT_TRUE(unpacked.has_value());
    EXPECT_EQ(*unpacked, map);
  }
}

TEST(StringMapPacked, ExactLayoutAndExactEnd) {
  StringMap map;
  map.set("ab", "xyz");
  map.set("c", "");
  auto packed = packMap(map);
  ASSERT_TRUE(packed.ok());
  EXPECT_EQ(toHex(*packed), "0261620003"
                            "78797a"
                            "0163"
                            "0000");
  Bytes extra = *packed;
  extra.push_back(0);
  EXPECT_FALSE(unpackMap(extra).has_value()) << "a trailing byte";
  Bytes shortened(packed->begin(), packed->end() - 1);
  EXPECT_FALSE(unpackMap(shortened).has_value()) << "a truncated value length";
  EXPECT_TRUE(unpackMap({}).has_value()) << "no fields at all";
  map.set("long", std::string(65536, 'x'));
  EXPECT_FALSE(packMap(map).ok());
}

TEST(StringMapValues, UnpackRefusesMissingAndMisSizedValues) {
  uint32_t u = 7;
  EXPECT_FALSE(unpackData(std::nullopt, u));
  EXPECT_FALSE(unpackData(std::string("abc"), u));
  EXPECT_EQ(u, 7u);
  EXPECT_TRUE(unpackData(packData(uint32_t(0xA0B0C0D0)), u));
  EXPECT_EQ(u, 0xA0B0C0D0u);
  bool b = false;
  EXPECT_FALSE(unpackBool(std::string("\1\1"), b));
  EXPECT_TRUE(unpackBool(packBool(true), b));
  EXPECT_TRUE(b);
  std::vector<uint16_t> a16{9};
  EXPECT_FALSE(unpackArray16(std::string("abc"), a16));
  EXPECT_EQ(a16, std::vector<uint16_t>{9});
  EXPECT_TRUE(unpackArray16(packArray16({0x0102, 0xFFFE}), a16));
  EXPECT_EQ(a16, (std::vector<uint16_t>{0x0102, 0xFFFE}));
  EXPECT_EQ(toHex(asBytes(packArray16({0x0102}))), "0201");
  std::vector<uint8_t> a8;
  EXPECT_TRUE(unpackArray8(packArray8({1, 2, 255}), a8));
  EXPECT_EQ(a8, (std::vector<uint8_t>{1, 2, 255}));
}

} // namespace
} // namespace kestel
