// The "vars" of upstream packets: every connection variable without a context that has
// a value, read from storage and the keychain.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "libmerovane/connection/MVApiConnectionVariable.h"
#include "libmerovane/connection/MVApiPacketBuilder.h"
#include "libmerovane/core/KeychainExtensions.h"
#include "platform/foundation/Bundle.h"
#include "tests/support/StorageFixture.h"

namespace {

class MVApiPacketVariablesTest : public StorageTest {
  protected:
    void SetUp() override {
        StorageTest::SetUp();
        home_->write("App/Info.json", R"({"CFBundleIdentifier":"com.example.shop"})");
        platform::Bundle::setMainBundlePathForTesting(home_->file("App"));
        ASSERT_TRUE(libmerovanePrivateKeychain() && libmerovaneSharedKeychain());
    }
    void TearDown() override {
        platform::Bundle::setMainBundlePathForTesting({});
        StorageTest::TearDown();
    }
    void add(const std::string& id, const std::optional<std::string>& context,
             const std::optional<std::string>& value) {
        storage().lockedAccess([&] {
            auto v = MVApiConnectionVariable::dbObjectCreate();
            v->setId(id);
            v->setContext(context);
            if (value) v->setValue(value);
        });
    }
};

TEST_F(MVApiPacketVariablesTest, OnlyVariablesWithoutContextAndWithAValueTravel) {
    add("did", std::nullopt, "device-1");
    add("sid", std::nullopt, "session-1");
    add("autologinKey", MVApiConnectionVariable::kInternalContext, "secret");
    add("unset", std::nullopt, std::nullopt);
    EXPECT_EQ(MVApiPacketBuilder::connectionVariables(),
              (nlohmann::json{{"did", "device-1"}, {"sid", "session-1"}}));
}

TEST_F(MVApiPacketVariablesTest, NoVariablesSendAnEmptyMap) {
    EXPECT_EQ(MVApiPacketBuilder::connectionVariables(), nlohmann::json::object());
}

}  // namespace
