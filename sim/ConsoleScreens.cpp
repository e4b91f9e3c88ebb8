#include "sim/ConsoleScreens.h"

#include <algorithm>
#include <cstdio>

namespace kestel::sim {

namespace {

const char* const kEsc = "\x1b";

std::string at(int row, int column) {
  return std::string(kEsc) + "[" + std::to_string(row) + ";" + std::to_string(column) + "H";
}

std::string sgr(const std::string& parameters) {
  return std::string(kEsc) + "[" + parameters + "m";
}

// A number that varies from frame to frame in a fixed way.
uint32_t mix(uint64_t a, uint64_t b) {
  uint64_t x = a * 0x9E3779B97F4A7C15ull ^ (b + 0x632BE59BD9B4E019ull);
  x ^= x >> 29;
  x *= 0xBF58476D1CE4E5B9ull;
  return uint32_t(x >> 32);
}

std::string padded(std::string text, size_t width) {
  text.resize(std::max(text.size(), width), ' ');
  return text;
}

} // namespace

std::string consoleHelp() {
  return "commands:\r\n"
         "  help          this list\r\n"
         "  colors        the colour table\r\n"
         "  box [title]   a line-drawing box as wide as the window\r\n"
         "  list [n]      a routing table of n rows (default 100)\r\n"
         "  top           a full-screen view redrawn every second; q leaves\r\n"
         "  size          the window size, and the size the terminal reports\r\n"
         "  clear         clears the screen\r\n"
         "  echo <text>   prints the text\r\n"
         "  flood <n>     sends n bytes of mixed output\r\n"
         "  quit          ends the session\r\n";
}

std::string colourTable() {
  std::string out;
  for (int fg = 0; fg < 8; ++fg) {
    for (int bg = 0; bg < 8; ++bg)
      out += sgr(std::to_string(30 + fg) + ";" + std::to_string(40 + bg)) + " " +
             std::to_string(fg) + std::to_string(bg) + " ";
    out += sgr("0") + "  " + sgr("1;" + std::to_string(30 + fg)) + "bold" + sgr("0") + " " +
           sgr("7;" + std::to_string(30 + fg)) + "reverse" + sgr("0") + "\r\n";
  }
  return out;
}

std::string lineBox(int columns, const std::string& title) {
  int inner = std::clamp(columns - 2, 2, 998);
  std::string text = title.substr(0, size_t(inner));
  std::string out = std::string(kEsc) + "(0l" + std::string(size_t(inner), 'q') + "k\r\nx" +
                    std::string(kEsc) + "(B" + padded(text, size_t(inner)) + std::string(kEsc) +
                    "(0x\r\nt" + std::string(size_t(inner), 'q') + "u\r\nx" + std::string(kEsc) +
                    "(B";
  std::string inside = "`a~ are drawn as diamonds, checkers and bullets";
  out += padded(inside.substr(0, size_t(inner)), size_t(inner)) + std::string(kEsc) + "(0x\r\nm" +
         std::string(size_t(inner), 'q') + "j" + std::string(kEsc) + "(B\r\n";
  return out;
}

std::string routeListing(int lines) {
  std::string out = sgr("1") + "Flags: D - dynamic, A - active, S - static" + sgr("0") + "\r\n" +
                    sgr("1;4") + " #    DST-ADDRESS        GATEWAY          DISTANCE" + sgr("0") +
                    "\r\n";
  char row[128];
  for (int i = 0; i < lines; ++i) {
    bool dynamic = i % 3 == 0;
    std::snprintf(row, sizeof row, "%4d %s%s%s  198.18.%d.%d/%-2d  %s198.19.0.%-3d%s  %d", i,
                  sgr(dynamic ? "32" : "36").c_str(), dynamic ? "DA" : "AS", sgr("0").c_str(),
                  (i / 256) % 256, i % 256, 24 + i % 9, sgr("33").c_str(), 1 + i % 254,
                  sgr("0").c_str(), 1 + i % 30);
    out += row;
    out += "\r\n";
  }
  return out;
}

std::string topFrame(int columns, int rows, uint64_t tick, bool enter) {
  columns = std::max(columns, 20);
  rows = std::max(rows, 4);
  std::string out;
  if (enter)
    out += std::string(kEsc) + "[?1047h";
  out += std::string(kEsc) + "[r" + at(1, 1) + std::string(kEsc) + "[2J";
  std::string header = "top - tick " + std::to_string(tick) + ", " + std::to_string(columns) + "x" +
                       std::to_string(rows) + "  (q leaves)";
  out += sgr("7") + padded(header.substr(0, size_t(columns)), size_t(columns)) + sgr("0");
  out += at(2, 1) + sgr("1") + "  PID NAME              CPU%  MEM" + sgr("0");
  out += std::string(kEsc) + "[3;" + std::to_string(rows) + "r";
  static const char* const names[] = {"routing", "firewall", "dhcp", "dns", "wireless", "ntp",
                                      "snmp",    "console",  "log",  "ssh", "web",      "sched"};
  for (int r = 3; r <= rows; ++r) {
    int i = (r - 3) % 12;
    uint32_t load = mix(tick, uint64_t(r)) % 1000;
    char line[96];
    std::snprintf(line, sizeof line, "%5d %-16s %s%3u.%u%s %5uk", 100 + r, names[i],
                  sgr(load > 800   ? "31"
                      : load > 400 ? "33"
                                   : "32")
                      .c_str(),
                  load / 10, load % 10, sgr("0").c_str(), 512 + mix(r, 7) % 4096);
    out += at(r, 1) + line + std::string(kEsc) + "[K";
  }
  return out;
}

std::string topLeave() { return std::string(kEsc) + "[r" + std::string(kEsc) + "[?1047l"; }

std::string floodPiece(uint64_t n, int columns, int rows) {
  switch (n % 4) {
  case 0:
    return routeListing(40);
  case 1:
    return colourTable() + lineBox(columns, "piece " + std::to_string(n));
  case 2: {
    // A scrolling region in the middle of the screen, scrolled by line feeds at its bottom.
    int top = std::max(2, rows / 4), bottom = std::max(top + 1, rows - rows / 4);
    std::string out = std::string(kEsc) + "7" + std::string(kEsc) + "[" + std::to_string(top) +
                      ";" + std::to_string(bottom) + "r" + at(bottom, 1);
    for (int i = 0; i < 40; ++i)
      out += "\r\n" + sgr(std::to_string(31 + i % 7)) + "region line " + std::to_string(i) +
             sgr("0") + std::string(kEsc) + "[K";
    return out + std::string(kEsc) + "[r" + std::string(kEsc) + "8";
  }
  default:
    return topFrame(columns, rows, n, true) + topLeave();
  }
}

} // namespace kestel::sim
