#include "platform/crash/CrashReport.h"

#include <signal.h>

#include <charconv>
#include <cstring>
#include <set>

namespace platform {

namespace {

constexpr std::string_view kHeader = "MVCrashReport 1\n";

struct NamedSignal {
    int signal;
    const char* name;
};
constexpr NamedSignal kSignals[] = {
    {SIGSEGV, "SIGSEGV"}, {SIGBUS, "SIGBUS"},   {SIGILL, "SIGILL"}, {SIGFPE, "SIGFPE"},
    {SIGABRT, "SIGABRT"}, {SIGTRAP, "SIGTRAP"}, {SIGSYS, "SIGSYS"},
};

// Buffers small pieces and hands them to the sink; nothing here allocates.
class Writer {
  public:
    Writer(CrashRecordSink sink, void* context) : sink_(sink), context_(context) {}

    void put(const char* bytes, size_t length) {
        if (length > sizeof buffer_ - used_) {
            flush();
            if (length > sizeof buffer_) {
                if (ok_) ok_ = sink_(context_, bytes, length);
                return;
            }
        }
        std::memcpy(buffer_ + used_, bytes, length);
        used_ += length;
    }
    void put(const char* text) { put(text, std::strlen(text)); }
    void decimal(int64_t value) {
        char digits[24];
        size_t n = 0;
        uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : value;
        do {
            digits[sizeof digits - ++n] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude);
        if (value < 0) digits[sizeof digits - ++n] = '-';
        put(digits + sizeof digits - n, n);
    }
    void hex(uint64_t value) {
        char digits[18];
        size_t n = 0;
        do {
            digits[sizeof digits - ++n] = "0123456789abcdef"[value & 0xf];
            value >>= 4;
        } while (value);
        digits[sizeof digits - ++n] = 'x';
        digits[sizeof digits - ++n] = '0';
        put(digits + sizeof digits - n, n);
    }
    void text(const char* key, const char* bytes, size_t length, size_t limit) {
        if (!bytes) length = 0;
        if (length > limit) length = limit;
        put(key);
        put(" ");
        decimal(static_cast<int64_t>(length));
        put(":");
        if (length) put(bytes, length);
        put("\n");
    }
    bool finish() {
        flush();
        return ok_;
    }

  private:
    void flush() {
        if (ok_ && used_) ok_ = sink_(context_, buffer_, used_);
        used_ = 0;
    }

    CrashRecordSink sink_;
    void* context_;
    char buffer_[512];
    size_t used_ = 0;
    bool ok_ = true;
};

bool appendToString(void* context, const char* bytes, size_t length) {
    static_cast<std::string*>(context)->append(bytes, length);
    return true;
}

template <typename T>
bool parseNumber(std::string_view text, T* out, int base) {
    if (text.empty() || text.size() > 20) return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out, base);
    return ec == std::errc() && end == text.data() + text.size();
}

bool parseHex(std::string_view text, uint64_t* out) {
    if (text.size() < 3 || text.size() > 18 || !text.starts_with("0x")) return false;
    return text[2] != '-' && text[2] != '+' && parseNumber(text.substr(2), out, 16);
}

}  // namespace

const char* crashSignalName(int signal) {
    for (const auto& s : kSignals)
        if (s.signal == signal) return s.name;
    return nullptr;
}

bool writeCrashRecord(const CrashRecordFields& f, CrashRecordSink sink, void* context) {
    Writer w(sink, context);
    w.put(kHeader.data(), kHeader.size());
    w.put("pid ");
    w.decimal(f.pid);
    w.put("\nprocessStartMillis ");
    w.decimal(f.processStartMillis);
    w.put("\n");
    if (f.signalName) {
        w.put("signal ");
        w.put(f.signalName);
        w.put("\nsignalCode ");
        w.decimal(f.signalCode);
        w.put("\naddress ");
        w.hex(f.address);
        w.put("\n");
    } else {
        w.text("exceptionName", f.exceptionName, f.exceptionNameLength, kMaxExceptionNameLength);
        w.text("exceptionReason", f.exceptionReason, f.exceptionReasonLength,
               kMaxExceptionReasonLength);
    }
    const int frames = f.frameCount < kMaxCrashFrames ? f.frameCount : kMaxCrashFrames;
    for (int i = 0; f.frames && i < frames; ++i) {
        w.put("frame ");
        w.hex(f.frames[i]);
        w.put("\n");
    }
    w.put("end\n");
    return w.finish();
}

std::string crashRecordText(const CrashReport& report) {
    CrashRecordFields f;
    f.pid = report.pid;
    f.processStartMillis = report.processStartMillis;
    if (report.hasExceptionInfo) {
        f.exceptionName = report.exceptionName.data();
        f.exceptionNameLength = report.exceptionName.size();
        f.exceptionReason = report.exceptionReason.data();
        f.exceptionReasonLength = report.exceptionReason.size();
    } else {
        f.signalName = report.signalName.c_str();
        f.signalCode = report.signalCode;
        f.address = report.address;
    }
    f.frames = report.frames.data();
    f.frameCount = static_cast<int>(report.frames.size());
    std::string text;
    writeCrashRecord(f, appendToString, &text);
    return text;
}

std::optional<CrashReport> parseCrashReport(std::string_view bytes, std::string* problem) {
    auto fail = [&](std::string why) -> std::optional<CrashReport> {
        if (problem) *problem = std::move(why);
        return std::nullopt;
    };
    if (bytes.empty()) return fail("empty file");
    if (bytes.size() > kMaxCrashRecordSize) return fail("larger than any crash report");
    if (!bytes.starts_with(kHeader)) return fail("not a crash report");

    CrashReport report;
    std::set<std::string_view> seen;
    size_t pos = kHeader.size();
    for (;;) {
        const size_t keyEnd = bytes.find_first_of(" \n", pos);
        if (keyEnd == std::string_view::npos) return fail("cut short");
        const std::string_view key = bytes.substr(pos, keyEnd - pos);
        if (key == "end" && bytes[keyEnd] == '\n') {
            if (keyEnd + 1 != bytes.size()) return fail("bytes after the end");
            break;
        }
        if (bytes[keyEnd] != ' ') return fail("a field without a value");
        if (key != "frame" && !seen.insert(key).second)
            return fail("field " + std::string(key) + " given twice");
        pos = keyEnd + 1;

        if (key == "exceptionName" || key == "exceptionReason") {
            const size_t colon = bytes.find(':', pos);
            size_t length = 0;
            if (colon == std::string_view::npos || colon - pos > 7 ||
                !parseNumber(bytes.substr(pos, colon - pos), &length, 10))
                return fail("a text without its length");
            const size_t limit =
                key == "exceptionName" ? kMaxExceptionNameLength : kMaxExceptionReasonLength;
            if (length > limit) return fail("a text longer than allowed");
            if (colon + 1 + length >= bytes.size()) return fail("cut short");
            if (bytes[colon + 1 + length] != '\n') return fail("a text not ended by its line");
            std::string value(bytes.substr(colon + 1, length));
            (key == "exceptionName" ? report.exceptionName : report.exceptionReason) =
                std::move(value);
            pos = colon + 1 + length + 1;
            continue;
        }

        const size_t lineEnd = bytes.find('\n', pos);
        if (lineEnd == std::string_view::npos) return fail("cut short");
        const std::string_view value = bytes.substr(pos, lineEnd - pos);
        pos = lineEnd + 1;
        bool valid = true;
        if (key == "pid") {
            valid = parseNumber(value, &report.pid, 10) && report.pid > 0;
        } else if (key == "processStartMillis") {
            valid = parseNumber(value, &report.processStartMillis, 10) &&
                    report.processStartMillis >= 0;
        } else if (key == "signal") {
            valid = false;
            for (const auto& s : kSignals) valid = valid || value == s.name;
            report.signalName = value;
        } else if (key == "signalCode") {
            valid = parseNumber(value, &report.signalCode, 10);
        } else if (key == "address") {
            valid = parseHex(value, &report.address);
        } else if (key == "frame") {
            uint64_t frame = 0;
            valid = report.frames.size() < kMaxCrashFrames && parseHex(value, &frame);
            report.frames.push_back(frame);
        } else {
            return fail("unknown field " + std::string(key.substr(0, 64)));
        }
        if (!valid) return fail("field " + std::string(key) + " is malformed");
    }

    if (!seen.count("pid") || !seen.count("processStartMillis"))
        return fail("the process is not named");
    const int signalFields =
        int(seen.count("signal")) + int(seen.count("signalCode")) + int(seen.count("address"));
    const int exceptionFields =
        int(seen.count("exceptionName")) + int(seen.count("exceptionReason"));
    if (!(signalFields == 3 && exceptionFields == 0) &&
        !(signalFields == 0 && exceptionFields == 2))
        return fail("neither a whole signal nor a whole exception");
    report.hasExceptionInfo = exceptionFields == 2;
    // Only the writer's own form: no leading zeros, other order or upper-case digits.
    if (crashRecordText(report) != bytes) return fail("not in the form of a written report");
    report.bytes = bytes;
    return report;
}

}  // namespace platform
