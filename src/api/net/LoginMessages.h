// The messages of the secure login, both ends of them: the client's object (first challenge,
// response to the router's challenge, check of the router's proof) and the router's object that
// the simulator runs. The exchange is documented in docs/protocol-login.md; both ends chain the
// crypto layer's building blocks (crypto/LoginCrypto.h), so that they cannot drift apart.
//
// Messages on channel 6: client -> router: public key (33) | user name | 0; router -> client:
// point (33) or point (33) | salt (16); client -> router: NT-Response (24); router -> client:
// "S=" and 40 upper-case hex digits (42 bytes).
#pragma once

#include "crypto/LoginCrypto.h"
#include "crypto/Secure.h"
#include "util/Bytes.h"
#include "util/Expected.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace kestel::login {

inline constexpr size_t kPointLength = ec::kEncodedLength;
inline constexpr size_t kScalarLength = 32;
inline constexpr size_t kSaltLength = 16;
inline constexpr size_t kResponseLength = 24;
inline constexpr size_t kProofLength = 42;
inline constexpr size_t kSessionKeyLength = 36;

// The two 36-byte keys of one end: the decryptor's and the encryptor's key material.
struct SessionKeys {
  SecureBytes receive;
  SecureBytes send;
};
enum class Side { Client, Router };
// The RFC 3079 start keys of the secret, each expanded with HKDF-SHA-1 to 36 bytes, as one end
// uses them.
SessionKeys deriveKeys(ByteSpan secret, Side side);

// What the router knows of a user: the password (unsalted login) or the salted verifier.
struct Verifier {
  std::array<uint8_t, kSaltLength> salt{};
  std::array<uint8_t, 32> w0{};
  ec::Encoded L{};
};
// Makes the verifier the router stores for a salted user.
Verifier makeVerifier(std::string_view user, std::string_view password,
                      std::span<const uint8_t, kSaltLength> salt);

// ---- The client's end --------------------------------------------------------------------------

class ClientExchange {
public:
  // `random` are the 32 bytes the private scalar is made of.
  ClientExchange(std::string user, std::string password,
                 std::span<const uint8_t, kScalarLength> random);
  ~ClientExchange();
  ClientExchange(const ClientExchange&) = delete;
  ClientExchange& operator=(const ClientExchange&) = delete;

  // The public key bytes, then the user name and a zero byte.
  Bytes firstChallenge() const;
  // The response to the router's challenge, or why the challenge yields none (length neither
  // 33 nor 49, a point that fails the curve's validity test, a product at infinity).
  Expected<Bytes> respond(ByteSpan challenge);
  // The keys of the last successful respond().
  const SessionKeys& keys() const { return keys_; }
  // True when `proof` is exactly the expected proof text (compared in constant time).
  bool acceptProof(ByteSpan proof) const;

private:
  // The 32-byte secret of a 49-byte (salted) challenge.
  Expected<SecureBytes> saltedSecret(ByteSpan challenge) const;

  std::string user_;
  std::string password_;
  KeyPair keyPair_;
  std::string expectedProof_;
  SessionKeys keys_;
};

// ---- The router's end (simulator) -------------------------------------------------------------

struct RouterUser {
  std::string name;
  bool salted = false;
  std::string password; // unsalted users only
  Verifier verifier;    // salted users only
};

class RouterExchange {
public:
  // `user` null: the name is unknown; the exchange then runs with `decoy` (same mode as the
  // real users) and ends with a refusal. `random` gives the router's private scalar.
  RouterExchange(const RouterUser* user, const RouterUser& decoy,
                 std::span<const uint8_t, kScalarLength> random);

  // Parses the first challenge; the router's challenge, or nullopt when it is malformed.
  std::optional<Bytes> challenge(ByteSpan firstChallenge);
  // Checks the client's response; the proof to send when it is right, nullopt otherwise.
  std::optional<std::string> checkResponse(ByteSpan response);
  const SessionKeys& keys() const { return keys_; }
  // The login name the client gave in its first challenge.
  const std::string& login() const { return login_; }

private:
  const RouterUser* user_;
  const RouterUser& decoy_;
  KeyPair keyPair_;
  std::string login_;
  ec::Encoded clientKey_{};
  Bytes challenge_;
  SecureBytes secret_;
  SessionKeys keys_;
};

} // namespace kestel::login
