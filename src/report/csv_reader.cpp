#include "report/csv_reader.h"

namespace brisk::report {

int CsvReader::Peek() {
    if (pos == end) {
        if (eof) {
            return -1;
        }
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        end = static_cast<size_t>(in.gcount());
        pos = 0;
        if (end == 0) {
            eof = true;
            return -1;
        }
    }
    return static_cast<unsigned char>(buffer[pos]);
}

int CsvReader::Get() {
    const int c = Peek();
    if (c >= 0) {
        ++pos;
        line += c == '\n' ? 1 : 0;
    }
    return c;
}

bool CsvReader::Next(CsvRecord& row) {
    if (stopped || Peek() < 0) {
        return false;
    }
    row.fields.assign(1, std::string());
    row.number = ++rows;
    row.line = line;
    row.complete = false;
    row.overlong = false;
    size_t bytes = 0;
    bool quoted = false;     // inside a quoted field
    bool fieldStart = true;  // nothing of the current field read yet
    for (int c = Get(); c >= 0; c = Get()) {
        if (++bytes > kMaxRowBytes) {
            row.overlong = true;
            stopped = true;
            return true;
        }
        std::string& field = row.fields.back();
        if (quoted) {
            if (c != '"') {
                field.push_back(static_cast<char>(c));
            } else if (Peek() == '"') {
                Get();
                field.push_back('"');
            } else {
                quoted = false;
            }
            continue;
        }
        if (c == '"' && fieldStart) {
            quoted = true;
            fieldStart = false;
        } else if (c == ',') {
            row.fields.emplace_back();
            fieldStart = true;
        } else if (c == '\n') {
            row.complete = true;
            return true;
        } else if (c == '\r' && Peek() == '\n') {
            continue;  // the CR of a CRLF row end
        } else {
            // Text after a closing quote, or a quote inside an unquoted
            // field: not RFC 4180, but kept as it stands rather than lost.
            field.push_back(static_cast<char>(c));
            fieldStart = false;
        }
    }
    return true;  // the input ended inside this row
}

}  // namespace brisk::report
