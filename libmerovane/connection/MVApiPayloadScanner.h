#pragma once
// Finds, byte by byte and without building anything, where one packet of a stream of
// packets ends: the response body after chunked decoding carries packets back to back,
// each delimited by its own encoding, whatever the chunks.
//
//   MVApiPayloadScanner scanner;
//   scanner.start(MVApiContentTypeJSON);
//   auto step = scanner.feed(bytes);          // again with the next bytes while Incomplete
//   if (step.verdict == MVApiPayloadScanner::Verdict::Complete) decode(upTo(step.used));
//
// JSON: the grammar of one value (strings, escapes, numbers, literals, a byte-order mark
// in front, as the parser takes them); the value ends at its last byte (a number at the
// first byte after it). MessagePack: the type bytes and lengths of one value, map keys
// strings. Complete: the value ended after `used` bytes; Error: the byte at `used`
// continues no value (JSON grammar; in MessagePack the byte 0xc1 or a map key that is no
// string; nesting past kMaxTrackedDepth). Whether the value
// is a packet (a map, its depth, its keys, its UTF-8) is left to the decoder, which has
// the last word.
//
// Not thread-safe: one scanner per decoder.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "libmerovane/connection/MVApiResponseHead.h"

class MVApiPayloadScanner {
  public:
    // Nesting followed to find a value's end; the decoder refuses far less.
    static constexpr size_t kMaxTrackedDepth = size_t{1} << 16;

    enum class Verdict { Incomplete, Complete, Error };
    struct Step {
        Verdict verdict;
        size_t used;  // bytes of this feed that belong to the value
    };

    // A new value of this type.
    void start(MVApiContentType contentType);
    // The next bytes of the stream; answers for everything fed since start().
    Step feed(std::string_view bytes);
    // A JSON string is open (its bytes are the value's, whatever they look like).
    bool isInsideString() const;
    // After an Error: the failing JSON byte came right after a string's closing quote.
    bool failedRightAfterString() const { return afterString_; }

  private:
    Step feedJSON(std::string_view bytes);
    Step feedMessagePack(std::string_view bytes);
    // JSON: a value ended / one starts at `c`.
    void endJSONValue();
    bool startJSONValue(char c);
    // MessagePack: the head of a value is complete in head_.
    bool takeMessagePackHead();
    void endMessagePackValue();

    enum class Mode : uint8_t {
        ByteOrderMark,  // JSON: the start, where a UTF-8 byte-order mark may come
        Value,          // a value must come
        ValueOrClose,   // after "[": a value or "]"
        KeyOrClose,     // after "{": a key or "}"
        Key,            // after "," in an object
        Colon,
        CommaOrClose,
        String,
        Escape,
        Unicode,  // \u and four hexadecimal digits
        Number,
        Literal,
        Done,   // the value ended
        Failed  // no continuation mends it
    };
    // Where a number stands: after the sign, a leading zero, integer digits, the point,
    // fraction digits, the "e", the exponent's sign, exponent digits.
    enum class NumberPart : uint8_t { Sign, Zero, Integer, Point, Fraction, E, ESign, Exponent };

    MVApiContentType contentType_ = MVApiContentTypeJSON;
    Mode mode_ = Mode::Value;

    // JSON
    size_t markRead_ = 0;      // bytes of the byte-order mark read
    std::vector<char> stack_;  // '{' or '[' per open container
    bool stringIsKey_ = false;
    bool afterString_ = false;  // the last byte closed a string
    uint8_t hexLeft_ = 0;
    NumberPart number_ = NumberPart::Sign;
    std::string_view literal_;  // the rest of "true", "false" or "null"

    // MessagePack
    struct Level {
        uint64_t left;  // elements still to come (a map counts keys and values)
        bool map;
    };
    std::vector<Level> levels_;
    uint8_t head_[9] = {};
    size_t headSize_ = 0;  // bytes of head_ read
    size_t headNeed_ = 0;  // bytes the head has, once its first byte is known
    uint64_t skip_ = 0;    // body bytes of a string, binary or extension still to come
};
