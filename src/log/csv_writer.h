// CSV as RFC 4180 writes it: fields separated by commas, rows ended by CRLF,
// a field holding a comma, a quote, CR or LF enclosed in quotes with its
// quotes doubled.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace brisk {

// One field, quoted when it needs to be.
std::string CsvField(std::string_view text);

// The whole row, CRLF included.
std::string FormatCsvRow(std::span<const std::string> cells);

}  // namespace brisk
