// --share-link URL: the link to the page published at URL that carries the greeting the command line
// gives, printed instead of anything shown; with --recipients FILE.csv, one link for each row of a
// CSV file, its {column} placeholders filled in from the row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace app {

struct Options;

// What a recipients file may hold: its size in bytes, its rows after the header, a field's bytes.
constexpr std::uintmax_t kMaxRecipientsBytes = 64u << 20;
constexpr std::size_t kMaxRecipientsRows = 100'000;
constexpr std::size_t kMaxRecipientsFieldBytes = 4000;

// RFC 4180 CSV: UTF-8 with its byte-order mark skipped, CRLF or LF, fields in double quotes holding
// commas, line breaks and "" for a quote. The first row names the columns; an empty line is no row.
struct CsvTable {
  std::vector<std::string> columns;
  std::vector<std::vector<std::string>> rows;
  std::vector<std::size_t> rowNumbers;  // each row's number as a spreadsheet counts them (header = 1)
};
// Throws CommandLineError naming `name` and the row for text that is no such table or breaks the
// limits above.
CsvTable ParseCsv(const std::string& text, const std::string& name);

// One field as RFC 4180 writes it: quoted when it holds a comma, a quote or a line break.
std::string CsvField(const std::string& field);

// Prints the link (or with --recipients the table with a `link` column) on `out`. Everything is
// checked before anything is printed; a refusal throws CommandLineError naming the option, or the
// file, row and column.
int RunShareLink(const Options& o, const std::string& appFolder, std::ostream& out);

}  // namespace app
