#pragma once
// An error as log lines show it: "Error Domain=<domain> Code=<code> "<description>"
// UserInfo=<compact JSON>", the form the platform gives an error object in a format.

#include <string>

namespace platform {
class Error;
}

std::string errorDescription(const platform::Error& error);
