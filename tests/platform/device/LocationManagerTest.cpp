#include <gtest/gtest.h>

#include "platform/device/LocationManager.h"
#include "platform/foundation/TestDriver.h"
#include "tests/support/PlatformTest.h"

using platform::LocationManager;

namespace {

using LocationManagerTest = PlatformTest;

class LocationRecordingDelegate : public platform::LocationManagerDelegate {
  public:
    void locationManagerDidChangeAuthorizationStatus(LocationManager&, int status) override {
        calls.push_back("status " + std::to_string(status));
    }
    void locationManagerDidUpdateLocations(
        LocationManager&, const std::vector<platform::Location>& locations) override {
        calls.push_back("fix " + std::to_string(locations.back().horizontalAccuracy));
    }
    void locationManagerDidFailWithError(LocationManager&, const platform::Error& error) override {
        calls.push_back("error " + std::to_string(error.code()));
    }
    std::vector<std::string> calls;
};

TEST_F(LocationManagerTest, StatusReachesTheDelegatesAtTheNextTurn) {
    EXPECT_EQ(LocationManager::authorizationStatus(),
              LocationManager::AuthorizationStatus::NotDetermined);
    auto delegate = std::make_shared<LocationRecordingDelegate>();
    auto manager = LocationManager::create();
    manager->setDelegate(delegate);
    EXPECT_TRUE(delegate->calls.empty());
    platform::runUntilIdle();
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"status 0"}));

    manager->requestWhenInUseAuthorization();
    EXPECT_EQ(manager->whenInUseAuthorizationRequests(), 1);
    LocationManager::setAuthorizationStatus(LocationManager::AuthorizationStatus::Denied);
    LocationManager::setAuthorizationStatus(LocationManager::AuthorizationStatus::Denied);
    EXPECT_EQ(LocationManager::authorizationStatus(), LocationManager::AuthorizationStatus::Denied);
    EXPECT_EQ(delegate->calls.size(), 1u);
    platform::runUntilIdle();
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"status 0", "status 2", "status 2"}));
}

TEST_F(LocationManagerTest, FixesAndFailuresReachOnlyManagersThatUpdate) {
    auto delegate = std::make_shared<LocationRecordingDelegate>();
    auto manager = LocationManager::create();
    EXPECT_EQ(manager->desiredAccuracy(), 9223372036854775808.0);
    manager->setDelegate(delegate);
    platform::runUntilIdle();
    delegate->calls.clear();
    LocationManager::deliverLocationsForTesting({{1, 2, 30, 40}});
    platform::runUntilIdle();
    EXPECT_TRUE(delegate->calls.empty());
    manager->startUpdatingLocation();
    LocationManager::deliverLocationsForTesting({{1, 2, 30, 40}, {1, 2, 7, 40}});
    LocationManager::failWithErrorForTesting(platform::Error("kCLErrorDomain", 1));
    platform::runUntilIdle();
    EXPECT_EQ(delegate->calls, (std::vector<std::string>{"fix 7.000000", "error 1"}));
    manager->stopUpdatingLocation();
    EXPECT_FALSE(manager->isUpdatingLocation());
    manager.reset();
    EXPECT_TRUE(LocationManager::managersForTesting().empty());
}

}  // namespace
