#pragma once
// The keys and values the killed-writer helper sets, shared with the test that checks
// what it left: a value names its key, round and set in a header, then a fill whose
// length grows with the set, so the test can tell whether bytes are exactly some value.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

inline const std::vector<std::string>& killedWriterKeys() {
    static const std::vector<std::string> keys = {"https://shop.example/a.css",
                                                  "https://shop.example/b.js", "mv-api-data:/cart",
                                                  "https://shop.example/c"};
    return keys;
}

inline std::string killedWriterValue(size_t keyIndex, int round, int set) {
    char header[80];
    std::snprintf(header, sizeof header, "key=%zu round=%d set=%d\n", keyIndex, round, set);
    std::string value = header;
    const size_t fill = 64 + static_cast<size_t>(set % 48) * 2731;
    value.reserve(value.size() + fill);
    for (size_t j = 0; j < fill; ++j)
        value += static_cast<char>(
            (j * 31 + static_cast<size_t>(round) * 7 + static_cast<size_t>(set) * 13 + keyIndex) &
            0xff);
    return value;
}

// Whether the helper confirms set `set` of `round` (waits for its file and row).
inline bool killedWriterSetIsConfirmed(int round, int set) {
    return (round + set) % 3 == 0;
}

// The reports the helper writes before its first set: the open, and in even rounds the
// two moves.
inline int killedWriterReportsBeforeSets(int round) {
    return round % 2 == 0 ? 3 : 1;
}

// The key, round and set a value names, when `bytes` are exactly a value of a round
// below `rounds`.
struct KilledWriterValueName {
    size_t keyIndex;
    int round;
    int set;
};
inline std::optional<KilledWriterValueName> killedWriterValueName(int rounds,
                                                                  const std::string& bytes) {
    KilledWriterValueName name{0, -1, -1};
    if (std::sscanf(bytes.c_str(), "key=%zu round=%d set=%d\n", &name.keyIndex, &name.round,
                    &name.set) != 3)
        return std::nullopt;
    if (name.round < 0 || name.round >= rounds || name.set < 0) return std::nullopt;
    if (bytes != killedWriterValue(name.keyIndex, name.round, name.set)) return std::nullopt;
    return name;
}

// Whether `bytes` are exactly a value set for key `keyIndex` in a round below `rounds`.
inline bool isKilledWriterValue(size_t keyIndex, int rounds, const std::string& bytes) {
    const auto name = killedWriterValueName(rounds, bytes);
    return name && name->keyIndex == keyIndex;
}
