#include <nlohmann/json.hpp>

#include "libmerovane/connection/MVApiConnectionVariable.h"
#include "libmerovane/connection/MVApiPacketBuilder.h"
#include "libmerovane/core/KeychainExtensions.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVKeychain.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Keychain.h"
#include "platform/ui/Application.h"
#include "tests/support/StorageFixture.h"

namespace {

using Variable = MVApiConnectionVariable;
using platform::Keychain;
using platform::KeychainStatus;

class ConnectionVariableTest : public StorageTest {
  protected:
    void SetUp() override {
        StorageTest::SetUp();
        home_->write("App/Info.json", R"({"CFBundleIdentifier":"com.example.shop"})");
        platform::Bundle::setMainBundlePathForTesting(home_->file("App"));
        // The groups are learnt once; failures injected later hit the items themselves.
        ASSERT_TRUE(libmerovanePrivateKeychain() && libmerovaneSharedKeychain());
    }
    void TearDown() override {
        Keychain::shared().injectFailure(std::nullopt);
        platform::Bundle::setMainBundlePathForTesting({});
        StorageTest::TearDown();
    }
    void add(const std::string& id, const std::optional<std::string>& value) {
        storage().lockedAccess([&] {
            auto v = Variable::dbObjectCreate();
            v->setId(id);
            if (value) v->setValue(value);
        });
    }
    std::optional<std::string> itemIn(const std::optional<std::string>& group,
                                      const std::string& account) {
        platform::KeychainItem item;
        if (Keychain::shared().copy({libmerovaneServiceName(), account, group}, &item) !=
            KeychainStatus::Success)
            return std::nullopt;
        return item.data;
    }
    double seconds() const { return static_cast<double>(platform::Clock::monotonicNanos()) / 1e9; }
};

TEST_F(ConnectionVariableTest,
       TheDeviceIdentifierLivesInTheSharedGroupOthersInThePrivateOneNoneInNeither) {
    add("did", "device-1");
    add("sid", "session-1");
    EXPECT_EQ(itemIn(accessGroupShared(), "mv-connection-var:did"), "device-1");
    EXPECT_EQ(itemIn(accessGroupPrivate(), "mv-connection-var:did"), std::nullopt);
    EXPECT_EQ(itemIn(accessGroupPrivate(), "mv-connection-var:sid"), "session-1");
    EXPECT_EQ(itemIn(accessGroupShared(), "mv-connection-var:sid"), std::nullopt);
    storage().lockedAccess([&] {
        EXPECT_EQ(Variable::dbObjectWithID("did")->value(), "device-1");
        EXPECT_EQ(Variable::dbObjectWithID("sid")->value(), "session-1");
        // Setting none removes the item.
        Variable::dbObjectWithID("sid")->setValue(std::nullopt);
        EXPECT_EQ(Variable::dbObjectWithID("sid")->value(), std::nullopt);
    });
    EXPECT_EQ(itemIn(accessGroupPrivate(), "mv-connection-var:sid"), std::nullopt);
}

TEST_F(ConnectionVariableTest, AnUnsetVariableReadsAsNoneAtOnceAndKeepsItsRow) {
    add("autologinKey", std::nullopt);
    const double before = seconds();
    storage().lockedAccess(
        [&] { EXPECT_EQ(Variable::dbObjectWithID("autologinKey")->value(), std::nullopt); });
    EXPECT_EQ(seconds(), before);  // no retries
    storage().lockedAccess([&] { EXPECT_NE(Variable::dbObjectWithID("autologinKey"), nullptr); });
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

TEST_F(ConnectionVariableTest, AReadThatFailsForTwoSecondsDeletesTheRowAndReports) {
    const struct {
        const char* name;
        std::function<void()> state;
        const char* word;
    } states[] = {
        {"inactive", [] {}, "inactive"},
        {"foreground", [] { platform::Application::shared().becomeActive(); }, "active"},
        {"background", [] { platform::Application::shared().enterBackground(); }, "inactive"},
    };
    for (auto& s : states) {
        SCOPED_TRACE(s.name);
        MVErrorLogger::clearReports();
        add("sid", "session-1");
        s.state();
        Keychain::shared().injectFailure(KeychainStatus::Failure);
        const double before = seconds();
        storage().lockedAccess(
            [&] { EXPECT_EQ(Variable::dbObjectWithID("sid")->value(), std::nullopt); });
        Keychain::shared().injectFailure(std::nullopt);
        EXPECT_GE(seconds() - before, 2.0);
        EXPECT_LT(seconds() - before, 2.01);
        const auto reports = MVErrorLogger::reports();
        ASSERT_EQ(reports.size(), 1u);
        const std::string prefix =
            std::string("Could not read MVApiConnectionVariable<sid> from the keychain. ") +
            "ApplicationState: " + s.word +
            " Error: Error Domain=NSOSStatusErrorDomain Code=-25291";
        EXPECT_EQ(reports[0].description.substr(0, prefix.size()), prefix);
        EXPECT_EQ(*reports[0].data, "sid");
        EXPECT_TRUE(logged(prefix));
        storage().lockedAccess([&] { EXPECT_EQ(Variable::dbObjectWithID("sid"), nullptr); });
        // The item itself stays; only the row is gone until the server sets it again.
        EXPECT_EQ(itemIn(accessGroupPrivate(), "mv-connection-var:sid"), "session-1");
    }
}

TEST_F(ConnectionVariableTest, AWriteThatFailsForTwoSecondsReportsAndKeepsTheRow) {
    add("sid", std::nullopt);
    Keychain::shared().injectFailure(KeychainStatus::InteractionNotAllowed);
    const double before = seconds();
    storage().lockedAccess([&] { Variable::dbObjectWithID("sid")->setValue("session-2"); });
    Keychain::shared().injectFailure(std::nullopt);
    EXPECT_GE(seconds() - before, 2.0);
    const auto reports = MVErrorLogger::reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].description.rfind("Could not write MVApiConnectionVariable<sid> to the "
                                           "keychain. ApplicationState: inactive Error: "
                                           "Error Domain=NSOSStatusErrorDomain Code=-25308",
                                           0),
              0u);
    storage().lockedAccess([&] { EXPECT_NE(Variable::dbObjectWithID("sid"), nullptr); });
}

TEST_F(ConnectionVariableTest, AFailureThatPassesWithinTheRetryTimeIsNotReported) {
    add("sid", "session-1");
    Keychain::shared().injectFailure(KeychainStatus::InteractionNotAllowed, 25);
    const double before = seconds();
    storage().lockedAccess([&] {
        EXPECT_EQ(Variable::dbObjectWithID("sid")->value(), "session-1");
        Keychain::shared().injectFailure(KeychainStatus::Failure, 3);
        Variable::dbObjectWithID("sid")->setValue("session-2");
        EXPECT_EQ(Variable::dbObjectWithID("sid")->value(), "session-2");
    });
    EXPECT_NEAR(seconds() - before, 0.028, 1e-9);  // one millisecond per failed try
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

// The "vars" of upstream packets: every variable without a context that has a value.
TEST_F(ConnectionVariableTest, OnlyVariablesWithoutContextAndWithAValueTravelInPackets) {
    EXPECT_EQ(MVApiPacketBuilder::connectionVariables(), nlohmann::json::object());
    add("did", "device-1");
    add("sid", "session-1");
    add("unset", std::nullopt);
    storage().lockedAccess([&] {
        auto v = Variable::dbObjectCreate();
        v->setId("autologinKey");
        v->setContext(Variable::kInternalContext);
        v->setValue("secret");
    });
    EXPECT_EQ(MVApiPacketBuilder::connectionVariables(),
              (nlohmann::json{{"did", "device-1"}, {"sid", "session-1"}}));
}

}  // namespace
