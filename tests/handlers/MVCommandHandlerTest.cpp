// The dispatcher from command collection to command function, over the real version
// classes and a test command group.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "libmerovane/bridge/MVCommand.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/core/MVCommandTrace.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "libmerovane/handlers/MVNestedCommandList.h"
#include "platform/foundation/TestDriver.h"
#include "tests/handlers/TestCommands.h"
#include "tests/support/FakeWebView.h"
#include "tests/support/PlatformTest.h"

using nlohmann::json;

namespace {

class MVCommandHandlerTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        MVErrorLogger::clearReports();
        performedCommands().clear();
        registerCommandHandlerClasses();
        registerTestCommands();
    }

    static void perform(const char* collection,
                        const std::shared_ptr<MVWebViewInterface>& webView = nullptr) {
        MVCommandHandler::performCommandsFromCommandCollection(json::parse(collection), webView);
    }

    static std::vector<std::string> performed() {
        std::vector<std::string> names;
        for (const auto& p : performedCommands()) names.push_back(p.command + "@" + p.version);
        return names;
    }
};

TEST_F(MVCommandHandlerTest, VersionChoosesTheHandler) {
    perform(R"({"ver":"2.1","cmds":[{"c":"echo"}]})");
    perform(R"({"ver":"2.0","cmds":[{"c":"echo"}]})");
    perform(R"({"ver":"3.0","cmds":[{"c":"echo"}]})");
    perform(R"({"ver":"1.1","cmds":[{"c":"echo"}]})");
    perform(R"({"ver":"1.0","cmds":[{"c":"echo"}]})");
    EXPECT_EQ(performed(), (std::vector<std::string>{"echo@2.1", "echo@2.0", "echo@3.0", "echo@1.1",
                                                     "echo@1.0"}));
    EXPECT_TRUE(logged("MVCommandHandler v2.1 instanciated"));
    EXPECT_EQ(MVCommandHandler::sharedHandler()->commandHandlerVersion(), "2.1");
    EXPECT_EQ(MVCommandHandler::sharedHandlerForVersion(30),
              MVCommandHandler::sharedHandlerForVersion(30));
}

TEST_F(MVCommandHandlerTest, MissingVersionIsLoggedOnceAndDropped) {
    perform(R"({"ver":"0.9","cmds":[{"c":"echo"}]})");
    EXPECT_TRUE(logged("💔 MVCommandHandler v0.9 not found"));
    perform(R"({"ver":"4.0","cmds":[{"c":"echo"}]})");
    perform(R"({"ver":"4.0","cmds":[{"c":"echo"}]})");
    EXPECT_EQ(loggedCount("💔 MVCommandHandler v4.0 not found"), 1u);
    EXPECT_TRUE(performedCommands().empty());
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

TEST_F(MVCommandHandlerTest, VersionTextIsReadAsASinglePrecisionFloat) {
    struct Case {
        const char* text;
        int number;
    } cases[] = {
        {"1.0", 10},
        {"1.1", 11},
        {"2.0", 20},
        {"2.1", 21},
        {"3.0", 30},
        // the platform reads a leading number and ignores the rest
        {" 2.0x", 20},
        {"2", 20},
        {"abc", 0},
        {"", 0},
        {"0.9", 9},
        // not finite or out of range: no undefined conversion, a version without class
        {"NaN", 0},
        {"nan", 0},
        {"inf", 0},
        {"-inf", 0},
        {"1e40", 0},
        {"3e8", 0},
        {"-3", -30},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MVCommandHandler::versionNumberForString(c.text), c.number) << c.text;
}

TEST_F(MVCommandHandlerTest, OddVersionsFindNoHandler) {
    for (const char* version : {"NaN", "1e40", "-3"}) {
        perform((std::string(R"({"ver":")") + version + R"(","cmds":[{"c":"echo"}]})").c_str());
    }
    EXPECT_TRUE(logged("💔 MVCommandHandler v0.0 not found"));
    EXPECT_TRUE(logged("💔 MVCommandHandler v-3.0 not found"));
    EXPECT_TRUE(performedCommands().empty());
}

TEST_F(MVCommandHandlerTest, MalformedCollectionsAreLoggedAndReported) {
    struct Case {
        const char* collection;
        const char* validation;
    } cases[] = {
        {R"({"ver":2.0,"cmds":[]})", "/ver must be of type NSString"},
        {R"({"ver":"2.0"})", "/cmds is missing"},
        {R"({"ver":"2.0","cmds":{}})", "/cmds must be of type NSArray"},
    };
    for (const auto& c : cases) {
        MVErrorLogger::clearReports();
        auto webView = FakeWebView::create(1004, "Tab");
        perform(c.collection, webView);
        EXPECT_TRUE(
            logged(std::string("MVCommandHandler tried to handle malformed command collection "
                               "dictionary from MVWebView<1004:Tab>.\n==== VALIDATION ====\n") +
                   c.validation + "\n"))
            << c.collection;
        auto reports = MVErrorLogger::reports();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].description,
                  "MVCommandHandler tried to handle malformed command collection dictionary from "
                  "MVWebView<1004:Tab>");
        EXPECT_EQ(*reports[0].data, (json{{"commandCollection", json::parse(c.collection)},
                                          {"validation", c.validation},
                                          {"webView", "<1004:Tab>"}}));
    }
    EXPECT_TRUE(performedCommands().empty());
}

TEST_F(MVCommandHandlerTest, MalformedCollectionWithoutWebView) {
    MVCommandHandler::performCommandsFromCommandCollection(json(), nullptr);
    MVCommandHandler::performCommandsFromCommandCollection(json::array({1}), nullptr);
    auto reports = MVErrorLogger::reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].description,
              "MVCommandHandler tried to handle malformed command collection dictionary");
    EXPECT_EQ((*reports[0].data)["commandCollection"], "");
    EXPECT_EQ((*reports[0].data)["webView"], "");
    EXPECT_EQ((*reports[1].data)["commandCollection"], json::array({1}));
}

TEST_F(MVCommandHandlerTest, EmptyCommandListIsValidAndDoesNothing) {
    perform(R"({"ver":"2.0","cmds":[]})");
    EXPECT_TRUE(performedCommands().empty());
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

TEST_F(MVCommandHandlerTest, UnknownCommandIsReportedAndTheNextStillRuns) {
    perform(R"({"ver":"1.0","cmds":[{"c":"onlyIn2"},{"c":"echo"}]})");
    EXPECT_TRUE(logged("MVCommandHandler(v1.0) unknown command: onlyIn2 (specification missing)"));
    auto reports = MVErrorLogger::reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].description, "MVCommandHandler(v1.0) unknown command.");
    EXPECT_EQ(*reports[0].data, json("onlyIn2"));
    EXPECT_EQ(performed(), (std::vector<std::string>{"echo@1.0"}));
    perform(R"({"ver":"2.0","cmds":[{"c":"onlyIn2"}]})");
    EXPECT_EQ(performed().back(), "onlyIn2@2.0");
}

TEST_F(MVCommandHandlerTest, PageTextCannotForgeALogLine) {
    perform(R"({"ver":"1.0","cmds":[{"c":"nope\n[error] FORGED"}]})");
    platform::log::flush();
    size_t lines = 0;
    for (auto& text : log_->texts()) {
        EXPECT_EQ(text.find('\n'), std::string::npos) << text;
        lines += text.find("FORGED") != std::string::npos;
    }
    EXPECT_EQ(lines, 1u);
    EXPECT_TRUE(logged(R"(MVCommandHandler(v1.0) unknown command: nope\n[error] FORGED)"));
}

TEST_F(MVCommandHandlerTest, ElementsThatNameNoCommandAreSkipped) {
    perform(R"({"ver":"2.0","cmds":[{"p":{}},7,{"c":3},"echo",{"c":"echo"}]})");
    EXPECT_EQ(performed(), (std::vector<std::string>{"echo@2.0"}));
    EXPECT_EQ(loggedCount("MVCommandHandler skipped an element of cmds that names no command"), 4u);
}

TEST_F(MVCommandHandlerTest, ParametersThatAreNoDictionaryAreRefused) {
    for (const char* p : {"[1,2]", "null", "\"text\"", "3"}) {
        MVErrorLogger::clearReports();
        perform((std::string(R"({"ver":"2.0","cmds":[{"c":"echo","p":)") + p + "}]}").c_str());
        auto reports = MVErrorLogger::reports();
        ASSERT_EQ(reports.size(), 1u) << p;
        EXPECT_EQ(reports[0].description,
                  "MVCommandHandler(v2.0) MVCommand doesn't contain right container for parameter");
        EXPECT_EQ(*reports[0].data, (json{{"command", "echo"}, {"params", ""}}));
    }
    EXPECT_EQ(loggedCount("MVCommand <echo> doesn't contain right container for parameter"), 4u);
    EXPECT_TRUE(performedCommands().empty());
}

TEST_F(MVCommandHandlerTest, NullsAreStrippedBeforeValidation) {
    auto webView = FakeWebView::create(1005);
    webView->setCurrentUrl("https://shop.example/page");
    perform(R"({"ver":"2.0","cmds":[{"c":"needsSrc","p":{"src":null}}]})", webView);
    EXPECT_TRUE(logged("MVCommand validation failed <needsSrc>\n/src is missing"));
    auto reports = MVErrorLogger::reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].description, "MVCommandHandler(v2.0) MVCommand validation failed.");
    EXPECT_EQ(*reports[0].data, (json{{"command", "needsSrc"},
                                      {"log", "/src is missing"},
                                      {"webView", "https://shop.example/page"}}));
    EXPECT_TRUE(performedCommands().empty());
}

TEST_F(MVCommandHandlerTest, ValidCommandGetsStrippedParameters) {
    perform(
        R"({"ver":"2.0","cmds":[{"c":"needsSrc","p":{"src":"x","extra":{"a":null,"b":[null,1]}}}]})");
    ASSERT_EQ(performedCommands().size(), 1u);
    EXPECT_EQ(performedCommands()[0].parameters, json::parse(R"({"src":"x","extra":{"b":[1]}})"));
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

TEST_F(MVCommandHandlerTest, OptionalMemberOfTheWrongTypeFails) {
    perform(R"({"ver":"2.0","cmds":[{"c":"needsSrc","p":{"src":"x","title":5}}]})");
    EXPECT_TRUE(logged("MVCommand validation failed <needsSrc>\n/title must be of type NSString"));
    EXPECT_TRUE(performedCommands().empty());
}

TEST_F(MVCommandHandlerTest, ValidCommandWithNotesIsStillPerformed) {
    // faults inside array elements are noted but do not make the parameters invalid
    perform(R"({"ver":"2.0","cmds":[{"c":"list","p":{"items":[1,"a"]}}]})");
    EXPECT_TRUE(logged("MVCommand validation <list>\n/items[0] must be of type NSString"));
    EXPECT_EQ(performed(), (std::vector<std::string>{"list@2.0"}));
    EXPECT_TRUE(MVErrorLogger::reports().empty());
}

TEST_F(MVCommandHandlerTest, CommandWithoutParametersAndEmptySpecificationGetsNone) {
    perform(R"({"ver":"2.0","cmds":[{"c":"echo"},{"c":"echo","p":{}}]})");
    ASSERT_EQ(performedCommands().size(), 2u);
    EXPECT_FALSE(performedCommands()[0].parameters.has_value());
    EXPECT_EQ(performedCommands()[1].parameters, json::object());
}

TEST_F(MVCommandHandlerTest, CommandWithoutSpecificationIsSilentlyNotPerformed) {
    perform(R"({"ver":"2.0","cmds":[{"c":"neverRun","p":{"a":1}}]})");
    EXPECT_TRUE(performedCommands().empty());
    EXPECT_TRUE(MVErrorLogger::reports().empty());
    EXPECT_FALSE(logged("neverRun"));
}

TEST_F(MVCommandHandlerTest, PerformingLineNamesWebViewHandlerAndParameters) {
    auto webView = FakeWebView::create(1003, "Header");
    perform(R"({"ver":"2.0","cmds":[{"c":"echo","p":{"a":null,"b":"x"}},{"c":"loud"}]})", webView);
    // parameters as received, before stripping
    EXPECT_TRUE(
        logged("MVWebView<1003:Header> => MVCommandHandler(v2.0) performing MVCommand.echo( a = "
               "<null>, b = \"x\" )"));
    EXPECT_TRUE(
        logged("MVWebView<1003:Header> => MVCommandHandler(v2.0) performing MVCommand.loud()"));
    auto messages = log_->messages();
    for (const auto& m : messages) {
        if (m.text.find("MVCommand.echo") != std::string::npos) {
            EXPECT_EQ(m.flag, platform::log::kVerbose);
        }
        if (m.text.find("MVCommand.loud") != std::string::npos) {
            EXPECT_EQ(m.flag, platform::log::kInfo);
        }
    }
    ASSERT_EQ(performedCommands().size(), 2u);
    EXPECT_EQ(performedCommands()[0].webView, FakeWebView::token(webView.get()));
}

TEST_F(MVCommandHandlerTest, DelegateVetoCancelsTheCommand) {
    auto webView = FakeWebView::create(1006);
    webView->setVetoAnswer(false);
    perform(R"({"ver":"2.0","cmds":[{"c":"echo"}]})", webView);
    EXPECT_TRUE(logged(
        "MVWebView<1006> => MVCommandHandler(v2.0) performing MVCommand.echo() [cancelled]"));
    EXPECT_TRUE(performedCommands().empty());
    EXPECT_EQ(webView->askedCommands, (std::vector<std::string>{"echo"}));

    webView->setVetoAnswer(true);
    perform(R"({"ver":"2.0","cmds":[{"c":"echo"}]})", webView);
    webView->setVetoAnswer(std::nullopt);  // a delegate that does not answer
    perform(R"({"ver":"2.0","cmds":[{"c":"echo"}]})", webView);
    EXPECT_EQ(performedCommands().size(), 2u);
}

TEST_F(MVCommandHandlerTest, CollectionFromAWorkerThreadRunsLaterOnTheMainThreadInOrder) {
    std::thread worker([] {
        perform(
            R"({"ver":"2.0","cmds":[{"c":"echo","p":{"n":1}},{"c":"loud"},{"c":"echo","p":{"n":3}}]})");
    });
    worker.join();
    EXPECT_TRUE(performedCommands().empty());
    platform::runUntilIdle();
    ASSERT_EQ(performed(), (std::vector<std::string>{"echo@2.0", "loud@2.0", "echo@2.0"}));
    for (const auto& p : performedCommands()) EXPECT_TRUE(p.onMainThread);
    EXPECT_EQ(performedCommands()[2].parameters, (json{{"n", 3}}));
}

TEST_F(MVCommandHandlerTest, AFailingCommandEndsInTheDispatcher) {
    perform(R"({"ver":"2.0","cmds":[{"c":"throws","p":{}},{"c":"echo"}]})");
    EXPECT_TRUE(logged("MVCommandHandler(v2.0) MVCommand.throws failed: "));
    EXPECT_EQ(performed(), (std::vector<std::string>{"echo@2.0"}));
}

TEST_F(MVCommandHandlerTest, ACommandThrowingAnythingEndsInTheDispatcherButTerminationPasses) {
    auto& table = MVCommandHandler_1_0::commandTable();
    table.add("throws42", {MVSpec{}, [](MVCommandHandler&, json*, const auto&) { throw 42; }});
    table.add("terminates", {MVSpec{}, [](MVCommandHandler&, json*, const auto&) {
                                 throw platform::Exception(
                                     MVLibraryApplicationHasBeenTerminatedException,
                                     "MVLibraryApllication has been terminated without crash log.");
                             }});
    perform(R"({"ver":"2.0","cmds":[{"c":"echo"},{"c":"throws42"},{"c":"loud"}]})");
    EXPECT_EQ(performed(), (std::vector<std::string>{"echo@2.0", "loud@2.0"}));
    EXPECT_EQ(loggedCount(" failed: "), 1u);
    EXPECT_TRUE(logged("MVCommandHandler(v2.0) MVCommand.throws42 failed: unknown exception"));
    EXPECT_THROW(perform(R"({"ver":"2.0","cmds":[{"c":"terminates"},{"c":"echo"}]})"),
                 platform::Exception);
    EXPECT_EQ(performed().size(), 2u);
}

TEST_F(MVCommandHandlerTest, AFailedValidationFromAWorkerReadsTheWebViewOnTheMainThread) {
    auto webView = FakeWebView::create(1007);
    webView->setCurrentUrl("https://shop.example/w");
    std::thread([&] { perform(R"({"ver":"2.0","cmds":[{"c":"needsSrc"}]})", webView); }).join();
    platform::runUntilIdle();
    EXPECT_EQ(webView->offMainThreadReads, 0);
    ASSERT_EQ(MVErrorLogger::reports().size(), 1u);
    EXPECT_EQ((*MVErrorLogger::reports()[0].data)["webView"], "https://shop.example/w");
}

TEST_F(MVCommandHandlerTest, NativeCommandListsAndSingleCommands) {
    MVCommand first;
    first.setName("echo");
    MVCommand second;
    second.setName("needsSrc");
    second.setParameters({{"src", "mvapi:home"}});
    auto handler = MVCommandHandler::sharedHandlerForVersion(20);
    handler->performCommands(std::vector<MVCommand>{first, second}, nullptr);
    MVCommandHandler::sharedHandler()->performCommand(first, nullptr);
    EXPECT_EQ(performed(), (std::vector<std::string>{"echo@2.0", "needsSrc@2.0", "echo@2.1"}));
}

TEST_F(MVCommandHandlerTest, CommandsStripOnlyParametersNoCopySharesInPlace) {
    const json withNull = {{"src", "x"}, {"n", nullptr}};
    MVCommand kept;
    kept.setName("needsSrc");
    kept.setParameters(withNull);
    auto handler = MVCommandHandler::sharedHandlerForVersion(20);
    handler->performCommand(kept, nullptr);
    MVCommand given = kept;  // shares the parameters with the kept one
    handler->performCommand(std::move(given), nullptr);
    ASSERT_EQ(performedCommands().size(), 2u);
    for (const auto& performed : performedCommands())
        EXPECT_EQ(performed.parameters, (json{{"src", "x"}}));
    EXPECT_EQ(*kept.parameters(), withNull);
}

// What "measure" saw: how deep its "deep" array went and where its "tag" text lives.
struct Measured {
    size_t depth = 0;
    const char* tag = nullptr;
};
Measured& measured() {
    static Measured m;
    return m;
}

TEST_F(MVCommandHandlerTest, DeepCollectionsBuiltInCodeReachTheCommandWithoutACopy) {
    MVCommandHandler_1_0::commandTable().add(
        "measure", {MVSpec{}, [](MVCommandHandler&, json* p, const std::shared_ptr<MVWebView>&) {
                        measured() = {};
                        for (const json* v = &p->at("deep"); v->is_array() && !v->empty();
                             v = &v->front())
                            ++measured().depth;
                        measured().tag = p->at("tag").get_ref<const std::string&>().data();
                    }});
    constexpr size_t kDepth = 100'000;
    // [[[ ... ]]] built and later freed without recursion; a copy would recurse per level.
    auto commands = [](const char*& tag) {
        json deep = json::array();
        json* inner = &deep;
        for (size_t i = 1; i < kDepth; ++i) inner = &inner->emplace_back(json::array());
        inner->push_back(0);
        json list = json::array(
            {{{"c", "measure"}, {"p", {{"tag", std::string(100, 't')}, {"deep", nullptr}}}}});
        list[0]["p"]["deep"] = std::move(deep);
        tag = list[0]["p"]["tag"].get_ref<const std::string&>().data();
        return list;
    };
    auto handler = MVCommandHandler::sharedHandlerForVersion(10);
    struct Road {
        const char* name;
        std::function<void(json)> dispatch;
    } roads[] = {
        {"collection",
         [](json list) {
             MVCommandHandler::performCommandsFromCommandCollection(
                 json{{"ver", "1.0"}, {"cmds", std::move(list)}}, nullptr);
         }},
        {"command list", [&](json list) { handler->performCommands(std::move(list), nullptr); }},
        {"nested list as collection",
         [&](json list) {
             MVNestedCommandList::asCollection(*handler, std::move(list), nullptr).perform();
         }},
        {"nested list on the handler",
         [&](json list) { MVNestedCommandList::onHandler(*handler, std::move(list)).perform(); }},
    };
    for (auto& road : roads) {
        SCOPED_TRACE(road.name);
        const char* tag = nullptr;
        json list = commands(tag);
        road.dispatch(std::move(list));
        EXPECT_EQ(measured().depth, kDepth);
        EXPECT_EQ(measured().tag, tag);  // the very text that was built: nothing copied
    }
}

TEST_F(MVCommandHandlerTest, AMalformedDeepCollectionReachesItsReportWithoutACopy) {
    constexpr size_t kDepth = 100'000;
    json deep = json::array();
    json* inner = &deep;
    for (size_t i = 1; i < kDepth; ++i) inner = &inner->emplace_back(json::array());
    // "cmds" that is no array makes the collection malformed.
    MVCommandHandler::performCommandsFromCommandCollection(
        json{{"ver", "1.0"}, {"cmds", {{"deep", std::move(deep)}}}}, nullptr);
    const auto reports = MVErrorLogger::reports();
    ASSERT_EQ(reports.size(), 1u);
    ASSERT_TRUE(reports[0].data);
    size_t depth = 0;
    for (const json* v = &reports[0].data->at("commandCollection").at("cmds").at("deep");
         v->is_array() && !v->empty(); v = &v->front())
        ++depth;
    EXPECT_EQ(depth, kDepth - 1);
}

TEST_F(MVCommandHandlerTest, PerformValidatedCommandOfAnUnknownCommandIsAProgrammingError) {
    MVCommand command;
    command.setName("nothing");
    EXPECT_THROW(
        MVCommandHandler::sharedHandler()->performValidatedCommand(command, nullptr, nullptr),
        platform::Exception);
}

TEST_F(MVCommandHandlerTest, TheTraceNamesWhatIsPerformedWithItsSourceAndVersion) {
    std::vector<std::string> traced;
    MVCommandTrace::setObserver(
        [&](MVCommandTrace::Direction direction, std::string_view version, std::string_view name) {
            traced.push_back(std::string(MVCommandTrace::directionName(direction)) + " " +
                             std::string(version) + " " + std::string(name));
            if (name == "echo" && version == "1.0") throw std::runtime_error("observer failed");
        });
    auto page = FakeWebView::create(1006);
    perform(R"({"ver":"2.0","cmds":[{"c":"echo"},{"c":"noSuchCommand"}]})");
    perform(R"({"ver":"1.0","cmds":[{"c":"echo"}]})");
    perform(R"({"ver":"2.1","cmds":[{"c":"echo"}]})", page);
    page->setVetoAnswer(false);
    perform(R"({"ver":"2.1","cmds":[{"c":"echo"}]})", page);
    MVCommandTrace::setObserver(nullptr);
    perform(R"({"ver":"2.0","cmds":[{"c":"echo"}]})");

    // Unknown and vetoed commands are not performed; an observer's failure is its own.
    EXPECT_EQ(traced,
              (std::vector<std::string>{"down 2.0 echo", "down 1.0 echo", "page 2.1 echo"}));
    EXPECT_EQ(performed(),
              (std::vector<std::string>{"echo@2.0", "echo@1.0", "echo@2.1", "echo@2.0"}));
    EXPECT_TRUE(logged("MVCommandTrace observer failed: observer failed"));
}

}  // namespace
