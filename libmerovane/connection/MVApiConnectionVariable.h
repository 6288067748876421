#pragma once
// A named value the server hands the application ("setVariable") or that the
// application keeps for itself (the autologin key). The row names the variable; its
// value lives in a keychain item "mv-connection-var:<id>" so that it survives a
// reinstallation: the device identifier "did" in the group the maker's applications
// share, every other variable in the application's own group. Variables without a
// context travel to the server in every upstream packet; "internal" ones stay here.
//
//   MVPersistentStorage::sharedStorage().lockedAccess([] {
//       auto v = MVApiConnectionVariable::dbObjectWithID("did");
//       if (v) use(v->value());
//   });
//
// Rows are found and made inside locked access only. value() and setValue() block the
// calling thread while the keychain fails, retrying every millisecond for up to 2 s;
// then they log and report the failure, and a read that still fails deletes the row.
// A missing keychain item is no failure: it reads as none at once.

#include "libmerovane/storage/MVPersistentObject.h"

class MVKeychain;

class MVApiConnectionVariable : public MVPersistentEntity<MVApiConnectionVariable> {
  public:
    static constexpr const char* kInternalContext = "internal";
    static constexpr double kKeychainRetryInterval = 0.001;
    static constexpr double kKeychainRetryDuration = 2.0;

    static const MVEntityDescription& entityDescription();

    std::optional<std::string> id() const { return textAt(kId); }
    void setId(std::optional<std::string> v) {
        setAt(kId, v ? MVStoredValue(*v) : MVStoredValue());
    }
    // None: sent to the server; "internal": kept on the device.
    std::optional<std::string> context() const { return textAt(kContext); }
    void setContext(std::optional<std::string> v) {
        setAt(kContext, v ? MVStoredValue(*v) : MVStoredValue());
    }

    // The value in the keychain; none when unset or unreadable.
    std::optional<std::string> value();
    // Writes the value to the keychain; none removes the item.
    void setValue(const std::optional<std::string>& value);

    // The keychain of this variable: shared for "did", private otherwise; none while the
    // platform's keychain cannot name the groups.
    std::optional<MVKeychain> keychain() const;
    // "mv-connection-var:<id>".
    std::string keychainIdentifier() const;
    // Whether a variable of this name lives in the shared group.
    static bool isShared(const std::string& id);

  private:
    enum Attribute : int { kId, kContext };
    MVApiConnectionVariable() = default;
    static std::shared_ptr<MVPersistentObject> make();
    std::string failureText(const char* action, const std::string& error) const;
};
