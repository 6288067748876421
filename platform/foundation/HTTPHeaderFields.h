#pragma once
// HTTP header fields in the order they were given, looked up without regard to case.
//
//   platform::HTTPHeaderFields h;
//   h.set("Content-Type", "text/html");
//   h.value("content-type");   // "text/html"
//   h.add("Set-Cookie", "a=1");
//   h.add("Set-Cookie", "b=2");
//   h.value("set-cookie");     // "a=1, b=2"; values("Set-Cookie") keeps them apart
//
// A plain value; not synchronised.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

class HTTPHeaderFields {
  public:
    using Entry = std::pair<std::string, std::string>;

    HTTPHeaderFields() = default;
    HTTPHeaderFields(std::initializer_list<Entry> entries);

    // Replaces every field of that name by one, at the place of the first.
    void set(std::string_view name, std::string value);
    // Appends a field, keeping earlier ones of the same name.
    void add(std::string_view name, std::string value);
    void remove(std::string_view name);

    // The values of every field of that name joined by ", ".
    std::optional<std::string> value(std::string_view name) const;
    std::vector<std::string> values(std::string_view name) const;
    bool contains(std::string_view name) const;

    const std::vector<Entry>& entries() const { return entries_; }
    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }

    bool operator==(const HTTPHeaderFields&) const = default;

    static bool namesEqual(std::string_view a, std::string_view b);

  private:
    std::vector<Entry> entries_;
};

}  // namespace platform
