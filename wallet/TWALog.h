#pragma once
// The wallet library's console lines. It logs with the platform's plain log function,
// never through the library's logging facade, and a violated precondition is a
// logged line, never an exception.
//
//   TWA_LOG("WARNING: totalPrice format is invalid");
//   TWA_ASSERT(request != nullptr);   // logs "TWA_ASSERT false: request != nullptr"

#include <fmt/core.h>

#include <string>

// One plain console line.
void TWALog(const char* file, const char* function, int line, std::string text);
// False when nobody would see the line, so callers can skip formatting it.
bool TWALogEnabled();

#define TWA_LOG(...)                                                                               \
    do {                                                                                           \
        if (::TWALogEnabled()) ::TWALog(__FILE__, __func__, __LINE__, ::fmt::format(__VA_ARGS__)); \
    } while (0)
#define TWA_ASSERT(condition)                                          \
    do {                                                               \
        if (!(condition)) TWA_LOG("TWA_ASSERT false: {}", #condition); \
    } while (0)
