#pragma once
// A stored web storage entry of a page: its key, value, creation date and lifetime.
// cleanup() removes the entries whose lifetime has passed. Access inside
// MVPersistentStorage::lockedAccess only.

#include "libmerovane/storage/MVPersistentObject.h"

class MVWebStorageVariable : public MVPersistentEntity<MVWebStorageVariable> {
  public:
    static const MVEntityDescription& entityDescription();

    std::optional<std::string> id() const { return textAt(kId); }
    void setId(std::optional<std::string> v) {
        setAt(kId, v ? MVStoredValue(*v) : MVStoredValue());
    }
    std::optional<platform::Date> creationDate() const { return dateAt(kCreationDate); }
    void setCreationDate(std::optional<platform::Date> v) {
        setAt(kCreationDate, v ? MVStoredValue(v->timeIntervalSince1970()) : MVStoredValue());
    }
    // Seconds; 0 or less: no expiry.
    std::optional<double> timeoutInterval() const { return realAt(kTimeoutInterval); }
    void setTimeoutInterval(std::optional<double> v) {
        setAt(kTimeoutInterval, v ? MVStoredValue(*v) : MVStoredValue());
    }
    // The stored value, any JSON value; null when none.
    std::shared_ptr<const nlohmann::json> dataValue() const { return jsonAt(kDataValue); }
    void setDataValue(const nlohmann::json* v) {
        setAt(kDataValue, v ? MVStoredValue::json(*v) : MVStoredValue());
    }

    // Deletes, in a locked access of its own, every entry older than its positive
    // lifetime (an entry exactly as old as its lifetime stays).
    static void cleanup();

  private:
    enum Attribute : int { kId, kCreationDate, kTimeoutInterval, kDataValue };
    MVWebStorageVariable() = default;
    static std::shared_ptr<MVPersistentObject> make();
};
