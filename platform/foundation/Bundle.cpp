#include "platform/foundation/Bundle.h"

#include <sys/stat.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <vector>

#include "platform/foundation/FileManager.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/UserDefaults.h"

namespace platform {

namespace {

constexpr const char* kInfoFile = "Info.json";
constexpr const char* kDefaultTable = "Localizable";

std::string defaultMainBundlePath() {
    if (const char* env = std::getenv("MEROVANE_BUNDLE"); env && *env) return env;
    std::string exe = FileManager::executablePath();
    auto slash = exe.find_last_of('/');
    return (slash == std::string::npos ? std::string(".") : exe.substr(0, slash)) + "/Bundle";
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// Folders to search below a bundle's folder, in order.
std::vector<std::string> localizationFolders() {
    std::vector<std::string> folders{""};
    auto add = [&](const std::string& language) {
        if (language.empty()) return;
        std::string folder = language + ".lproj";
        for (const auto& f : folders)
            if (f == folder) return;
        folders.push_back(std::move(folder));
    };
    if (auto languages = UserDefaults::standard().objectForKey("AppleLanguages");
        languages && languages->is_array()) {
        for (const auto& l : *languages) {
            auto language = json::stringValue(l);
            if (!language) continue;
            // A value from the defaults file becomes a folder name.
            if (!FileManager::isSafePathComponent(*language)) {
                PLATFORM_LOG_WARN("Preferred language \"{}\" cannot name a folder; skipped",
                                  log::escaped(*language));
                continue;
            }
            add(*language);
            if (language->size() > 2) add(language->substr(0, 2));
        }
    }
    add("en");
    add("Base");
    return folders;
}

// Reads a string table text; every error names the line.
class StringsParser {
  public:
    explicit StringsParser(std::string_view text) : text_(text) {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") text_.remove_prefix(3);
    }

    std::optional<std::map<std::string, std::string>> parse() {
        std::map<std::string, std::string> table;
        for (;;) {
            if (!skipSpaceAndComments()) return std::nullopt;
            if (atEnd()) return table;
            std::string key;
            if (!readString(key)) return std::nullopt;
            if (!skipSpaceAndComments()) return std::nullopt;
            if (peek() == ';') {
                ++pos_;
                table[key] = key;
                continue;
            }
            if (peek() != '=') return fail("expected '=' after a key");
            ++pos_;
            if (!skipSpaceAndComments()) return std::nullopt;
            std::string value;
            if (!readString(value)) return std::nullopt;
            if (!skipSpaceAndComments()) return std::nullopt;
            if (peek() != ';') return fail("expected ';' after a value");
            ++pos_;
            table[std::move(key)] = std::move(value);
        }
    }

  private:
    bool atEnd() const { return pos_ >= text_.size(); }
    char peek() const { return atEnd() ? '\0' : text_[pos_]; }

    size_t line() const {
        size_t n = 1;
        for (size_t i = 0; i < pos_ && i < text_.size(); ++i) n += text_[i] == '\n';
        return n;
    }

    std::nullopt_t fail(std::string_view what) {
        PLATFORM_LOG_ERROR("Malformed string table at line {}: {}", line(), what);
        return std::nullopt;
    }

    bool skipSpaceAndComments() {
        while (!atEnd()) {
            char c = text_[pos_];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
                ++pos_;
            } else if (text_.substr(pos_, 2) == "//") {
                auto end = text_.find('\n', pos_);
                pos_ = end == std::string_view::npos ? text_.size() : end + 1;
            } else if (text_.substr(pos_, 2) == "/*") {
                auto end = text_.find("*/", pos_ + 2);
                if (end == std::string_view::npos) {
                    fail("unterminated comment");
                    return false;
                }
                pos_ = end + 2;
            } else {
                break;
            }
        }
        return true;
    }

    static void appendUtf8(std::string& out, uint32_t cp) {
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | (cp >> 18));
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }

    // Four hex digits after "\u" at pos_; pos_ moves past them.
    std::optional<uint32_t> readHex4() {
        if (pos_ + 4 > text_.size()) return std::nullopt;
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            char c = text_[pos_ + i];
            int d = (c >= '0' && c <= '9')   ? c - '0'
                    : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                    : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                             : -1;
            if (d < 0) return std::nullopt;
            v = v * 16 + uint32_t(d);
        }
        pos_ += 4;
        return v;
    }

    bool readString(std::string& out) {
        if (peek() != '"') {
            fail("expected a quoted string");
            return false;
        }
        ++pos_;
        while (!atEnd()) {
            char c = text_[pos_++];
            if (c == '"') return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (atEnd()) break;
            char e = text_[pos_++];
            switch (e) {
                case 'n':
                    out += '\n';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 'u':
                case 'U': {
                    auto cp = readHex4();
                    if (!cp) {
                        fail("\\u needs four hexadecimal digits");
                        return false;
                    }
                    uint32_t code = *cp;
                    if (code >= 0xD800 && code < 0xDC00) {
                        // A high surrogate pairs with a following "\uDC00".."\uDFFF".
                        size_t save = pos_;
                        std::optional<uint32_t> low;
                        if (text_.substr(pos_, 2) == "\\u" || text_.substr(pos_, 2) == "\\U") {
                            pos_ += 2;
                            low = readHex4();
                        }
                        if (low && *low >= 0xDC00 && *low < 0xE000) {
                            code = 0x10000 + ((code - 0xD800) << 10) + (*low - 0xDC00);
                        } else {
                            pos_ = save;
                            code = 0xFFFD;
                        }
                    } else if (code >= 0xDC00 && code < 0xE000) {
                        code = 0xFFFD;
                    }
                    appendUtf8(out, code);
                    break;
                }
                default:
                    out += e;
                    break;  // \" \\ \' and any other character as itself
            }
        }
        fail("unterminated string");
        return false;
    }

    std::string_view text_;
    size_t pos_ = 0;
};

}  // namespace

struct Bundle::State {
    std::string path;
    bool infoLoaded = false;
    nlohmann::json info = nlohmann::json::object();
    std::map<std::string, std::map<std::string, std::string>, std::less<>> tables;
};

Bundle& Bundle::main() {
    static auto* bundle = [] {
        auto* b = new Bundle(defaultMainBundlePath());
        registerSharedInstanceReset("Bundle.main", [b] { b->load(defaultMainBundlePath()); });
        return b;
    }();
    return *bundle;
}

std::shared_ptr<Bundle> Bundle::bundleAtPath(const std::string& path) {
    if (!isDirectory(path)) return nullptr;
    return std::make_shared<Bundle>(path);
}

Bundle::Bundle(std::string path) {
    load(std::move(path));
}
Bundle::~Bundle() = default;

void Bundle::load(std::string path) {
    auto state = std::make_unique<State>();
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    state->path = std::move(path);
    std::lock_guard lock(mutex_);
    state_ = std::move(state);
}

std::string Bundle::path() const {
    std::lock_guard lock(mutex_);
    return state_->path;
}

std::optional<nlohmann::json> Bundle::objectForInfoDictionaryKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    // Read on first use, so that bundles without information (language folders) stay quiet.
    if (!state_->infoLoaded) {
        state_->infoLoaded = true;
        const std::string file = state_->path + "/" + kInfoFile;
        Error error;
        auto text = FileManager::defaultManager().readFile(file, &error);
        if (!text) {
            PLATFORM_LOG_WARN("Bundle {} has no {}: {}", state_->path, kInfoFile,
                              error.localizedDescription());
        } else if (auto parsed = json::parse(*text); !parsed.ok() || !parsed.value.is_object()) {
            PLATFORM_LOG_ERROR("Bundle {}: {} is not a JSON object: {}", state_->path, kInfoFile,
                               parsed.ok() ? "not an object" : parsed.error);
        } else {
            state_->info = std::move(parsed.value);
        }
    }
    const nlohmann::json* value = json::find(state_->info, key);
    if (!value) return std::nullopt;
    return *value;
}

std::string Bundle::bundleIdentifier() const {
    auto value = objectForInfoDictionaryKey("CFBundleIdentifier");
    return value ? json::stringValue(*value).value_or("") : "";
}

std::optional<std::string> Bundle::pathForResource(std::string_view name, std::string_view type,
                                                   std::string_view subdirectory) const {
    std::string base = path();
    if (!subdirectory.empty()) base += "/" + std::string(subdirectory);
    std::string file(name);
    if (!type.empty()) file += "." + std::string(type);
    for (const auto& folder : localizationFolders()) {
        std::string candidate =
            folder.empty() ? base + "/" + file : base + "/" + folder + "/" + file;
        if (exists(candidate)) return candidate;
    }
    return std::nullopt;
}

std::string Bundle::localizedString(std::string_view key, std::string_view value,
                                    std::string_view table) const {
    if (table.empty()) table = kDefaultTable;
    auto fallback = [&] { return std::string(value.empty() ? key : value); };
    {
        std::lock_guard lock(mutex_);
        if (auto it = state_->tables.find(table); it != state_->tables.end()) {
            auto entry = it->second.find(std::string(key));
            return entry == it->second.end() ? fallback() : entry->second;
        }
    }
    // Loaded without the lock: finding the file reads the user defaults.
    std::map<std::string, std::string> entries;
    if (auto file = pathForResource(table, "strings")) {
        if (auto text = FileManager::defaultManager().readFile(*file)) {
            if (auto parsed = parseStringsFile(*text))
                entries = std::move(*parsed);
            else
                PLATFORM_LOG_ERROR("The string table {} could not be read", *file);
        }
    }
    std::lock_guard lock(mutex_);
    auto& cached = state_->tables.try_emplace(std::string(table), std::move(entries)).first->second;
    auto entry = cached.find(std::string(key));
    return entry == cached.end() ? fallback() : entry->second;
}

std::optional<std::map<std::string, std::string>> Bundle::parseStringsFile(std::string_view text) {
    return StringsParser(text).parse();
}

void Bundle::setMainBundlePathForTesting(std::string path) {
    main().load(path.empty() ? defaultMainBundlePath() : std::move(path));
}

}  // namespace platform
