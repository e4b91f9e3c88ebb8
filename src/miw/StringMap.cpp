#include "miw/StringMap.h"

#include "util/Log.h"

namespace kestel {

namespace {
constexpr size_t kMaxKey = 255;
constexpr size_t kMaxField = 65535; // len counts the keyLen byte, the key and the value
} // namespace

const RecordTexts kSettingsRecordTexts{"len read failed", "keyLen read failed", "key read failed",
                                       "value read failed", "bad record - skipping"};
const RecordTexts kImportRecordTexts{"ERROR: could not read key", "ERROR: could not read key",
                                     "ERROR: could not read key", "ERROR: could not read value",
                                     "ERROR: bad record - skipping"};

std::optional<std::string> StringMap::get(std::string_view key) const {
  auto it = fields_.find(std::string(key));
  if (it == fields_.end())
    return std::nullopt;
  return it->second;
}

void StringMap::set(std::string_view key, std::string value) {
  fields_[std::string(key)] = std::move(value);
}

void StringMap::remove(std::string_view key) { fields_.erase(std::string(key)); }

std::string packData(uint32_t value) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i)
    out[size_t(i)] = char(value >> (8 * i));
  return out;
}

std::string packData(std::string_view text) { return std::string(text); }
std::string packBool(bool value) { return std::string(1, value ? '\1' : '\0'); }

std::string packArray8(const std::vector<uint8_t>& values) {
  return std::string(values.begin(), values.end());
}

std::string packArray16(const std::vector<uint16_t>& values) {
  std::string out;
  out.reserve(values.size() * 2);
  for (uint16_t v : values) {
    out.push_back(char(v & 0xFF));
    out.push_back(char(v >> 8));
  }
  return out;
}

bool unpackData(const std::optional<std::string>& value, uint32_t& out) {
  if (!value || value->size() != 4)
    return false;
  ByteReader in(asBytes(*value));
  return in.u32le(out);
}

bool unpackData(const std::optional<std::string>& value, std::string& out) {
  if (!value)
    return false;
  out = *value;
  return true;
}

bool unpackBool(const std::optional<std::string>& value, bool& out) {
  if (!value || value->size() != 1)
    return false;
  out = (*value)[0] != 0;
  return true;
}

bool unpackArray8(const std::optional<std::string>& value, std::vector<uint8_t>& out) {
  if (!value)
    return false;
  out.assign(value->begin(), value->end());
  return true;
}

bool unpackArray16(const std::optional<std::string>& value, std::vector<uint16_t>& out) {
  if (!value || value->size() % 2 != 0)
    return false;
  std::vector<uint16_t> values(value->size() / 2);
  ByteReader in(asBytes(*value));
  for (auto& v : values)
    (void)in.u16le(v);
  out = std::move(values);
  return true;
}

namespace {

RecordRead failed(StringMap& out, const char* text) {
  logLine(text);
  out.clear();
  return RecordRead::Failed;
}

} // namespace

RecordRead readRecord(ByteReader& in, StringMap& out, const RecordTexts& texts) {
  out.clear();
  if (in.atEnd())
    return RecordRead::End;
  for (;;) {
    uint16_t len = 0;
    if (!in.u16le(len))
      return failed(out, texts.lenFailed);
    if (len == 0)
      return RecordRead::Record;
    uint8_t keyLen = 0;
    if (!in.u8(keyLen))
      return failed(out, texts.keyLenFailed);
    if (keyLen >= len) {
      logLine(texts.badField);
      if (!in.skip(size_t(len) - 1))
        return failed(out, texts.valueFailed);
      continue;
    }
    ByteSpan key, value;
    if (!in.span(keyLen, key))
      return failed(out, texts.keyFailed);
    if (!in.span(size_t(len) - keyLen - 1, value))
      return failed(out, texts.valueFailed);
    out.set(std::string(key.begin(), key.end()), std::string(value.begin(), value.end()));
  }
}

bool writeRecord(Bytes& out, const StringMap& map) {
  ByteWriter w(out);
  bool whole = true;
  for (const auto& [key, value] : map.fields()) {
    if (key.size() > kMaxKey || 1 + key.size() + value.size() > kMaxField) {
      logLine("ERROR: could not write msg header");
      whole = false;
      continue;
    }
    w.u16le(uint16_t(1 + key.size() + value.size()));
    w.u8(uint8_t(key.size()));
    w.bytes(key);
    w.bytes(value);
  }
  w.u16le(0);
  return whole;
}

Expected<Bytes> packMap(const StringMap& map) {
  Bytes out;
  ByteWriter w(out);
  for (const auto& [key, value] : map.fields()) {
    if (key.size() > kMaxKey || value.size() > 0xFFFF)
      return makeError("field too long for the packed form: " + key.substr(0, 32));
    w.u8(uint8_t(key.size()));
    w.bytes(key);
    w.u16be(uint16_t(value.size()));
    w.bytes(value);
  }
  return out;
}

std::optional<StringMap> unpackMap(ByteSpan bytes) {
  ByteReader in(bytes);
  StringMap map;
  while (!in.atEnd()) {
    uint8_t keyLen = 0;
    uint16_t valueLen = 0;
    ByteSpan key, value;
    if (!in.u8(keyLen) || !in.span(keyLen, key) || !in.u16be(valueLen) || !in.span(valueLen, value))
      return std::nullopt;
    map.set(std::string(key.begin(), key.end()), std::string(value.begin(), value.end()));
  }
  return map;
}

} // namespace kestel
