// This machine's name, as a soak lab knows its stations by: the DNS host name
// on Windows, gethostname() elsewhere.
#pragma once

#include <string>

namespace brisk {

// UTF-8; empty when the system will not say.
std::string HostName();

}  // namespace brisk
