// The string map (`IMessage`): an ordered map from text key to byte value, the form in which the
// settings registry, session files and address exports keep their records. Two byte forms:
// the file record (u16 little-endian len = 1 + key + value, u8 keyLen, key, value; len 0 ends
// the record; fields in ascending byte-wise key order) and the in-memory packed form (u8 key
// length, key, u16 big-endian value length, value; valid only when it ends exactly at the end
// of the buffer). Values are raw bytes; the pack helpers give the usual encodings.
#pragma once

#include "util/Bytes.h"
#include "util/Expected.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestel {

class StringMap {
public:
  using Fields = std::map<std::string, std::string>;

  // The value of `key`, or none.
  std::optional<std::string> get(std::string_view key) const;
  void set(std::string_view key, std::string value);
  void remove(std::string_view key);
  bool has(std::string_view key) const { return fields_.count(std::string(key)) != 0; }
  const Fields& fields() const { return fields_; }
  bool empty() const { return fields_.empty(); }
  void clear() { fields_.clear(); }
  friend bool operator==(const StringMap&, const StringMap&) = default;

private:
  Fields fields_; // std::string orders byte-wise (unsigned), as the file form requires
};

// Value encodings.
std::string packData(uint32_t value);
std::string packData(std::string_view text);
std::string packBool(bool value);
std::string packArray8(const std::vector<uint8_t>& values);
std::string packArray16(const std::vector<uint16_t>& values);
// Each returns false and leaves `out` untouched when the value is missing or malformed (a u32
// must be exactly 4 bytes, a bool 1 byte, an array16 an even length).
bool unpackData(const std::optional<std::string>& value, uint32_t& out);
bool unpackData(const std::optional<std::string>& value, std::string& out);
bool unpackBool(const std::optional<std::string>& value, bool& out);
bool unpackArray8(const std::optional<std::string>& value, std::vector<uint8_t>& out);
bool unpackArray16(const std::optional<std::string>& value, std::vector<uint16_t>& out);

// The log texts of a record reader: the settings files and the address import word their
// complaints differently.
struct RecordTexts {
  const char* lenFailed;
  const char* keyLenFailed;
  const char* keyFailed;
  const char* valueFailed;
  const char* badField;
};
extern const RecordTexts kSettingsRecordTexts;
extern const RecordTexts kImportRecordTexts;

enum class RecordRead {
  Record, // a whole record was read into the map
  End,    // the input ended cleanly before a record
  Failed, // a read failed inside a record (logged); reading must stop
};

// Reads one file record into `out` (cleared first). A field whose keyLen is not below its len is
// logged as bad and skipped; any short read logs its text and returns Failed with `out` holding
// no partial record.
RecordRead readRecord(ByteReader& in, StringMap& out, const RecordTexts& texts);

// Appends one file record. A field that the form cannot carry (key over 255 bytes, or
// 1 + key + value over 65535) is logged ("ERROR: could not write msg header") and left out;
// returns false when that happened.
bool writeRecord(Bytes& out, const StringMap& map);

// The in-memory packed form; packing fails for a field the form cannot carry.
Expected<Bytes> packMap(const StringMap& map);
// Fails (nothing returned) unless the buffer is exactly a sequence of whole fields.
std::optional<StringMap> unpackMap(ByteSpan bytes);

} // namespace kestel
