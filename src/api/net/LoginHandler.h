// The router's login handler (13, 4): the commands a client sends it after the key exchange and
// the fields of its requests and replies. The connect step and the simulator both speak it.
#pragma once

#include "api/wire/Message.h"

#include <cstdint>
#include <vector>

namespace kestel {

inline const std::vector<uint32_t> kLoginHandler{13, 4};

// The login request; after a legacy exchange it carries the challenge response.
inline constexpr uint32_t kLoginCommand = 7;
// Asks for the legacy challenge.
inline constexpr uint32_t kLegacyChallengeCommand = 4;

// Fields of the login reply.
inline constexpr nv::string_id kLoginReplyVersion{21};
inline constexpr nv::string_id kLoginReplyRequiredClient{22};
inline constexpr nv::string_id kLoginReplySkin{24};
inline constexpr nv::bool_id kLoginReplyChangePassword{38};
inline constexpr nv::u32_id kLoginReplyPolicy{39};

// Fields of the legacy challenge step.
inline constexpr nv::raw_id kLegacyChallenge{9};
inline constexpr nv::string_id kLegacyLogin{1};
inline constexpr nv::raw_id kLegacyResponse{10};

} // namespace kestel
