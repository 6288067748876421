#pragma once
// A named value the server hands the application ("setVariable") or that the
// application keeps for itself (the autologin key). The row names the variable; its
// value lives in a keychain item "mv-connection-var:<id>" so that it survives a
// reinstallation: the device identifier "did" in the group the maker's applications
// share, every other variable in the application's own group. Variables without a
// context travel to the server in every upstream packet; "internal" ones stay here.
// Rows are found and made inside MVPersistentStorage::lockedAccess only.

#include "libmerovane/storage/MVPersistentObject.h"

class MVApiConnectionVariable : public MVPersistentEntity<MVApiConnectionVariable> {
public:
    static const MVEntityDescription& entityDescription();

    std::optional<std::string> id() const { return textAt(kId); }
    void setId(std::optional<std::string> v) { setAt(kId, v ? MVStoredValue(*v) : MVStoredValue()); }
    // None: sent to the server; "internal": kept on the device.
    std::optional<std::string> context() const { return textAt(kContext); }
    void setContext(std::optional<std::string> v) { setAt(kContext, v ? MVStoredValue(*v) : MVStoredValue()); }

private:
    enum Attribute : int { kId, kContext };
    MVApiConnectionVariable() = default;
    static std::shared_ptr<MVPersistentObject> make();
};
