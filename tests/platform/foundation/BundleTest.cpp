#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/support/PlatformTest.h"
#include "tests/support/TempDir.h"

using platform::Bundle;
using StringTable = std::map<std::string, std::string>;

namespace {

class BundleTest : public PlatformTest {
  protected:
    void SetUp() override {
        PlatformTest::SetUp();
        home_.write(
            "App/Info.json",
            R"({"CFBundleIdentifier": "com.example.shop", "apiUrl": "https://api.example.com",
                        "CFBundleShortVersionString": "3.1"})");
        home_.write("App/DefaultSplashScreen.html", "<html></html>");
        home_.write("App/libmerovane.bundle/Info.json", R"({"CFBundleShortVersionString": "2.0"})");
        home_.write(
            "App/libmerovane.bundle/Localization/de.lproj/Localizable.strings",
            "\"[fileHash]\" = \"abc\";\n\"#push.openingnotification\" = \"Benachrichtigung\";");
        home_.write("App/fr.lproj/Localizable.strings", R"("greeting" = "Bonjour";)");
        home_.write("App/en.lproj/Localizable.strings", R"("greeting" = "Hello"; "bye" = "Bye";)");
        home_.write("App/en.lproj/Only.txt", "en");
        Bundle::setMainBundlePathForTesting(home_.file("App"));
    }
    TempDir home_;
};

}  // namespace

TEST_F(BundleTest, MainBundleReadsInfoJson) {
    auto& main = Bundle::main();
    EXPECT_EQ(main.path(), home_.file("App"));
    EXPECT_EQ(main.bundleIdentifier(), "com.example.shop");
    EXPECT_EQ(main.objectForInfoDictionaryKey("apiUrl"), nlohmann::json("https://api.example.com"));
    EXPECT_EQ(main.objectForInfoDictionaryKey("missing"), std::nullopt);
    // The application's identity follows the bundle.
    EXPECT_EQ(platform::FileManager::applicationIdentifier(), "com.example.shop");
}

TEST_F(BundleTest, ValuesThatWouldLeaveTheirFolderAreRefused) {
    // A preferred language names a folder beside the table: never one outside it.
    for (const std::string& language :
         {std::string("../.."), std::string("/tmp"), std::string("a\\b"), std::string("..x"),
          std::string("x\0y", 3), std::string()}) {
        platform::UserDefaults::standard().setObject("AppleLanguages", {language, "fr"});
        EXPECT_EQ(Bundle::main().pathForResource("Localizable", "strings"),
                  home_.file("App/fr.lproj/Localizable.strings"))
            << language;
    }
    EXPECT_TRUE(logged("Preferred language \"../..\" cannot name a folder; skipped"));

    // An identifier that cannot name the application's folder falls back to the program's name.
    const std::string program = platform::FileManager::executablePath().substr(
        platform::FileManager::executablePath().rfind('/') + 1);
    for (const char* identifier : {"../escape", "a/b", "..", "\\x"}) {
        home_.write("Odd/Info.json", nlohmann::json{{"CFBundleIdentifier", identifier}}.dump());
        Bundle::setMainBundlePathForTesting(home_.file("Odd"));
        EXPECT_EQ(platform::FileManager::applicationIdentifier(), program) << identifier;
    }
    EXPECT_TRUE(logged("Bundle identifier \"../escape\" cannot name a folder"));
}

TEST_F(BundleTest, MainBundleFolderComesFromTheEnvironment) {
    ::setenv("MEROVANE_BUNDLE", home_.file("App").c_str(), 1);
    Bundle::setMainBundlePathForTesting({});
    EXPECT_EQ(Bundle::main().path(), home_.file("App"));
    ::unsetenv("MEROVANE_BUNDLE");
    Bundle::setMainBundlePathForTesting({});
    EXPECT_EQ(Bundle::main().path(), platform::FileManager::executablePath().substr(
                                         0, platform::FileManager::executablePath().rfind('/')) +
                                         "/Bundle");
}

TEST_F(BundleTest, MissingOrBrokenInfoIsLoggedAndEmpty) {
    home_.write("Bare/x", "");
    auto bare = Bundle::bundleAtPath(home_.file("Bare"));
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->bundleIdentifier(), "");
    EXPECT_TRUE(logged("Bundle " + home_.file("Bare") + " has no Info.json"));

    home_.write("Broken/Info.json", R"({"CFBundleIdentifier": )");
    auto broken = Bundle::bundleAtPath(home_.file("Broken"));
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->objectForInfoDictionaryKey("CFBundleIdentifier"), std::nullopt);
    EXPECT_TRUE(logged("Info.json is not a JSON object"));

    home_.write("Deep/Info.json",
                R"({"a":)" + std::string(100'000, '[') + std::string(100'000, ']') + "}");
    auto deep = Bundle::bundleAtPath(home_.file("Deep"));
    ASSERT_TRUE(deep);
    EXPECT_EQ(deep->objectForInfoDictionaryKey("a"), std::nullopt);
    EXPECT_TRUE(logged("Info.json is not a JSON object: nested deeper than 512 levels"));

    EXPECT_EQ(Bundle::bundleAtPath(home_.file("Nowhere")), nullptr);
}

TEST_F(BundleTest, ResourcesAreFoundFirstUnlocalizedThenByLanguage) {
    auto& main = Bundle::main();
    EXPECT_EQ(main.pathForResource("DefaultSplashScreen", "html"),
              home_.file("App/DefaultSplashScreen.html"));
    // Folders are resources too: the library's bundle inside the main bundle.
    auto library = main.pathForResource("libmerovane", "bundle");
    ASSERT_TRUE(library);
    auto libraryBundle = Bundle::bundleAtPath(*library);
    EXPECT_EQ(libraryBundle->objectForInfoDictionaryKey("CFBundleShortVersionString"),
              nlohmann::json("2.0"));
    EXPECT_EQ(libraryBundle->pathForResource("Localizable", "strings", "Localization/de.lproj"),
              home_.file("App/libmerovane.bundle/Localization/de.lproj/Localizable.strings"));
    EXPECT_EQ(main.pathForResource("Only", "txt"), home_.file("App/en.lproj/Only.txt"));
    EXPECT_EQ(main.pathForResource("Missing", "png"), std::nullopt);

    platform::UserDefaults::standard().setObject("AppleLanguages", {"fr-FR", "en"});
    EXPECT_EQ(main.pathForResource("Localizable", "strings"),
              home_.file("App/fr.lproj/Localizable.strings"));
}

TEST_F(BundleTest, LocalizedStringsFollowThePreferredLanguage) {
    platform::UserDefaults::standard().setObject("AppleLanguages", {"fr-FR"});
    auto& main = Bundle::main();
    EXPECT_EQ(main.localizedString("greeting"), "Bonjour");
    EXPECT_EQ(main.localizedString("bye", "Tschüss"), "Tschüss");  // the French table lacks it
    EXPECT_EQ(main.localizedString("bye"), "bye");                 // no default: the key
    EXPECT_EQ(main.localizedString("greeting", "", "Other"), "greeting");

    // A language folder as a bundle of its own, as localization uses it.
    auto de = Bundle::bundleAtPath(home_.file("App/libmerovane.bundle/Localization/de.lproj"));
    ASSERT_TRUE(de);
    EXPECT_EQ(de->localizedString("#push.openingnotification", "", "Localizable"),
              "Benachrichtigung");
    EXPECT_FALSE(logged("has no Info.json"));  // language folders need no information
}

TEST_F(BundleTest, MalformedTableIsLoggedAndFallsBack) {
    home_.write("App/Broken.strings", R"("a" = "b")");
    EXPECT_EQ(Bundle::main().localizedString("a", "fallback", "Broken"), "fallback");
    EXPECT_TRUE(logged("Malformed string table at line 1: expected ';' after a value"));
    EXPECT_TRUE(
        logged("The string table " + home_.file("App/Broken.strings") + " could not be read"));
}

TEST(StringsFileTest, ParsesEntriesCommentsAndEscapes) {
    struct Row {
        const char* text;
        StringTable expected;
    };
    const Row rows[] = {
        {"", {}},
        {"\xEF\xBB\xBF\"a\" = \"b\";", {{"a", "b"}}},  // byte-order mark
        {"/* header\n */\n\"[fileHash]\" = \"h1\";\n\"k\" = \"v\";",
         {{"[fileHash]", "h1"}, {"k", "v"}}},
        {"// line comment\n\"k\"=\"v\"; // trailing\n", {{"k", "v"}}},
        {R"("q" = "say \"hi\"\\ \n\t\r";)", {{"q", "say \"hi\"\\ \n\t\r"}}},
        {R"("u" = "\u00e9\U2603";)", {{"u", "\xC3\xA9\xE2\x98\x83"}}},
        {R"("pair" = "\ud83d\ude00";)", {{"pair", "\xF0\x9F\x98\x80"}}},
        {R"("lone" = "\ud83dx";)", {{"lone", "\xEF\xBF\xBDx"}}},
        {R"("other" = "\q\'";)", {{"other", "q'"}}},
        {R"("same";)", {{"same", "same"}}},
        {"\"k\" = \"1\";\n\"k\" = \"2\";", {{"k", "2"}}},  // the last one wins
        {"\"multi\nline\" = \"é\";", {{"multi\nline", "é"}}},
    };
    for (const auto& row : rows) {
        auto parsed = Bundle::parseStringsFile(row.text);
        ASSERT_TRUE(parsed) << row.text;
        EXPECT_EQ(*parsed, row.expected) << row.text;
    }
}

TEST(StringsFileTest, MalformedTextsGiveNone) {
    const char* rows[] = {
        R"("a" = "b")",      // no semicolon
        R"("a" "b";)",       // no equals sign
        R"(a = "b";)",       // unquoted key
        R"("a" = "b)",       // unterminated string
        R"("a" = "\u12";)",  // short escape
        "/* never closed",  R"("a" = ;)",
    };
    for (const char* text : rows) EXPECT_EQ(Bundle::parseStringsFile(text), std::nullopt) << text;
}
