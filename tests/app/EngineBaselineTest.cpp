// The baseline of a run, measured by the `app` executable as scripts/run starts it: a
// file, or another server's page at its address.
#include <gtest/gtest.h>

#include "platform/foundation/JsonValue.h"
#include "tests/app/SampleShopRun.h"
#include "tests/support/HttpTestServer.h"

namespace {

using sampleshop::readText;

TEST(EngineBaselineTest, AServersPageIsMeasuredAtItsAddress) {
    HttpTestServer server;
    server.respond("/shop/home", HttpTestServer::Response::text(200, "<p>home</p>", "text/html"));
    TempDir out;
    ChildProcess app({MV_APP_EXECUTABLE,
                      {"-web_engine", "headless", "-baseline_file", server.url("/shop/home"),
                       "-run_output", out.path()},
                      out.file("app.log")},
                     {{"MEROVANE_HOME", out.file("home")}});
    ASSERT_EQ(app.wait(), 0) << readText(out.file("app.log"));
    EXPECT_EQ(server.requestCount("/shop/home"), 1u);
    auto record = platform::json::parse(readText(out.file("baseline.json")));
    ASSERT_TRUE(record.ok()) << readText(out.file("app.log"));
    EXPECT_GT(platform::json::doubleValue(record.value, "fileSeconds"), 0);
}

}  // namespace
