// The baseline of a run in the real engine: a page that sends its commands (as the sample
// shop's pages do, or by navigating to "mvcmd:" itself) is shown and measured; its commands
// are no failure of the page.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/foundation/JsonValue.h"
#include "tests/app/SampleShopRun.h"

namespace {

using sampleshop::readText;

struct BaselineRow {
    const char* name;
    const char* head;
    const char* body;
};

void PrintTo(const BaselineRow& row, std::ostream* out) {
    *out << row.name;
}

constexpr const char* kCommand =
    "'mvcmd:' + encodeURIComponent('{\"ver\":\"2.0\",\"cmds\":[{\"c\":\"onload\",\"s\":0}]}')";

const BaselineRow kRows[] = {
    {"TheSampleLibrary",
     "<script id=\"libmerovane\" src=\"LIBRARY\"></script><script type=\"application/json\" "
     "id=\"mv-load-commands\">{\"ver\": \"2.0\", \"cmds\": [{\"c\": \"onload\"}]}</script>",
     ""},
    {"TheTopFrameFromTheHead", "<script>location.href = COMMAND;</script>", ""},
    {"TheTopFrameAtLoad", "",
     "<script>addEventListener('load', function () { location.href = "
     "COMMAND; });</script>"},
    {"AFramesLink", "",
     "<iframe name=\"c\" style=\"display: none\"></iframe><script>var a = "
     "document.createElement('a'); a.href = COMMAND; a.target = 'c'; "
     "document.body.appendChild(a); a.click();</script>"},
    {"AFramesSource", "",
     "<script>var f = document.createElement('iframe'); f.src = COMMAND; "
     "document.body.appendChild(f);</script>"},
};

class EngineBaselineWebKitTest : public testing::TestWithParam<BaselineRow> {};

TEST_P(EngineBaselineWebKitTest, APageThatSendsCommandsIsShownAndMeasured) {
    const BaselineRow& row = GetParam();
    TempDir out;
    auto fill = [](std::string text) {
        const std::string library = std::string(MV_SAMPLE_SHOP) + "/libmerovane.js";
        for (size_t at; (at = text.find("LIBRARY")) != std::string::npos;)
            text.replace(at, 7, library);
        for (size_t at; (at = text.find("COMMAND")) != std::string::npos;)
            text.replace(at, 7, kCommand);
        return text;
    };
    const std::string page = out.file("page.html");
    std::ofstream(page) << "<!DOCTYPE html><html><head><meta charset=\"utf-8\">" + fill(row.head) +
                               "</head><body><p>home</p>" + fill(row.body) + "</body></html>";
    ChildProcess app({MV_APP_EXECUTABLE,
                      {"-web_engine", "webkit", "-baseline_file", page, "-run_output", out.path()},
                      out.file("app.log")},
                     {{"MEROVANE_HOME", out.file("home")}});
    ASSERT_EQ(app.wait(), 0) << readText(out.file("app.log"));
    const std::string log = readText(out.file("app.log"));
    EXPECT_EQ(log.find("did not show"), std::string::npos) << log;
    auto record = platform::json::parse(readText(out.file("baseline.json")));
    ASSERT_TRUE(record.ok()) << log;
    EXPECT_GT(platform::json::doubleValue(record.value, "fileSeconds"), 0);
}

INSTANTIATE_TEST_SUITE_P(Commands, EngineBaselineWebKitTest, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<BaselineRow>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
