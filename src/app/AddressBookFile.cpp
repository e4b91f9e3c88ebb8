#include "app/AddressBookFile.h"

#include "crypto/Rc4.h"
#include "crypto/Secure.h"
#include "crypto/Sha.h"
#include "miw/StringMap.h"
#include "util/Log.h"

namespace kestel {

namespace {

Rc4 bookCipher(ByteSpan nonce, const std::string& password) {
  Sha1 sha;
  sha.update(nonce);
  sha.update(asBytes(password));
  uint8_t key[Sha1::kDigestSize];
  sha.final(key);
  Rc4 rc4(ByteSpan(key, sizeof key));
  secureWipe(key, sizeof key);
  rc4.drop(kBookDroppedKeyStream);
  return rc4;
}

void readRecords(ByteReader& in, std::vector<nv::message>& entries) {
  for (;;) {
    uint32_t len = 0;
    ByteSpan record;
    if (!in.u32le(len) || len > kMaxBookRecord || !in.span(len, record))
      return;
    bool ok = false;
    nv::message m = nv::message::fromBytes(record, &ok);
    if (!ok) {
      logLine("ERROR: bad address entry - stopping");
      return;
    }
    entries.push_back(std::move(m));
  }
}

std::string text(const StringMap& record, const char* key, const char* def) {
  return record.get(key).value_or(def);
}

bool flag(const StringMap& record, const char* key) {
  auto v = record.get(key);
  return !v || v->empty() || (*v)[0] != 0;
}

} // namespace

BookContents readAddressBook(ByteSpan bytes, const std::string& password, BookReadMode mode) {
  BookContents out;
  ByteReader in(bytes);
  uint32_t magic = 0;
  if (!in.u32le(magic))
    return out;
  if (mode == BookReadMode::Import && magic == kExportMagic) {
    out.status = BookStatus::Ok;
    out.entries = readExportRecords(in);
    return out;
  }
  Bytes clear;
  if (magic == kEncipheredMagic) {
    out.enciphered = true;
    if (password.empty()) {
      out.status = BookStatus::PasswordRequired;
      return out;
    }
    ByteSpan nonce;
    if (!in.span(kBookNonceSize, nonce))
      return out;
    clear.assign(in.rest().begin(), in.rest().end());
    bookCipher(nonce, password).apply(clear.data(), clear.size());
    in = ByteReader(clear);
    if (!in.u32le(magic))
      magic = 0;
  }
  if (magic != kBookMagic) {
    out.status = out.enciphered ? BookStatus::BadPassword : BookStatus::NotAddressFile;
    return out;
  }
  out.status = BookStatus::Ok;
  readRecords(in, out.entries);
  return out;
}

bool bookOpensWith(ByteSpan bytes, const std::string& password) {
  ByteReader in(bytes);
  uint32_t magic = 0;
  if (!in.u32le(magic) || magic != kEncipheredMagic)
    return true;
  ByteSpan nonce;
  uint8_t second[4];
  if (password.empty() || !in.span(kBookNonceSize, nonce) || !in.copy(second, 4))
    return false;
  bookCipher(nonce, password).apply(second, 4);
  ByteReader s(second, 4);
  return s.u32le(magic) && magic == kBookMagic;
}

Expected<Bytes> writeAddressBook(const std::vector<nv::message>& entries,
                                 const std::string& password,
                                 const std::array<uint8_t, kBookNonceSize>& nonce) {
  Bytes out;
  ByteWriter w(out);
  size_t cipherStart = 0;
  if (!password.empty()) {
    w.u32le(kEncipheredMagic);
    w.bytes(ByteSpan(nonce));
    cipherStart = out.size();
  }
  w.u32le(kBookMagic);
  Bytes record;
  for (const auto& e : entries) {
    record.clear();
    if (!e.flatten(record) || record.size() > kMaxBookRecord) {
      logLine("ERROR: could not write msg");
      return makeError("an address entry cannot be written");
    }
    w.u32le(uint32_t(record.size()));
    w.bytes(record);
  }
  if (!password.empty())
    bookCipher(nonce, password).apply(out.data() + cipherStart, out.size() - cipherStart);
  return out;
}

Bytes writeExport(const std::vector<nv::message>& entries, ExportPasswords passwords) {
  Bytes out;
  ByteWriter(out).u32le(kExportMagic);
  for (const auto& e : entries) {
    StringMap r;
    r.set("type", "addr");
    r.set("host", e.get(entry::kAddress));
    r.set("login", e.get(entry::kLogin));
    bool keep = e.get(entry::kKeepPassword);
    if (passwords == ExportPasswords::With && keep)
      r.set("pwd", e.get(entry::kPassword));
    r.set("note", e.get(entry::kNote));
    r.set("group", e.get(entry::kGroup));
    r.set("secure-mode", packBool(e.get(entry::kSecure)));
    r.set("keep-pwd", packBool(passwords == ExportPasswords::With && keep));
    (void)writeRecord(out, r); // an over-long field is logged and left out
  }
  return out;
}

std::vector<nv::message> readExportRecords(ByteReader& in) {
  std::vector<nv::message> entries;
  StringMap r;
  while (readRecord(in, r, kImportRecordTexts) == RecordRead::Record) {
    if (r.get("type") != "addr")
      continue;
    nv::message e;
    e.set(entry::kAddress, text(r, "host", ""));
    e.set(entry::kLogin, text(r, "login", "admin"));
    e.set(entry::kPassword, text(r, "pwd", ""));
    e.set(entry::kNote, text(r, "note", ""));
    e.set(entry::kGroup, text(r, "group", ""));
    e.set(entry::kSecure, flag(r, "secure-mode"));
    e.set(entry::kKeepPassword, flag(r, "keep-pwd"));
    entries.push_back(std::move(e));
  }
  return entries;
}

} // namespace kestel
