#pragma once
// Text a client sent (request paths, methods, names), made fit for the sample server's
// log lines: bytes that are no UTF-8 written as "\xNN", control characters escaped and
// long texts cut as platform::log::escaped does.
//
//   log("GET " + logText(head.target));

#include <string>
#include <string_view>

std::string logText(std::string_view text);
