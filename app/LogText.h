#pragma once
// Outside bytes (command-line arguments, URLs other starts hand over, request paths) made
// fit for a log line: platform::log::escaped(), and every byte that is not part of a
// well-formed UTF-8 character written as "\xNN", so a line is always valid UTF-8.
//
//   MVLogInfo("Opening {}", logText(url));

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/foundation/Log.h"

std::string logText(std::string_view text, size_t limit = platform::log::kEscapedTextLimit);
