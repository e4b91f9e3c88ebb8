// Export of table rows, read back by readers written elsewhere: Python's csv module for the CSV
// files, nlohmann::json for the JSON ones, and a plain split for the tab-separated text.
#include "miw/TableExport.h"

#include "support/Programs.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

namespace kestel {
namespace {

using Rows = std::vector<std::vector<std::string>>;

// Cells that break naive writers: separators, quotes, line breaks of each kind, blanks at the
// ends, empty cells, non-ASCII text and control characters.
TableRows awkwardTable() {
  TableRows t;
  t.headers = {"Name", "Comment", "Name", "Name (2)", "Bytes"};
  t.rows = {
      {"ether1", "plain", "a", "b", "1 024"},
      {"a,b", "say \"hi\"", "line1\nline2", "cr\r\nlf", ""},
      {"  padded  ", "", "tab\there", "ünïcødé ✓", "\x01\x1f\x7f"},
      {"\"", ",", "\r", "\n", "x"},
  };
  return t;
}

// The CSV file as Python's csv module reads it, as a JSON array of rows.
nlohmann::json readWithPython(const std::string& csv) {
  test::TempFolder dir;
  std::string path = dir.file("rows.csv");
  std::ofstream(path, std::ios::binary) << csv;
  std::string out = test::runCommand(
      "python3 -c 'import csv,json,sys; "
      "print(json.dumps(list(csv.reader(open(sys.argv[1], newline=\"\", encoding=\"utf-8\")))))' " +
      path);
  size_t end = out.rfind("exit 0");
  EXPECT_NE(end, std::string::npos) << out;
  return nlohmann::json::parse(out.substr(0, end));
}

TEST(TableExport, CsvReadsBackCellForCell) {
  if (test::runCommand("python3 -c 'import csv'") != "exit 0")
    GTEST_SKIP() << "python3 with its csv module is not installed";
  TableRows t = awkwardTable();
  std::string csv = formatCsv(t);
  nlohmann::json back = readWithPython(csv);
  ASSERT_EQ(back.size(), t.rows.size() + 1);
  EXPECT_EQ(back[0].get<std::vector<std::string>>(), t.headers);
  for (size_t r = 0; r < t.rows.size(); ++r)
    EXPECT_EQ(back[r + 1].get<std::vector<std::string>>(), t.rows[r]) << "row " << r;
  EXPECT_EQ(csv.substr(0, 33), "Name,Comment,Name,Name (2),Bytes\r") << "lines end in CRLF";
}

TEST(TableExport, CsvPadsShortRowsAndCutsLongOnes) {
  if (test::runCommand("python3 -c 'import csv'") != "exit 0")
    GTEST_SKIP() << "python3 with its csv module is not installed";
  TableRows t{{"A", "B"}, {{"1"}, {"1", "2", "3"}, {}}};
  nlohmann::json back = readWithPython(formatCsv(t));
  EXPECT_EQ(back.dump(), R"([["A","B"],["1",""],["1","2"],["",""]])");
}

TEST(TableExport, JsonParsesWithUniqueKeysInDisplayOrder) {
  TableRows t = awkwardTable();
  nlohmann::ordered_json back = nlohmann::ordered_json::parse(formatJson(t));
  ASSERT_TRUE(back.is_array());
  ASSERT_EQ(back.size(), t.rows.size());
  std::vector<std::string> keys;
  for (auto& [key, value] : back[0].items())
    keys.push_back(key);
  // The second "Name" may not become "Name (2)": another column has that title.
  EXPECT_EQ(keys, (std::vector<std::string>{"Name", "Comment", "Name (3)", "Name (2)", "Bytes"}));
  for (size_t r = 0; r < t.rows.size(); ++r) {
    size_t i = 0;
    for (auto& [key, value] : back[r].items())
      EXPECT_EQ(value.get<std::string>(), t.rows[r][i++]) << "row " << r << " " << key;
  }
  EXPECT_EQ(nlohmann::json::parse(formatJson({{"A"}, {}})), nlohmann::json::array());
}

TEST(TableExport, JsonReplacesBytesThatAreNotUtf8) {
  // A lone continuation byte, a truncated sequence, an overlong '/', a surrogate, a value past
  // U+10FFFF: each bad byte becomes U+FFFD and the good text around it stays.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a\x80z", "a\xEF\xBF\xBDz"},
      {"a\xE2\x82", "a\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xF4\x90\x80\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"\xF0\x9F\x90\xA6 ok", "\xF0\x9F\x90\xA6 ok"},
  };
  for (const auto& [in, want] : cases) {
    auto back = nlohmann::json::parse(formatJson({{"c"}, {{in}}}));
    EXPECT_EQ(back[0]["c"].get<std::string>(), want) << in;
  }
}

TEST(TableExport, TabSeparatedKeepsOneLinePerRowAndEqualFieldCounts) {
  Rows rows = awkwardTable().rows;
  std::string text = formatTabSeparated(rows);
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t at; (at = text.find('\n', start)) != std::string::npos; start = at + 1)
    lines.push_back(text.substr(start, at - start));
  EXPECT_EQ(start, text.size()) << "the text ends with a line break";
  ASSERT_EQ(lines.size(), rows.size());
  for (size_t r = 0; r < rows.size(); ++r) {
    EXPECT_EQ(std::count(lines[r].begin(), lines[r].end(), '\t'), 4) << lines[r];
    EXPECT_EQ(lines[r].find('\r'), std::string::npos);
  }
  EXPECT_EQ(lines[1], "a,b\tsay \"hi\"\tline1 line2\tcr  lf\t");
}

} // namespace
} // namespace kestel
