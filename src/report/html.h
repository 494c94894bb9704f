// Text from a log made safe to put into an HTML page (element content and
// quoted attribute values alike).
#pragma once

#include <string>
#include <string_view>

namespace brisk::report {

// Escapes & < > " and ', and replaces what is not valid UTF-8 and control
// characters other than tab and line feed with U+FFFD, so that whatever bytes
// a log holds, the page stays well-formed text.
std::string EscapeHtml(std::string_view text);
void AppendEscaped(std::string& out, std::string_view text);

}  // namespace brisk::report
