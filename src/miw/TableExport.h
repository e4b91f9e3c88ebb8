// The rows a table shows, as text for other programs: CSV and JSON files of the visible rows and
// tab-separated text of the selected rows for the clipboard. The caller collects the cells (the
// display texts, in display order, after the filter); this module only writes them out, so the
// same code serves every table model.
#pragma once

#include <string>
#include <vector>

namespace kestel {

struct TableRows {
  std::vector<std::string> headers;           // the visible columns' titles, in display order
  std::vector<std::vector<std::string>> rows; // each as many cells as there are headers
};

// CSV with a header line: a field is quoted when it holds a comma, a double quote or a line
// break, quotes inside doubled, lines ended by CRLF. A row with fewer cells is
// padded with empty fields, one with more is cut to the headers.
std::string formatCsv(const TableRows& table);

// A JSON array holding one object per row, keyed by the column titles in display order (a title
// met again gets " (2)", " (3)" … so no key repeats). Text that is not valid UTF-8 has each bad
// byte replaced by U+FFFD, so the output always parses.
std::string formatJson(const TableRows& table);

// The rows (no header) as tab-separated lines ending in "\n", for pasting into spreadsheets and
// editors: a tab or line break inside a cell becomes a space, so every row stays one line with
// the same number of fields.
std::string formatTabSeparated(const std::vector<std::vector<std::string>>& rows);

} // namespace kestel
