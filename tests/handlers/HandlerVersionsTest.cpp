// The five version classes: their versions, their chain and their registration.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "libmerovane/handlers/MVCommandHandler_1_1.h"
#include "libmerovane/handlers/MVCommandHandler_2_0.h"
#include "libmerovane/handlers/MVCommandHandler_2_1.h"
#include "libmerovane/handlers/MVCommandHandler_3_0.h"
#include "platform/foundation/Exception.h"
#include "tests/handlers/TestCommands.h"
#include "tests/support/PlatformTest.h"

using nlohmann::json;

namespace {

class HandlerVersionsTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        performedCommands().clear();
        registerCommandHandlerClasses();
        registerTestCommands();
    }

    // The function each version's "shadowed" resolves to, or "unknown".
    static std::string resolve(int version, const char* command) {
        performedCommands().clear();
        MVErrorLogger::clearReports();
        auto handler = MVCommandHandler::sharedHandlerForVersion(version);
        if (!handler) return "no handler";
        MVCommandHandler::performCommandsFromCommandCollection(
            {{"ver", handler->commandHandlerVersion()},
             {"cmds", json::array({json{{"c", command}}})}},
            nullptr);
        if (performedCommands().empty()) return "unknown";
        return performedCommands()[0].command + "@" + performedCommands()[0].version;
    }
};

TEST_F(HandlerVersionsTest, EachClassServesItsVersion) {
    struct Case {
        int number;
        const char* version;
        const char* name;
    } cases[] = {{10, "1.0", "MVCommandHandler(v1.0)"},
                 {11, "1.1", "MVCommandHandler(v1.1)"},
                 {20, "2.0", "MVCommandHandler(v2.0)"},
                 {21, "2.1", "MVCommandHandler(v2.1)"},
                 {30, "3.0", "MVCommandHandler(v3.0)"}};
    for (const auto& c : cases) {
        auto handler = MVCommandHandler::sharedHandlerForVersion(c.number);
        ASSERT_TRUE(handler) << c.number;
        EXPECT_EQ(handler->commandHandlerVersion(), c.version);
        EXPECT_EQ(handler->name(), c.name);
    }
    EXPECT_TRUE(std::dynamic_pointer_cast<MVCommandHandler_2_0>(
        MVCommandHandler::sharedHandlerForVersion(30)));
    EXPECT_FALSE(std::dynamic_pointer_cast<MVCommandHandler_2_1>(
        MVCommandHandler::sharedHandlerForVersion(30)));
    EXPECT_TRUE(std::dynamic_pointer_cast<MVCommandHandler_1_0>(
        MVCommandHandler::sharedHandlerForVersion(21)));
}

TEST_F(HandlerVersionsTest, AnOverrideShadowsItsAncestorForItsDescendantsOnly) {
    EXPECT_EQ(resolve(10, "shadowed"), "shadowed(1.0)@1.0");
    EXPECT_EQ(resolve(11, "shadowed"), "shadowed(1.1)@1.1");
    EXPECT_EQ(resolve(20, "shadowed"), "shadowed(1.1)@2.0");
    EXPECT_EQ(resolve(21, "shadowed"), "shadowed(1.1)@2.1");
    EXPECT_EQ(resolve(30, "shadowed"), "shadowed(1.1)@3.0");
}

TEST_F(HandlerVersionsTest, ANewerCommandIsUnknownToOlderVersions) {
    EXPECT_EQ(resolve(10, "onlyIn2"), "unknown");
    EXPECT_EQ(resolve(11, "onlyIn2"), "unknown");
    EXPECT_EQ(resolve(20, "onlyIn2"), "onlyIn2@2.0");
    EXPECT_EQ(resolve(21, "onlyIn2"), "onlyIn2@2.1");
    EXPECT_EQ(resolve(30, "onlyIn2"), "onlyIn2@3.0");
}

TEST_F(HandlerVersionsTest, RegisteringAgainChangesNothing) {
    auto handler = MVCommandHandler::sharedHandlerForVersion(20);
    const size_t commands = MVCommandHandler_1_0::commandTable().size();
    registerCommandHandlerClasses();
    registerTestCommands();
    EXPECT_EQ(MVCommandHandler::sharedHandlerForVersion(20), handler);
    EXPECT_EQ(MVCommandHandler_1_0::commandTable().size(), commands);
    EXPECT_EQ(resolve(20, "echo"), "echo@2.0");
    EXPECT_EQ(loggedCount("MVCommandHandler v2.0 instanciated"), 1u);
}

TEST_F(HandlerVersionsTest, TheVersionClassesStartWithoutCommands) {
    // 2.1 defines no command of its own, and 3.0 only its share command of the groups
    // built so far
    EXPECT_EQ(MVCommandHandler_2_1::commandTable().size(), 0u);
    EXPECT_EQ(MVCommandHandler_3_0::commandTable().names(), std::vector<std::string>{"shareItem"});
}

TEST(HandlerRegistryTest, WithoutRegistrationNoVersionHasAHandler) {
    // registration is explicit; nothing registers itself behind our back
    EXPECT_EQ(MVCommandHandler::sharedHandlerForVersion(20), nullptr);
}

TEST(HandlerRegistryTest, ADefinitionWithoutFunctionIsAProgrammingError) {
    EXPECT_THROW(MVCommandHandler_1_0::commandTable().add("broken", {MVSpec{}, nullptr}),
                 platform::Exception);
}

}  // namespace
