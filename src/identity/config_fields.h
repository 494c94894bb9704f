// The JSON half of the configuration's decoding (watchman_config.cpp does
// the bytes): parse the text, take the fields the tool uses into the
// record, and add a problem for each check they fail.
#pragma once

#include <string>

#include "identity/watchman_config.h"

namespace brisk::identity {

void ReadConfigJson(const std::string& text, WatchmanConfig& into);

}  // namespace brisk::identity
