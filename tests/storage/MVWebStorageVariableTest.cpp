#include "libmerovane/storage/MVWebStorageVariable.h"
#include "platform/foundation/TestDriver.h"
#include "tests/storage/StorageTestData.h"
#include "tests/support/StorageFixture.h"

namespace {

class WebStorageCleanupTest : public StorageTest {
  protected:
    void add(const std::string& id, std::optional<double> timeout, bool withDate = true) {
        storage().lockedAccess([&] {
            auto v = MVWebStorageVariable::dbObjectCreate();
            v->setId(id);
            v->setTimeoutInterval(timeout);
            if (withDate) v->setCreationDate(platform::Date::now());
        });
    }
    bool has(const std::string& id) {
        bool found = false;
        storage().lockedAccess(
            [&] { found = MVWebStorageVariable::dbObjectWithID(id) != nullptr; });
        return found;
    }
};

TEST_F(WebStorageCleanupTest, AnEntryIsKeptAtExactlyItsLifetimeAndRemovedAfter) {
    add("sixty", 60);
    add("forever", 0);
    add("negative", -5);
    add("no-lifetime", std::nullopt);
    add("no-date", 1, false);
    platform::advanceBy(60);
    MVWebStorageVariable::cleanup();
    EXPECT_TRUE(has("sixty"));
    platform::advanceBy(0.001);
    MVWebStorageVariable::cleanup();
    EXPECT_FALSE(has("sixty"));
    platform::advanceBy(1e6);
    MVWebStorageVariable::cleanup();
    for (auto id : {"forever", "negative", "no-lifetime", "no-date"}) EXPECT_TRUE(has(id)) << id;
    ASSERT_TRUE(storage().waitUntilWrittenToDisc());
    EXPECT_EQ(rawCount(storePath(), "MVWebStorageVariable"), 4);
}

TEST_F(WebStorageCleanupTest, CleanupInsideALockedAccessJoinsIt) {
    add("old", 1);
    platform::advanceBy(2);
    storage().lockedAccess([&] {
        MVWebStorageVariable::cleanup();
        EXPECT_EQ(MVWebStorageVariable::dbObjectWithID("old"), nullptr);
    });
    EXPECT_FALSE(has("old"));
}

}  // namespace
