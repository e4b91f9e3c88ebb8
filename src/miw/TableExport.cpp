#include "miw/TableExport.h"

#include <cstdint>
#include <cstdio>
#include <map>

namespace kestel {
namespace {

void appendCsvField(std::string& out, const std::string& field) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) {
    out += field;
    return;
  }
  out += '"';
  for (char c : field) {
    if (c == '"')
      out += '"';
    out += c;
  }
  out += '"';
}

void appendCsvLine(std::string& out, const std::vector<std::string>& cells, size_t width) {
  for (size_t i = 0; i < width; ++i) {
    if (i != 0)
      out += ',';
    if (i < cells.size())
      appendCsvField(out, cells[i]);
  }
  out += "\r\n";
}

// Length of the valid UTF-8 sequence at `at`, or 0 when the bytes there are not one (overlong
// forms, surrogates and values above U+10FFFF included).
size_t utf8Length(const std::string& s, size_t at) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  unsigned char b = byte(at);
  if (b < 0x80)
    return 1;
  size_t n;
  uint32_t min;
  uint32_t cp;
  if ((b & 0xE0) == 0xC0) {
    n = 2, min = 0x80, cp = b & 0x1F;
  } else if ((b & 0xF0) == 0xE0) {
    n = 3, min = 0x800, cp = b & 0x0F;
  } else if ((b & 0xF8) == 0xF0) {
    n = 4, min = 0x10000, cp = b & 0x07;
  } else {
    return 0;
  }
  if (at + n > s.size())
    return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80)
      return 0;
    cp = (cp << 6) | (byte(at + i) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return n;
}

void appendJsonString(std::string& out, const std::string& s) {
  out += '"';
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = utf8Length(s, i);
    if (n == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (n > 1) {
      out.append(s, i, n);
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
    i += n;
  }
  out += '"';
}

// The headers with repeated titles numbered, so every JSON key is unique.
std::vector<std::string> uniqueKeys(const std::vector<std::string>& headers) {
  std::vector<std::string> keys;
  std::map<std::string, int> seen;
  for (const std::string& h : headers)
    ++seen[h];
  std::map<std::string, int> next;
  for (const std::string& h : headers) {
    std::string key = h;
    if (int n = next[h]++; n != 0) {
      // Skip numbers that another column has as its own title.
      for (int k = n + 1;; ++k) {
        key = h + " (" + std::to_string(k) + ")";
        if (!seen.count(key))
          break;
      }
      ++seen[key];
    }
    keys.push_back(key);
  }
  return keys;
}

} // namespace

std::string formatCsv(const TableRows& table) {
  std::string out;
  size_t width = table.headers.size();
  appendCsvLine(out, table.headers, width);
  for (const auto& row : table.rows)
    appendCsvLine(out, row, width);
  return out;
}

std::string formatJson(const TableRows& table) {
  std::vector<std::string> keys = uniqueKeys(table.headers);
  std::string out = "[";
  for (size_t r = 0; r < table.rows.size(); ++r) {
    out += r == 0 ? "\n  {" : ",\n  {";
    for (size_t i = 0; i < keys.size(); ++i) {
      if (i != 0)
        out += ", ";
      appendJsonString(out, keys[i]);
      out += ": ";
      const auto& row = table.rows[r];
      appendJsonString(out, i < row.size() ? row[i] : std::string());
    }
    out += '}';
  }
  out += table.rows.empty() ? "]\n" : "\n]\n";
  return out;
}

std::string formatTabSeparated(const std::vector<std::vector<std::string>>& rows) {
  std::string out;
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) {
      if (i != 0)
        out += '\t';
      for (char c : row[i])
        out += (c == '\t' || c == '\n' || c == '\r') ? ' ' : c;
    }
    out += '\n';
  }
  return out;
}

} // namespace kestel
