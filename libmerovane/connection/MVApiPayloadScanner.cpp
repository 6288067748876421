#include "libmerovane/connection/MVApiPayloadScanner.h"

#include <algorithm>

namespace {

// A UTF-8 byte-order mark, which the parser skips at the start of a text.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isHexDigit(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isMessagePackString(uint8_t b) {
    return (b >= 0xa0 && b <= 0xbf) || (b >= 0xd9 && b <= 0xdb);
}

// Bytes of a MessagePack value's head (type byte, lengths, scalar bytes, extension type).
size_t messagePackHeadLength(uint8_t b) {
    if (b <= 0xc3 || b >= 0xe0) return 1;
    switch (b) {
        case 0xc4:
        case 0xcc:
        case 0xd0:
        case 0xd9:
            return 2;
        case 0xc5:
        case 0xcd:
        case 0xd1:
        case 0xda:
        case 0xdc:
        case 0xde:
            return 3;
        case 0xc7:
            return 3;
        case 0xc8:
            return 4;
        case 0xc6:
        case 0xca:
        case 0xce:
        case 0xd2:
        case 0xdb:
        case 0xdd:
        case 0xdf:
            return 5;
        case 0xc9:
            return 6;
        case 0xcb:
        case 0xcf:
        case 0xd3:
            return 9;
        default:
            return 2;  // 0xd4 to 0xd8: fixed extensions, their type byte
    }
}

}  // namespace

void MVApiPayloadScanner::start(MVApiContentType contentType) {
    contentType_ = contentType;
    mode_ = contentType == MVApiContentTypeMessagePack ? Mode::Value : Mode::ByteOrderMark;
    markRead_ = 0;
    stack_.clear();
    stringIsKey_ = false;
    afterString_ = false;
    hexLeft_ = 0;
    number_ = NumberPart::Sign;
    literal_ = {};
    levels_.clear();
    headSize_ = 0;
    headNeed_ = 0;
    skip_ = 0;
}

MVApiPayloadScanner::Step MVApiPayloadScanner::feed(std::string_view bytes) {
    return contentType_ == MVApiContentTypeMessagePack ? feedMessagePack(bytes) : feedJSON(bytes);
}

bool MVApiPayloadScanner::isInsideString() const {
    return contentType_ == MVApiContentTypeJSON &&
           (mode_ == Mode::String || mode_ == Mode::Escape || mode_ == Mode::Unicode);
}

// JSON --------------------------------------------------------------------------------

void MVApiPayloadScanner::endJSONValue() {
    mode_ = stack_.empty() ? Mode::Done : Mode::CommaOrClose;
}

bool MVApiPayloadScanner::startJSONValue(char c) {
    switch (c) {
        case '{':
        case '[':
            if (stack_.size() >= kMaxTrackedDepth) return false;
            stack_.push_back(c);
            mode_ = c == '{' ? Mode::KeyOrClose : Mode::ValueOrClose;
            return true;
        case '"':
            stringIsKey_ = false;
            mode_ = Mode::String;
            return true;
        case 't':
            literal_ = "rue";
            mode_ = Mode::Literal;
            return true;
        case 'f':
            literal_ = "alse";
            mode_ = Mode::Literal;
            return true;
        case 'n':
            literal_ = "ull";
            mode_ = Mode::Literal;
            return true;
        case '-':
            number_ = NumberPart::Sign;
            mode_ = Mode::Number;
            return true;
        default:
            if (!isDigit(c)) return false;
            number_ = c == '0' ? NumberPart::Zero : NumberPart::Integer;
            mode_ = Mode::Number;
            return true;
    }
}

MVApiPayloadScanner::Step MVApiPayloadScanner::feedJSON(std::string_view bytes) {
    const size_t n = bytes.size();
    size_t i = 0;
    // The byte each step looks at; where a failure is.
    size_t at = 0;
    bool justClosed = afterString_;
    while (i < n && mode_ != Mode::Failed && mode_ != Mode::Done) {
        const char c = bytes[i];
        at = i;
        justClosed = afterString_;
        afterString_ = false;
        switch (mode_) {
            case Mode::ByteOrderMark:
                if (markRead_ == 0 && c != kByteOrderMark[0]) {
                    mode_ = Mode::Value;  // no mark: the byte is looked at again
                    continue;
                }
                if (c != kByteOrderMark[markRead_]) {
                    mode_ = Mode::Failed;
                    continue;
                }
                if (++markRead_ == kByteOrderMark.size()) mode_ = Mode::Value;
                ++i;
                continue;
            case Mode::String:
                // The plain bytes of a string in one sweep.
                while (i < n && static_cast<unsigned char>(bytes[i]) >= 0x20 && bytes[i] != '"' &&
                       bytes[i] != '\\')
                    ++i;
                if (i == n) continue;
                at = i;
                if (bytes[i] == '"') {
                    afterString_ = true;
                    if (stringIsKey_) {
                        mode_ = Mode::Colon;
                    } else {
                        endJSONValue();
                    }
                } else if (bytes[i] == '\\') {
                    mode_ = Mode::Escape;
                } else {
                    // A control character (a NUL too), which JSON refuses.
                    mode_ = Mode::Failed;
                    continue;
                }
                ++i;
                continue;
            case Mode::Escape:
                if (c == 'u') {
                    hexLeft_ = 4;
                    mode_ = Mode::Unicode;
                } else if (std::string_view("\"\\/bfnrt").find(c) != std::string_view::npos) {
                    mode_ = Mode::String;
                } else {
                    mode_ = Mode::Failed;
                    continue;
                }
                ++i;
                continue;
            case Mode::Unicode:
                if (!isHexDigit(c)) {
                    mode_ = Mode::Failed;
                    continue;
                }
                if (--hexLeft_ == 0) mode_ = Mode::String;
                ++i;
                continue;
            case Mode::Literal:
                if (c != literal_.front()) {
                    mode_ = Mode::Failed;
                    continue;
                }
                literal_.remove_prefix(1);
                if (literal_.empty()) endJSONValue();
                ++i;
                continue;
            case Mode::Number: {
                const NumberPart before = number_;
                switch (number_) {
                    case NumberPart::Sign:
                        if (isDigit(c)) number_ = c == '0' ? NumberPart::Zero : NumberPart::Integer;
                        break;
                    case NumberPart::Zero:
                    case NumberPart::Integer:
                        if (isDigit(c) && number_ == NumberPart::Integer) break;
                        if (c == '.') number_ = NumberPart::Point;
                        if (c == 'e' || c == 'E') number_ = NumberPart::E;
                        if (number_ == before) {
                            endJSONValue();  // the byte is looked at again
                            continue;
                        }
                        break;
                    case NumberPart::Point:
                        if (isDigit(c)) number_ = NumberPart::Fraction;
                        break;
                    case NumberPart::Fraction:
                        if (isDigit(c)) break;
                        if (c == 'e' || c == 'E') {
                            number_ = NumberPart::E;
                            break;
                        }
                        endJSONValue();
                        continue;
                    case NumberPart::E:
                        if (c == '+' || c == '-') number_ = NumberPart::ESign;
                        if (isDigit(c)) number_ = NumberPart::Exponent;
                        break;
                    case NumberPart::ESign:
                        if (isDigit(c)) number_ = NumberPart::Exponent;
                        break;
                    case NumberPart::Exponent:
                        if (isDigit(c)) break;
                        endJSONValue();
                        continue;
                }
                // A part that needs a digit (or sign) and got none cannot be mended.
                const bool grew = number_ != before || before == NumberPart::Integer ||
                                  before == NumberPart::Fraction || before == NumberPart::Exponent;
                if (!grew) {
                    mode_ = Mode::Failed;
                    continue;
                }
                ++i;
                continue;
            }
            default:
                break;
        }
        if (isBlank(c)) {
            ++i;
            continue;
        }
        switch (mode_) {
            case Mode::Value:
                if (!startJSONValue(c)) mode_ = Mode::Failed;
                break;
            case Mode::ValueOrClose:
                if (c == ']') {
                    stack_.pop_back();
                    endJSONValue();
                } else if (!startJSONValue(c)) {
                    mode_ = Mode::Failed;
                }
                break;
            case Mode::KeyOrClose:
            case Mode::Key:
                if (c == '}' && mode_ == Mode::KeyOrClose) {
                    stack_.pop_back();
                    endJSONValue();
                } else if (c == '"') {
                    stringIsKey_ = true;
                    mode_ = Mode::String;
                } else {
                    mode_ = Mode::Failed;
                }
                break;
            case Mode::Colon:
                mode_ = c == ':' ? Mode::Value : Mode::Failed;
                break;
            case Mode::CommaOrClose: {
                const bool object = stack_.back() == '{';
                if (c == ',') {
                    mode_ = object ? Mode::Key : Mode::Value;
                } else if (c == (object ? '}' : ']')) {
                    stack_.pop_back();
                    endJSONValue();
                } else {
                    mode_ = Mode::Failed;
                }
                break;
            }
            default:
                mode_ = Mode::Failed;
                break;
        }
        if (mode_ != Mode::Failed) ++i;
    }
    if (mode_ == Mode::Failed) {
        afterString_ = justClosed;
        return {Verdict::Error, at};
    }
    if (mode_ == Mode::Done) return {Verdict::Complete, i};
    return {Verdict::Incomplete, n};
}

// MessagePack ---------------------------------------------------------------------------

void MVApiPayloadScanner::endMessagePackValue() {
    while (!levels_.empty()) {
        if (--levels_.back().left > 0) return;
        levels_.pop_back();
    }
    mode_ = Mode::Done;
}

bool MVApiPayloadScanner::takeMessagePackHead() {
    const uint8_t b = head_[0];
    const auto bigEndian = [this](size_t from, size_t count) {
        uint64_t value = 0;
        for (size_t k = 0; k < count; ++k) value = value << 8 | head_[from + k];
        return value;
    };
    if (b == 0xc1) return false;
    const bool key = !levels_.empty() && levels_.back().map && levels_.back().left % 2 == 0;
    if (key && !isMessagePackString(b)) return false;
    if (isMessagePackString(b) || (b >= 0xc4 && b <= 0xc6)) {
        skip_ = b <= 0xbf ? b & 0x1f : bigEndian(1, headNeed_ - 1);
        if (skip_ == 0) endMessagePackValue();
        return true;
    }
    if ((b >= 0xc7 && b <= 0xc9) || (b >= 0xd4 && b <= 0xd8)) {
        // An extension: its body is skipped (the decoder refuses it).
        skip_ = b >= 0xd4 ? uint64_t{1} << (b - 0xd4) : bigEndian(1, headNeed_ - 2);
        if (skip_ == 0) endMessagePackValue();
        return true;
    }
    uint64_t count = 0;
    bool map = false;
    if (b >= 0x80 && b <= 0x9f) {
        count = b & 0x0f;
        map = b <= 0x8f;
    } else if (b >= 0xdc && b <= 0xdf) {
        count = bigEndian(1, headNeed_ - 1);
        map = b >= 0xde;
    } else {
        endMessagePackValue();  // a scalar: its bytes were the head
        return true;
    }
    if (count == 0) {
        endMessagePackValue();
        return true;
    }
    if (levels_.size() >= kMaxTrackedDepth) return false;
    levels_.push_back({map ? count * 2 : count, map});
    return true;
}

MVApiPayloadScanner::Step MVApiPayloadScanner::feedMessagePack(std::string_view bytes) {
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n && mode_ != Mode::Failed && mode_ != Mode::Done) {
        if (skip_ > 0) {
            const uint64_t take = std::min<uint64_t>(skip_, n - i);
            i += static_cast<size_t>(take);
            skip_ -= take;
            if (skip_ == 0) endMessagePackValue();
            continue;
        }
        head_[headSize_++] = static_cast<uint8_t>(bytes[i]);
        if (headSize_ == 1) headNeed_ = messagePackHeadLength(head_[0]);
        if (headSize_ < headNeed_) {
            ++i;
            continue;
        }
        headSize_ = 0;
        if (!takeMessagePackHead()) {
            mode_ = Mode::Failed;
            return {Verdict::Error, i};
        }
        ++i;
    }
    if (mode_ == Mode::Failed) return {Verdict::Error, 0};
    if (mode_ == Mode::Done) return {Verdict::Complete, i};
    return {Verdict::Incomplete, n};
}
