#include "log/csv_writer.h"

namespace brisk {

std::string CsvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    quoted += '"';
    return quoted;
}

std::string FormatCsvRow(std::span<const std::string> cells) {
    std::string row;
    for (size_t i = 0; i < cells.size(); ++i) {
        if (i > 0) {
            row += ',';
        }
        row += CsvField(cells[i]);
    }
    row += "\r\n";
    return row;
}

}  // namespace brisk
