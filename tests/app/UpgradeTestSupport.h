// Shared by the self-upgrade tests: the key pair the build made for them, and signing with it.
#pragma once

#include "miw/SafeFile.h"

#include <sodium.h>

#include <gtest/gtest.h>

namespace kestel::test {

inline Bytes upgradeTestKey(const char* suffix) {
  Expected<Bytes> key = readWholeFile(std::string(KESTEL_UPGRADE_TEST_KEY) + suffix);
  EXPECT_TRUE(key.ok());
  return key ? *key : Bytes();
}
inline Bytes upgradePublicKey() { return upgradeTestKey(".pub"); }

// The detached signature of `data` under the build's test key.
inline Bytes signUpgrade(ByteSpan data) {
  Bytes secret = upgradeTestKey(".key");
  Bytes signature(crypto_sign_BYTES);
  if (secret.size() == crypto_sign_SECRETKEYBYTES)
    crypto_sign_detached(signature.data(), nullptr, data.data(), data.size(), secret.data());
  return signature;
}

} // namespace kestel::test
