#include "app/AddressBookFile.h"

#include "support/Constants.h"
#include "support/Hex.h"
#include "util/Log.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <random>

namespace kestel {
namespace {

using test::fromHex;
using test::toHex;

nv::message router(const std::string& address, const std::string& login) {
  nv::message e;
  e.set(entry::kAddress, address);
  e.set(entry::kLogin, login);
  return e;
}

TEST(AddressBookFile, ClearBookIsTheMagicThenLengthPrefixedMessages) {
  EXPECT_EQ(toHex(*writeAddressBook({}, "", {})), "0df01dc0");
  nv::message e = router("198.18.0.1", "admin");
  Bytes encoded;
  ASSERT_TRUE(e.flatten(encoded));
  Bytes expected = fromHex("0df01dc0");
  ByteWriter w(expected);
  w.u32le(uint32_t(encoded.size()));
  w.bytes(encoded);
  EXPECT_EQ(toHex(*writeAddressBook({e}, "", {})), toHex(expected));
  BookContents back = readAddressBook(expected, "", BookReadMode::Open);
  ASSERT_EQ(back.status, BookStatus::Ok);
  ASSERT_EQ(back.entries.size(), 1u);
  EXPECT_EQ(back.entries[0], e);
}

// Key stream computed apart from the code under test: SHA-1 from OpenSSL, RC4 written out here
// (its own correctness is checked against the published vectors in the crypto tests).
Bytes independentKeyStream(const std::array<uint8_t, 32>& nonce, const std::string& password,
                           size_t n) {
  Bytes material(nonce.begin(), nonce.end());
  material.insert(material.end(), password.begin(), password.end());
  uint8_t key[SHA_DIGEST_LENGTH];
  SHA1(material.data(), material.size(), key);
  uint8_t s[256];
  for (int i = 0; i < 256; ++i)
    s[i] = uint8_t(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + key[i % SHA_DIGEST_LENGTH]) & 255;
    std::swap(s[i], s[j]);
  }
  Bytes out;
  for (size_t k = 0, i = 0, j = 0; k < 768 + n; ++k) {
    i = (i + 1) & 255;
    j = (j + s[i]) & 255;
    std::swap(s[i], s[j]);
    if (k >= 768)
      out.push_back(s[(s[i] + s[j]) & 255]);
  }
  return out;
}

TEST(AddressBookFile, EncipheredBookMatchesAnIndependentKeyStream) {
  std::array<uint8_t, 32> nonce;
  for (size_t i = 0; i < nonce.size(); ++i)
    nonce[i] = uint8_t(0xA0 + i);
  std::vector<nv::message> entries{router("r1", "admin"), router("r2", "ops")};
  Bytes clear = *writeAddressBook(entries, "", nonce);
  Bytes sealed = *writeAddressBook(entries, "s3cret", nonce);
  ASSERT_EQ(sealed.size(), 4 + 32 + clear.size());
  EXPECT_EQ(toHex(ByteSpan(sealed.data(), 4)), "0df01140");
  EXPECT_TRUE(std::equal(nonce.begin(), nonce.end(), sealed.begin() + 4));
  Bytes stream = independentKeyStream(nonce, "s3cret", clear.size());
  for (size_t i = 0; i < clear.size(); ++i)
    ASSERT_EQ(uint8_t(sealed[36 + i] ^ stream[i]), clear[i]) << "byte " << i;
}

TEST(AddressBookFile, EncipheredBookWithoutOrWithAWrongPassword) {
  Bytes sealed = *writeAddressBook({router("r", "a")}, "right", {});
  BookContents none = readAddressBook(sealed, "", BookReadMode::Open);
  EXPECT_EQ(none.status, BookStatus::PasswordRequired);
  EXPECT_TRUE(none.entries.empty());
  BookContents wrong = readAddressBook(sealed, "wrong", BookReadMode::Open);
  EXPECT_EQ(wrong.status, BookStatus::BadPassword);
  EXPECT_TRUE(wrong.entries.empty());
  EXPECT_FALSE(bookOpensWith(sealed, "wrong"));
  EXPECT_FALSE(bookOpensWith(sealed, ""));
  EXPECT_TRUE(bookOpensWith(sealed, "right"));
  EXPECT_EQ(readAddressBook(sealed, "right", BookReadMode::Open).entries.size(), 1u);
}

TEST(AddressBookFile, BadInputKeepsWhatCameBefore) {
  Bytes two = *writeAddressBook({router("a", "1"), router("b", "2")}, "", {});
  Bytes first = *writeAddressBook({router("a", "1")}, "", {});
  struct Case {
    const char* name;
    Bytes bytes;
    BookStatus status;
    size_t entries;
  };
  Bytes overLong = first;
  ByteWriter(overLong).u32le(65536);
  overLong.resize(overLong.size() + 65536, 0);
  Bytes garbage = first;
  ByteWriter(garbage).u32le(3);
  ByteWriter(garbage).bytes(fromHex("ffffff"));
  const Case cases[] = {
      {"empty", {}, BookStatus::NotAddressFile, 0},
      {"short magic", fromHex("0df01d"), BookStatus::NotAddressFile, 0},
      {"wrong magic", fromHex("0df01dc1"), BookStatus::NotAddressFile, 0},
      {"export magic when opening", fromHex("0f10c0be"), BookStatus::NotAddressFile, 0},
      {"short nonce", fromHex("0df01140aabb"), BookStatus::NotAddressFile, 0},
      {"truncated second record", Bytes(two.begin(), two.end() - 1), BookStatus::Ok, 1},
      {"length beyond the file", Bytes(two.begin(), two.begin() + first.size() + 3), BookStatus::Ok,
       1},
      {"65536-byte record", overLong, BookStatus::Ok, 1},
      {"record that does not decode", garbage, BookStatus::Ok, 1},
  };
  for (const auto& c : cases) {
    CaptureLogSink log;
    BookContents got = readAddressBook(c.bytes, "pw", BookReadMode::Open);
    EXPECT_EQ(got.status, c.status) << c.name;
    EXPECT_EQ(got.entries.size(), c.entries) << c.name;
  }
}

TEST(AddressBookFile, SeededRandomBooksRoundTripClearAndEnciphered) {
  std::mt19937 rng(test::kSeed);
  for (int round = 0; round < 30; ++round) {
    std::vector<nv::message> entries;
    for (int n = int(rng() % 20); n > 0; --n) {
      nv::message e =
          router(std::to_string(rng()), std::string(rng() % 30, char('a' + rng() % 26)));
      e.set(entry::kPassword, std::string(rng() % 40, char(rng())));
      e.set(entry::kSecure, rng() % 2 == 0);
      e.set(entry::kGroupIndex, uint32_t(rng()));
      entries.push_back(e);
    }
    std::array<uint8_t, 32> nonce;
    for (auto& b : nonce)
      b = uint8_t(rng());
    std::string password = round % 2 ? std::string(1 + rng() % 20, char(rng())) : "";
    Bytes file = *writeAddressBook(entries, password, nonce);
    BookContents back = readAddressBook(file, password, BookReadMode::Open);
    ASSERT_EQ(back.status, BookStatus::Ok);
    EXPECT_EQ(back.enciphered, !password.empty());
    ASSERT_EQ(back.entries.size(), entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
      EXPECT_EQ(back.entries[i], entries[i]);
  }
}

TEST(AddressExport, WrittenByteForByteAndReadBack) {
  nv::message e = router("h", "l");
  e.set(entry::kPassword, "p");
  e.set(entry::kKeepPassword, true);
  e.set(entry::kSecure, false);
  Bytes without = writeExport({e}, ExportPasswords::Without);
  // Fields in key order: group, host, keep-pwd, login, note, secure-mode, type.
  EXPECT_EQ(toHex(without), "0f10c0be"
                            "0600"
                            "0567726f7570"
                            "0600"
                            "04686f7374"
                            "68"
                            "0a00"
                            "086b6565702d707764"
                            "00"
                            "0700"
                            "056c6f67696e"
                            "6c"
                            "0500"
                            "046e6f7465"
                            "0d00"
                            "0b7365637572652d6d6f6465"
                            "00"
                            "0900"
                            "0474797065"
                            "61646472"
                            "0000");
  Bytes with = writeExport({e}, ExportPasswords::With);
  BookContents back = readAddressBook(with, "", BookReadMode::Import);
  ASSERT_EQ(back.entries.size(), 1u);
  EXPECT_EQ(back.entries[0].get(entry::kPassword), "p");
  EXPECT_TRUE(back.entries[0].get(entry::kKeepPassword));
  EXPECT_FALSE(back.entries[0].get(entry::kSecure));
  BookContents stripped = readAddressBook(without, "", BookReadMode::Import);
  EXPECT_EQ(stripped.entries[0].get(entry::kPassword), "");
  EXPECT_FALSE(stripped.entries[0].get(entry::kKeepPassword));
}

TEST(AddressExport, DefaultsSkippedTypesAndBadFields) {
  // A record of another type, then an "addr" record holding only a host and a field whose
  // keyLen equals its len (skipped alone).
  Bytes file = fromHex("0f10c0be"
                       "0900"
                       "0474797065"
                       "6e6f7065"
                       "0000"
                       "0300"
                       "03"
                       "6162"
                       "0600"
                       "04686f7374"
                       "78"
                       "0900"
                       "0474797065"
                       "61646472"
                       "0000");
  CaptureLogSink log;
  BookContents got = readAddressBook(file, "", BookReadMode::Import);
  EXPECT_TRUE(log.contains("ERROR: bad record - skipping"));
  ASSERT_EQ(got.entries.size(), 1u);
  const nv::message& e = got.entries[0];
  EXPECT_EQ(e.get(entry::kAddress), "x");
  EXPECT_EQ(e.get(entry::kLogin), "admin");
  EXPECT_TRUE(e.get(entry::kSecure));
  EXPECT_TRUE(e.get(entry::kKeepPassword));
  EXPECT_TRUE(e.has(entry::kNote));
}

} // namespace
} // namespace kestel
