// The address-book file and the address export. A book is the magic 0xC01DF00D and then
// length-prefixed typed messages, one per router; enciphered, it starts with 0x4011F00D and a
// 32-byte nonce, and everything after the nonce runs through RC4 keyed with SHA-1(nonce +
// master password) after 768 dropped bytes. The export (also the old "kestel.cfg") is the magic
// 0xBEC0100F and one string-map record per router. Pure byte work: files are read and written
// by the caller.
#pragma once

#include "api/wire/Message.h"
#include "util/Bytes.h"
#include "util/Expected.h"

#include <array>
#include <string>
#include <vector>

namespace kestel {

inline constexpr uint32_t kBookMagic = 0xC01DF00D;
inline constexpr uint32_t kEncipheredMagic = 0x4011F00D;
inline constexpr uint32_t kExportMagic = 0xBEC0100F;
inline constexpr size_t kBookNonceSize = 32;
inline constexpr size_t kBookDroppedKeyStream = 768;
inline constexpr size_t kMaxBookRecord = 65535;

// The fields of an address entry.
namespace entry {
inline constexpr nv::string_id kAddress{1};
inline constexpr nv::string_id kLogin{2};
inline constexpr nv::string_id kPassword{3};
inline constexpr nv::string_id kNote{4};
inline constexpr nv::bool_id kSecure{5};
inline constexpr nv::string_id kSession{6};
inline constexpr nv::bool_id kKeepPassword{7};
inline constexpr nv::string_id kGroup{8};
inline constexpr nv::u32_id kGroupIndex{9};
inline constexpr nv::string_id kAgent{11};
} // namespace entry

enum class BookStatus {
  Ok,
  PasswordRequired, // enciphered and no password given: nothing was read
  BadPassword,      // enciphered and the password does not turn the second magic right
  NotAddressFile,   // wrong or missing magic, or a short nonce
};

struct BookContents {
  BookStatus status = BookStatus::NotAddressFile;
  bool enciphered = false;
  std::vector<nv::message> entries;
};

enum class BookReadMode {
  Open,   // the address-book format only
  Import, // the export format too
};

// Reads a book (or, for Import, an export). Entries stop at the first length that cannot be
// read, a length over 65535, a short record or a record that does not decode; the entries
// before it are kept.
BookContents readAddressBook(ByteSpan bytes, const std::string& password, BookReadMode mode);

// Tells whether an enciphered book opens with `password`; a clear book opens with any.
bool bookOpensWith(ByteSpan bytes, const std::string& password);

// The book's bytes: enciphered with `nonce` when `password` is not empty. Fails ("ERROR: could
// not write msg" logged) when an entry cannot be encoded or exceeds 65535 bytes.
Expected<Bytes> writeAddressBook(const std::vector<nv::message>& entries,
                                 const std::string& password,
                                 const std::array<uint8_t, kBookNonceSize>& nonce);

enum class ExportPasswords { Without, With };

// The export: "pwd" only With passwords and for entries that keep theirs; "keep-pwd" 0 Without.
Bytes writeExport(const std::vector<nv::message>& entries, ExportPasswords passwords);

// The entries of an export whose magic was already read: records of "type" "addr" only, missing
// fields as empty texts, "admin" for the login and true for both flags.
std::vector<nv::message> readExportRecords(ByteReader& in);

} // namespace kestel
