#include <gtest/gtest.h>

#include "libmerovane/core/KeychainExtensions.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Keychain.h"
#include "tests/support/TempDir.h"

using platform::Keychain;
using platform::KeychainStatus;

namespace {
class KeychainExtensionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        home_.write("App/Info.json", R"({"CFBundleIdentifier":"com.example.shop"})");
        platform::Bundle::setMainBundlePathForTesting(home_.file("App"));
    }
    void TearDown() override { platform::Bundle::setMainBundlePathForTesting({}); }
    TempDir home_;
};
}  // namespace

TEST_F(KeychainExtensionsTest, NamesComeFromTheBundleAndTheInstallationsSeed) {
    EXPECT_EQ(libmerovaneServiceName(), "com.example.shop.libmerovane");
    const std::string group = Keychain::shared().defaultAccessGroup();
    ASSERT_FALSE(group.empty());
    const std::string seed = group.substr(0, group.find('.'));
    EXPECT_EQ(appKeychainGroup(), group);
    EXPECT_EQ(bundleSeedID(), seed);
    EXPECT_EQ(accessGroupPrivate(), seed + ".com.example.shop");
    EXPECT_EQ(accessGroupShared(), seed + ".com.merovane.shared");
    // The seed's own item stays, found again on the next lookup.
    platform::KeychainItem item;
    EXPECT_EQ(Keychain::shared().copy({"com.example.shop.libmerovane", "bundleSeedID", {}}, &item),
              KeychainStatus::Success);
    EXPECT_EQ(appKeychainGroup(), group);
}

TEST_F(KeychainExtensionsTest, AnUnavailableKeychainIsNotRememberedAsNoSeed) {
    Keychain::shared().injectFailure(KeychainStatus::InteractionNotAllowed, 1);
    EXPECT_EQ(bundleSeedID(), std::nullopt);
    Keychain::shared().injectFailure(KeychainStatus::InteractionNotAllowed, 1);
    EXPECT_EQ(libmerovanePrivateKeychain(), std::nullopt);
    // Once the keychain answers, the groups are there.
    auto keychain = libmerovanePrivateKeychain();
    ASSERT_TRUE(keychain);
    EXPECT_EQ(keychain->accessGroup(), accessGroupPrivate());
    EXPECT_EQ(keychain->service(), "com.example.shop.libmerovane");
    EXPECT_EQ(keychain->accessibility(),
              platform::kKeychainAccessibleAfterFirstUnlockThisDeviceOnly);
}

TEST_F(KeychainExtensionsTest, ValuesAreStoredPerGroupReplacedAndRemoved) {
    auto privateKeychain = libmerovanePrivateKeychain();
    auto sharedKeychain = libmerovaneSharedKeychain();
    ASSERT_TRUE(privateKeychain && sharedKeychain);
    EXPECT_EQ(privateKeychain->objectForKey("mv-connection-var:sid"), std::nullopt);
    EXPECT_TRUE(privateKeychain->setObject("one", "mv-connection-var:sid"));
    EXPECT_TRUE(privateKeychain->setObject("two", "mv-connection-var:sid"));
    EXPECT_EQ(privateKeychain->objectForKey("mv-connection-var:sid"), "two");
    EXPECT_EQ(sharedKeychain->objectForKey("mv-connection-var:sid"), std::nullopt);
    EXPECT_TRUE(sharedKeychain->setObject("device", "mv-connection-var:did"));
    EXPECT_EQ(sharedKeychain->objectForKey("mv-connection-var:did"), "device");

    platform::KeychainItem item;
    ASSERT_EQ(Keychain::shared().copy({{}, "mv-connection-var:did", {}}, &item),
              KeychainStatus::Success);
    EXPECT_EQ(item.accessGroup, accessGroupShared());
    EXPECT_EQ(item.accessibility, platform::kKeychainAccessibleAfterFirstUnlockThisDeviceOnly);

    EXPECT_TRUE(privateKeychain->setObject(std::nullopt, "mv-connection-var:sid"));
    EXPECT_EQ(privateKeychain->objectForKey("mv-connection-var:sid"), std::nullopt);
    EXPECT_TRUE(
        privateKeychain->removeObjectForKey("mv-connection-var:sid"));  // gone already: fine
}

TEST_F(KeychainExtensionsTest, FailuresAreErrorsAndAMissingItemIsNot) {
    auto keychain = libmerovanePrivateKeychain();
    ASSERT_TRUE(keychain);
    platform::Error error;
    EXPECT_EQ(keychain->objectForKey("absent", &error), std::nullopt);
    EXPECT_TRUE(error.domain().empty());

    Keychain::shared().injectFailure(KeychainStatus::Failure);
    EXPECT_FALSE(keychain->setObject("v", "k", &error));
    EXPECT_EQ(error.domain(), kKeychainErrorDomain);
    EXPECT_EQ(error.code(), kKeychainErrorFailure);
    error = platform::Error();
    EXPECT_EQ(keychain->objectForKey("k", &error), std::nullopt);
    EXPECT_EQ(error.code(), kKeychainErrorFailure);
    EXPECT_FALSE(keychain->removeObjectForKey("k"));  // no error pointer: nothing written
    Keychain::shared().injectFailure(KeychainStatus::InteractionNotAllowed);
    EXPECT_FALSE(keychain->setObject("v", "k", &error));
    EXPECT_EQ(error.code(), kKeychainErrorInteractionNotAllowed);
    Keychain::shared().injectFailure(std::nullopt);
    EXPECT_TRUE(keychain->setObject("v", "k"));
}
