#include "miw/Version.h"

#include "miw/ConvertorText.h"

namespace kestel {

namespace {

struct StageWord {
  std::string_view word;
  char stage;
};
constexpr StageWord kStages[] = {
    {"alpha", 'a'}, {"beta", 'b'}, {"rc", 'c'}, {"final", 'f'}, {"test", 't'}};

bool takeStage(std::string_view& text, char& stage) {
  for (const StageWord& s : kStages) {
    if (takePrefix(text, s.word)) {
      stage = s.stage;
      return true;
    }
  }
  return false;
}

// The router counts a "test" build as final with bit 7 set in the number byte.
uint32_t packedStage(char stage) { return stage == 0 || stage == 't' ? 'f' : uint8_t(stage); }

} // namespace

bool scanVersionText(std::string_view text, VersionText& out) {
  VersionText v;
  if (!takeU32(text, v.major) || !takePrefix(text, ".") || !takeU32(text, v.minor))
    return false;
  if (takePrefix(text, ".")) {
    if (!takeU32(text, v.patch))
      return false;
    v.hasPatch = true;
  }
  if (!text.empty() && !(text[0] >= '0' && text[0] <= '9') && !takeStage(text, v.stage))
    return false;
  if (v.stage != 0 && !text.empty() && text[0] >= '0' && text[0] <= '9') {
    if (!takeU32(text, v.number))
      return false;
    v.hasNumber = true;
  }
  v.rest = text;
  out = v;
  return true;
}

uint32_t packVersion(const VersionText& v, uint32_t low) {
  const bool test = v.stage == 't';
  if (v.major > 255 || v.minor > 255 || low > (test ? 127u : 255u))
    return 0;
  return v.major << 24 | v.minor << 16 | packedStage(v.stage) << 8 | low | (test ? 0x80 : 0);
}

uint32_t routerVersion(std::string_view text) {
  if (size_t blank = text.find(' '); blank != std::string_view::npos)
    text = text.substr(0, blank);
  VersionText v;
  if (!scanVersionText(text, v) || !v.rest.empty())
    return 0;
  if (v.hasNumber && ((v.hasPatch && v.patch != 0) || v.stage == 't'))
    return 0;
  return packVersion(v, v.hasNumber ? v.number : v.patch);
}

uint32_t parseVersion(std::string_view text) {
  VersionText v;
  if (!scanVersionText(text, v) || !v.rest.empty())
    return 0;
  if (v.hasNumber && (v.stage == 'f' || v.stage == 't' || v.hasPatch))
    return 0;
  return packVersion(v, v.hasNumber ? v.number : v.patch);
}

} // namespace kestel
