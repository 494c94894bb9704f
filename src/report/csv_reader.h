// RFC 4180 rows read one at a time from a stream, so a day-long log never has
// to sit in memory whole. Quotes, doubled quotes, CRLF or LF row ends and
// quoted fields with line breaks are taken as the run log writes them; a row
// cut off by the end of the input is handed out marked incomplete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

namespace brisk::report {

struct CsvRecord {
    std::vector<std::string> fields;
    uint64_t number = 0;    // 1-based, the header being row 1
    uint64_t line = 0;      // 1-based line of the file where the row starts
    bool complete = true;   // false: the input ended inside this row
    bool overlong = false;  // false unless the row passed kMaxRowBytes (then reading stops)
};

class CsvReader {
  public:
    // A log row is a few hundred bytes; anything this long is not one, and
    // reading it whole would let a broken file take all memory.
    static constexpr size_t kMaxRowBytes = 1 << 20;

    explicit CsvReader(std::istream& in) : in(in) {}
    // The next row into `row` (its storage reused); false at the end.
    bool Next(CsvRecord& row);

  private:
    int Get();
    int Peek();

    std::istream& in;
    std::vector<char> buffer = std::vector<char>(1 << 16);
    size_t pos = 0, end = 0;
    bool eof = false;
    bool stopped = false;
    uint64_t rows = 0;
    uint64_t line = 1;
};

}  // namespace brisk::report
