// Version texts packed into ordered 32-bit numbers: major in bits 24-31, minor in 16-23, the stage
// letter ('a' alpha, 'b' beta, 'c' rc, 'f' final or none) in 8-15 and the number in 0-7, bit 7 of
// which marks a "test" build. Two readers share the packing and the scanning but differ in what
// they accept: routerVersion (the router's own version field, shown in tables) and parseVersion
// (the client versions of the login reply, cache folder names and the self-upgrade). 0 means
// "not a version".
#pragma once

#include <cstdint>
#include <string_view>

namespace kestel {

// The pieces of "<major>.<minor>[.<patch>][<stage word>[<number>]]" as scanned, before either
// reader applies its rules.
struct VersionText {
  uint32_t major = 0;
  uint32_t minor = 0;
  bool hasPatch = false;
  uint32_t patch = 0;
  char stage = 0; // 'a', 'b', 'c', 'f' for alpha, beta, rc, final; 't' for test; 0 for none
  bool hasNumber = false;
  uint32_t number = 0;
  std::string_view rest; // text after the stage number
};

// Scans the pieces; false when major or minor is missing, digits are missing after a ".", a
// number overflows, or a word follows that is not a stage word.
bool scanVersionText(std::string_view text, VersionText& out);

// Packs major, minor, stage and low byte; 0 when a piece does not fit its bits (a "test" number
// must stay below 128, since bit 7 carries the test mark).
uint32_t packVersion(const VersionText& v, uint32_t low);

// The router's version field: text after the first blank is ignored; a number after the stage
// word is allowed unless a non-zero patch was given or the stage is "test". Returns 0 for
// anything else.
uint32_t routerVersion(std::string_view text);

// A client version text: no trailing text at all; a number after "final" or "test", or after a
// stage word when a patch number was given, is refused. Returns 0 for anything else.
uint32_t parseVersion(std::string_view text);

} // namespace kestel
