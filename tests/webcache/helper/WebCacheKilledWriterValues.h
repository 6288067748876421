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

// The helper sets the keys in bursts: one key several times in a row, the last set of
// some bursts confirmed (it waits for its file and row).
inline int killedWriterBurstLength(int round, int burst) {
    return 1 + (round * 7 + burst * 13) % 20;
}

// The key of set `set` of `round`, and whether the helper confirms it.
struct KilledWriterSet {
    size_t keyIndex;
    bool confirmed;
};
inline KilledWriterSet killedWriterSet(int round, int set) {
    int first = 0;
    for (int burst = 0;; ++burst) {
        const int length = killedWriterBurstLength(round, burst);
        if (set < first + length) {
            return {static_cast<size_t>(round + burst) % killedWriterKeys().size(),
                    set == first + length - 1 && (round + burst) % 3 != 1};
        }
        first += length;
    }
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
