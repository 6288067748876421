#pragma once
// Tells, byte by byte and without building anything, when an uncompressed packet payload
// that arrives in pieces can be complete, so that it is decoded once rather than at
// every piece.
//
//   MVApiPayloadScanner scanner;
//   scanner.start(MVApiContentTypeJSON);
//   if (scanner.feed(newBytes) != MVApiPayloadScanner::Verdict::Incomplete) decodeAll();
//
// A packet is one map. JSON: the grammar of one object with white space around it
// (strings, escapes, numbers, literals, nesting up to platform::json::kMaxParseDepth, a
// byte-order mark in front, as the parser takes them). MessagePack: the type bytes and
// lengths of one map, with the decoder's bounds on depth and value count, string map
// keys and no extension types. Complete: one whole map and nothing else; Error: no
// continuation can make it one, so the payload is refused at once. The decoder has the
// last word on both; the scanner only says when asking it is worth while. What a JSON
// string holds (its UTF-8) is left to the decoder.
//
// Not thread-safe: one scanner per decoder.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "libmerovane/connection/MVApiResponseHead.h"

class MVApiPayloadScanner {
  public:
    enum class Verdict { Incomplete, Complete, Error };

    // A new payload of this type.
    void start(MVApiContentType contentType);
    // The next bytes of the payload; answers for everything fed since start().
    Verdict feed(std::string_view bytes);
    // After an Error: it came from a value that is no map.
    bool isNotDictionary() const { return notDictionary_; }

  private:
    Verdict feedJSON(std::string_view bytes);
    Verdict feedMessagePack(std::string_view bytes);
    // JSON: a value ended / one of its bytes starts at `c`.
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
        Done,   // the value ended; only white space may follow
        Failed  // no continuation mends it
    };
    // Where a number stands: after the sign, a leading zero, integer digits, the point,
    // fraction digits, the "e", the exponent's sign, exponent digits.
    enum class NumberPart : uint8_t { Sign, Zero, Integer, Point, Fraction, E, ESign, Exponent };

    MVApiContentType contentType_ = MVApiContentTypeJSON;
    Mode mode_ = Mode::Value;
    bool notDictionary_ = false;

    // JSON
    size_t markRead_ = 0;      // bytes of the byte-order mark read
    std::vector<char> stack_;  // '{' or '[' per open container
    bool stringIsKey_ = false;
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
    bool skippingExtension_ = false;
    uint64_t values_ = 0;
};
