#include "api/term/TerminalText.h"

namespace kestel {

namespace {

void appendUtf8(std::string& out, uint16_t code) {
  if (code < 0x80) {
    out += char(code);
  } else if (code < 0x800) {
    out += char(0xC0 | (code >> 6));
    out += char(0x80 | (code & 0x3F));
  } else if (code >= 0xD800 && code < 0xE000) {
    out += "\xEF\xBF\xBD"; // a lone surrogate: the replacement character
  } else {
    out += char(0xE0 | (code >> 12));
    out += char(0x80 | ((code >> 6) & 0x3F));
    out += char(0x80 | (code & 0x3F));
  }
}

} // namespace

std::string terminalRowText(const TerminalScreen& screen, int row) {
  int end = screen.columns();
  while (end > 0 && screen.cell(end - 1, row).ch == ' ')
    --end;
  std::string out;
  for (int x = 0; x < end; ++x)
    appendUtf8(out, screen.cell(x, row).ch);
  return out;
}

std::string terminalScreenText(const TerminalScreen& screen) {
  int rows = screen.rows();
  while (rows > 0 && terminalRowText(screen, rows - 1).empty())
    --rows;
  std::string out;
  for (int y = 0; y < rows; ++y)
    out += terminalRowText(screen, y) + '\n';
  return out;
}

} // namespace kestel
