// The shell over a bundle whose Info.json does not give the application's identifier: the
// start ends in order (status 1, a line naming the key and the file) before it notes
// anything, and the next start over the sound bundle finds the home as it was.
#ifdef MV_SAMPLE_API_SERVER
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>

#include "tests/app/SampleShopRun.h"

namespace hostinfo {

using namespace sampleshop;
namespace fs = std::filesystem;

using Json = nlohmann::json;

struct BrokenInfo {
    const char* name;
    // Info.json's text from the sound file's other keys; none: no file.
    std::function<std::string(Json)> info;
    const char* cause;  // the end of the line, after the file's path; none: the shell runs
    std::vector<std::string> arguments;
};
void PrintTo(const BrokenInfo& row, std::ostream* out) {
    *out << row.name;
}

std::string withIdentifier(Json keys, Json identifier) {
    keys["MVApplicationIdentifier"] = std::move(identifier);
    return keys.dump();
}

const BrokenInfo kRows[] = {
    {"NoInfoFile", nullptr, " cannot be read (", {}},
    {"NoIdentifierKey", [](Json keys) { return keys.dump(); }, " has no such key", {}},
    {"IdentifierANumber",
     [](Json keys) { return withIdentifier(keys, 7); },
     " gives a number there, not a string",
     {}},
    {"IdentifierNull",
     [](Json keys) { return withIdentifier(keys, nullptr); },
     " gives a null there, not a string",
     {}},
    {"MalformedInfo",
     [](Json keys) {
         std::string text = withIdentifier(keys, "shop");
         return text.substr(0, text.size() - 1);
     },
     " is not JSON (",
     {}},
    {"InfoNotAnObject",
     [](Json) {
         return Json::array({"MVApplicationIdentifier", "shop"}).dump();
     },
     " holds no JSON object",
     {}},
    // The developer setting stands in for the key: the shell runs.
    {"SettingStandsIn",
     [](Json keys) { return keys.dump(); },
     nullptr,
     {"-app_identifier", "shop"}},
};

class HostInfoTest : public SampleShopRunTest, public ::testing::WithParamInterface<BrokenInfo> {
  protected:
    // A copy of the shell's bundle whose Info.json is the row's.
    std::string brokenBundle(const BrokenInfo& row) {
        const std::string bundle = out_.file("bundle");
        fs::copy(fs::path(MV_APP_EXECUTABLE).parent_path() / "Bundle", bundle,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        Json keys = Json::parse(readText(bundle + "/Info.json"));
        keys.erase("MVApplicationIdentifier");
        fs::remove(bundle + "/Info.json");
        if (row.info) std::ofstream(bundle + "/Info.json") << row.info(keys);
        return bundle;
    }
    std::string homeFile(const std::string& name) const {
        return readText(out_.file("home/Library/" + name));
    }
    bool shown() const { return !readText(out_.file("presented.json")).empty(); }
};

TEST_P(HostInfoTest, TheStartEndsInOrderAndTheHomeIsKept) {
    const BrokenInfo& row = GetParam();
    ASSERT_EQ(stopAtFirstPage("first.log"), 0);
    ASSERT_TRUE(shown());
    const std::string defaults = homeFile("Preferences/com.merovane.shop.json");
    const std::string store = homeFile("Caches/libmerovane/general.sqlite");
    ASSERT_NE(defaults.find("MVStandardUserDefaultsCachedBootScript"), std::string::npos);

    const std::string bundle = brokenBundle(row);
    const int status = stopAtFirstPage("broken.log", {{"MEROVANE_BUNDLE", bundle}}, row.arguments);
    const std::string log = readText(out_.file("broken.log"));
    if (!row.cause) {
        EXPECT_EQ(status, 0) << log;
        EXPECT_TRUE(shown()) << log;
        return;
    }
    EXPECT_EQ(status, 1) << log;
    EXPECT_FALSE(shown()) << log;
    EXPECT_NE(log.find("The shell cannot start: the Info value \"MVApplicationIdentifier\" (the "
                       "application's identifier) is missing: " +
                       bundle + "/Info.json" + row.cause),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("appIdentifier != nil"), std::string::npos) << log;
    EXPECT_TRUE(homeFile("Preferences/com.merovane.shop.json") == defaults);
    EXPECT_TRUE(homeFile("Caches/libmerovane/general.sqlite") == store);

    // The sound bundle again: the stored boot script is replayed, nothing was reset.
    EXPECT_EQ(stopAtFirstPage("again.log"), 0);
    const std::string again = readText(out_.file("again.log"));
    EXPECT_TRUE(shown()) << again;
    EXPECT_NE(again.find("boots app using script"), std::string::npos) << again;
}

INSTANTIATE_TEST_SUITE_P(Rows, HostInfoTest, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace hostinfo
#endif
