#pragma once
// The base of the wallet's value objects, and the rules they share.
//
// Equality: an object equals itself; never none, never an object of another class
// (a subclass included); otherwise its fields decide. Two object fields are equal when
// both are none, the same object, or equal by the receiver's isEqual.
//
// Hash: start with 1; for each field, multiply by 31 and add the field's part, in
// unsigned 64-bit arithmetic that wraps around. The part of an object is its hash (0 for
// none), of a boolean 1231 or 1237, of an integer the integer itself, of a list its
// element count. A text's or a byte string's hash is 64-bit FNV-1a over its bytes
// (offset basis 14695981039346656037, prime 1099511628211), 0 for none.
//
// Description: a dictionary from description keys to values, printed with its keys in
// ascending order, four spaces per level, texts quoted when they hold anything but
// letters, digits and "_$.:/", "<nil>" for an absent value and 1 or 0 for a boolean.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "wallet/TWAKeyedArchive.h"
#include "wallet/TWALog.h"

class TWAObject {
  public:
    virtual ~TWAObject() = default;

    virtual bool isEqual(const TWAObject* other) const = 0;
    virtual uint64_t hash() const = 0;
    // The locale is accepted for the platform's signature; nothing here depends on it.
    virtual std::string descriptionWithLocale(const std::optional<std::string>& locale,
                                              unsigned indent) const = 0;
    std::string description() const { return descriptionWithLocale(std::nullopt, 0); }

  protected:
    // True when `other` is an object of exactly this object's class (and not this one).
    bool isSameClass(const TWAObject* other) const {
        return other && typeid(*other) == typeid(*this);
    }
};

// Hash parts.
uint64_t TWAHashBytes(std::string_view bytes);
inline uint64_t TWAHashOf(const TWAText& text) {
    return text ? TWAHashBytes(*text) : 0;
}
inline uint64_t TWAHashOf(const std::optional<TWAData>& data) {
    return data ? TWAHashBytes({reinterpret_cast<const char*>(data->data()), data->size()}) : 0;
}
inline uint64_t TWAHashOf(bool value) {
    return value ? 1231 : 1237;
}
inline uint64_t TWAHashOf(int64_t value) {
    return static_cast<uint64_t>(value);
}
inline uint64_t TWAHashOf(int32_t value) {
    return static_cast<uint64_t>(int64_t{value});
}
template <class T>
uint64_t TWAHashOf(const std::shared_ptr<T>& object) {
    return object ? object->hash() : 0;
}
template <class T>
uint64_t TWAHashOf(const std::optional<std::vector<T>>& list) {
    return list ? list->size() : 0;
}

// The 31-based hash over fields.
class TWAHasher {
  public:
    template <class T>
    TWAHasher& add(const T& field) {
        value_ = value_ * 31 + TWAHashOf(field);
        return *this;
    }
    uint64_t value() const { return value_; }

  private:
    uint64_t value_ = 1;
};

// Field equality.
inline bool TWAEqual(const TWAText& a, const TWAText& b) {
    return a == b;
}
inline bool TWAEqual(const std::optional<TWAData>& a, const std::optional<TWAData>& b) {
    return a == b;
}
template <class T>
bool TWAEqual(const std::shared_ptr<T>& a, const std::shared_ptr<T>& b) {
    if (a == b) return true;
    return a && a->isEqual(b.get());
}
template <class T>
bool TWAEqual(const std::optional<std::vector<std::shared_ptr<T>>>& a,
              const std::optional<std::vector<std::shared_ptr<T>>>& b) {
    if (!a || !b) return !a && !b;
    if (a->size() != b->size()) return false;
    for (size_t i = 0; i < a->size(); ++i)
        if (!TWAEqual((*a)[i], (*b)[i])) return false;
    return true;
}
inline bool TWAEqual(const std::optional<std::vector<std::string>>& a,
                     const std::optional<std::vector<std::string>>& b) {
    return a == b;
}

// The dictionary a description prints.
class TWADescription {
  public:
    void set(const std::string& key, const TWAText& text);
    void set(const std::string& key, const char* text) { set(key, TWAText(text)); }
    void set(const std::string& key, bool value);
    void set(const std::string& key, int64_t value);
    void set(const std::string& key, const std::shared_ptr<const TWAObject>& object);
    void set(const std::string& key, const std::optional<std::vector<std::string>>& texts);
    template <class T>
    void set(const std::string& key, const std::optional<std::vector<std::shared_ptr<T>>>& list) {
        if (!list) return set(key, TWAText());
        Entry entry;
        entry.isList = true;
        for (const auto& item : *list) {
            Entry child;
            child.object = item;
            if (!item) child.leaf = quoted("<nil>");
            entry.items.push_back(std::move(child));
        }
        entries_[key] = std::move(entry);
    }

    std::string text(unsigned indent) const;

    // A text as a collection prints it: bare, or quoted with escapes.
    static std::string quoted(std::string_view text);

  private:
    struct Entry {
        std::string leaf;
        std::shared_ptr<const TWAObject> object;
        bool isList = false;
        std::vector<Entry> items;
    };
    static void render(const Entry& entry, unsigned level, std::string& out);
    std::map<std::string, Entry> entries_;
};

// Coding of lists.
TWAKeyedArchive::List TWAListOfTexts(const std::vector<std::string>& texts);
// Texts of a decoded list; elements of other types are left out with a log line.
std::vector<std::string> TWATextsOfList(const TWAKeyedArchive::List& list);

template <class T>
std::optional<TWAKeyedArchive::List> TWAListOfObjects(
    const std::optional<std::vector<std::shared_ptr<T>>>& objects) {
    if (!objects) return std::nullopt;
    TWAKeyedArchive::List list;
    for (const auto& object : *objects)
        if (object) list.push_back({object->archived()});
    return list;
}

// Objects decoded from the archives of a list; other elements are left out.
template <class T>
std::vector<std::shared_ptr<T>> TWAObjectsOfList(const TWAKeyedArchive::List& list) {
    std::vector<std::shared_ptr<T>> out;
    for (const auto& value : list) {
        auto* archive = std::get_if<TWAKeyedArchive::ArchivePtr>(&value.v);
        if (!archive || !*archive) {
            TWA_LOG("TWAKeyedArchive: list element that is no archive left out");
            continue;
        }
        if (auto object = T::createWithCoder(**archive)) out.push_back(std::move(object));
    }
    return out;
}

template <class T>
TWAKeyedArchive::ArchivePtr TWAArchiveOf(const std::shared_ptr<T>& object) {
    return object ? object->archived() : nullptr;
}

template <class T>
std::shared_ptr<T> TWADecodeObject(const TWAKeyedArchive& archive, const std::string& key) {
    auto nested = archive.decodeArchive(key);
    return nested ? T::createWithCoder(*nested) : nullptr;
}

template <class T>
TWAKeyedArchive::ArchivePtr TWAArchived(const T& object) {
    auto archive = std::make_shared<TWAKeyedArchive>();
    object.encodeWithCoder(*archive);
    return archive;
}
