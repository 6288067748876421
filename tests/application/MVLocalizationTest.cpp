#include <nlohmann/json.hpp>

#include "libmerovane/application/MVLocalization.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/TestDriver.h"
#include "tests/application/LibraryApplicationFixture.h"
#include "tests/support/HostileFiles.h"

using nlohmann::json;

namespace {

class MVLocalizationTest : public LibraryApplicationTest {
  protected:
    std::string storedFile(const std::string& code) {
        return library().pathForLocalization() + "/" + code + ".lproj/Localizable.strings";
    }
    std::optional<std::string> readStored(const std::string& code) {
        return platform::FileManager::defaultManager().readFile(storedFile(code));
    }
    // Runs "updateLocalization" with the library streaming to a peer; answers what the
    // library sent in return, null when it sent nothing.
    json updateOverAConnection() {
        peer::ApiPeer peer;
        answerRequestHeads(peer);
        library().setDefaultApiPath(peerUrl(peer));
        auto& connection = MVApiConnection::sharedConnection();
        platform::advanceBy(MVApiConnection::kStartDelay);
        EXPECT_TRUE(waitFor([&] { return connection.state() == MVApiConnectionStateStreaming; }));
        perform("updateLocalization", json::object());
        platform::advanceBy(0.01);
        if (!waitFor([&] { return peer.packetCount() == 1; })) return nullptr;
        return peer.packets()[0].decoded.value;
    }
    // Runs a 1.0 command as the server sends it.
    void perform(const std::string& name, const json& parameters) {
        registerCommandHandlerClasses();
        MVCommandHandler::performCommandsFromCommandCollection(
            {{"ver", "1.0"}, {"cmds", {{{"c", name}, {"p", parameters}}}}}, nullptr);
        platform::runUntilIdle();
    }
};

TEST_F(MVLocalizationTest, LookupByPreferredLanguageThenEnglishThenTheKey) {
    struct Row {
        json languages;
        const char* key;
        const char* text;
    };
    const Row rows[] = {
        {{"fr-FR", "de"}, "#cachedbootapp.please.wait", "S'il vous plaît patienter ..."},
        {{"es"}, "#cachedbootapp.please.wait", "Please wait ..."},
        {{"es", "it"}, "#webview.failed.load", "La pagina non può essere caricato "},
        {{"en"},
         "#cachedbootapp.timeout.reached",
         "The\u00A0app\u00A0has\u00A0been\u00A0updated\u00A0and\nmust\u00A0be\u00A0restarted\u00A0o"
         "nce."},
        {{"pl"}, "#no.such.key", "#no.such.key"},
        {json(), "#deeplink.openlink", "Opening link ..."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.languages.dump());
        platform::resetSharedInstancesForTesting();
        setLanguages(row.languages);
        // The library object installs the localization that MVLocalizedString reads: ask it
        // first, in a statement of its own.
        const std::string fromLibrary = library().localizedStringForKey(row.key);
        EXPECT_EQ(MVLocalizedString(row.key),
                  row.key == std::string("#no.such.key") ? row.key : fromLibrary);
        EXPECT_EQ(MVLocalization::sharedLocalization().localizedStringForKey(row.key), row.text);
    }
}

TEST_F(MVLocalizationTest, StoredFileHasTheHeaderTheHashLineAndOneLinePerEntry) {
    setLanguages({"de"});
    MVLocalization::setLocalizationDictionary({{"k", "v"}}, "de", "h1");
    platform::runUntilIdle();
    const std::string text =
        "/*\n Localizable.strings (de)\n Merovane\n */\n"
        "\"[fileHash]\" = \"h1\";\n\n\"k\" = \"v\";";
    EXPECT_EQ(readStored("de"), text);
    EXPECT_EQ(MVLocalization::fileHashOfStringsFile(text), "h1");
    EXPECT_EQ(MVLocalization::newestBundleForCode("de"),
              library().pathForLocalization() + "/de.lproj");
    MVLocalization::forceLanguage("de");
    EXPECT_EQ(MVLocalization::sharedLocalization().preferredBundle(),
              library().pathForLocalization() + "/de.lproj");
}

TEST_F(MVLocalizationTest, UnsafeCodesQuotedHashesAndOddTablesWriteNothing) {
    struct Row {
        json dictionary;
        std::optional<std::string> language, hash;
        const char* warning;  // "" when nothing is logged
    };
    const Row rows[] = {
        {{{"k", "v"}}, "de", std::nullopt, ""},
        {{{"k", "v"}}, std::nullopt, "h", ""},
        {{{"k", "v"}}, "../de", "h", "refuses the language code"},
        {{{"k", "v"}}, "a\\b", "h", "refuses the language code"},
        {{{"k", "v"}}, std::string("d\0e", 3), "h", "refuses the language code"},
        {{{"k", "v"}}, "", "h", "refuses the language code"},
        {{{"k", "v"}}, "de", "h\"1", "refuses the file hash"},
        {{{"k", 1}}, "de", "h", "the value of \"k\" is no text"},
        {json::array(), "de", "h", "that is no dictionary"},
    };
    for (const auto& row : rows) {
        MVLocalization::setLocalizationDictionary(row.dictionary, row.language, row.hash);
        if (*row.warning) {
            EXPECT_TRUE(logged(row.warning)) << row.warning;
        }
    }
    platform::runUntilIdle();
    EXPECT_FALSE(
        platform::FileManager::defaultManager().fileExists(library().pathForLocalization()));
}

TEST_F(MVLocalizationTest, CommandsStoreOnlyForAWholePreferredLanguageAndForceOnlyThose) {
    setLanguages({"de-DE", "en"});
    perform("setLocalization",
            {{"language", "de"}, {"fileHash", "h"}, {"dictionary", {{"k", "v"}}}});
    perform("setLocalization",
            {{"language", "en"}, {"fileHash", "h2"}, {"dictionary", {{"k", "v"}}}});
    EXPECT_FALSE(readStored("de"));
    EXPECT_EQ(MVLocalization::fileHashOfStringsFile(readStored("en").value_or("")), "h2");
    const auto before = MVLocalization::sharedLocalization().preferredBundle();
    perform("setCurrentLocale", {{"locale", "fr"}});
    EXPECT_EQ(MVLocalization::sharedLocalization().preferredBundle(), before);
    perform("setCurrentLocale", {{"locale", "en"}});
    EXPECT_EQ(MVLocalization::sharedLocalization().preferredBundle(),
              library().pathForLocalization() + "/en.lproj");
}

TEST_F(MVLocalizationTest, UpdateFromTheServerSendsOneGetLocalizationWithTheBuiltInHash) {
    setLanguages({"fr", "es", "de"});
    MVLocalization::setLocalizationDictionary({{"k", "v"}}, "de", "stored-de");
    platform::runUntilIdle();
    const json sent = updateOverAConnection();
    EXPECT_EQ(sent["cmds"],
              (json{{{"c", "getLocalization"},
                     {"p", {{"fileHashes", {{"fr", "builtin-fr-1"}, {"de", "stored-de"}}}}}}}));
}

TEST_F(MVLocalizationTest, AStoredFileThatIsNoRegularFileIsSetAsideAndTheBuiltInOneReported) {
    if (!inBoundedChild()) return;
    auto& fm = platform::FileManager::defaultManager();
    const json codes = {"de", "en", "fr", "it", "pl"};
    setLanguages(codes);
    MVLocalization::setLocalizationDictionary({{"k", "v"}}, "de", "outside");
    platform::runUntilIdle();
    ASSERT_TRUE(fm.moveItem(storedFile("de"), home_->file("outside.strings")));
    const auto hostiles =
        hostileFiles(MVLocalization::kMaxStringsFileBytes, home_->file("outside.strings"));
    ASSERT_EQ(hostiles.size(), codes.size());
    for (size_t i = 0; i < hostiles.size(); ++i) {
        const std::string code = codes[i].get<std::string>();
        ASSERT_TRUE(
            fm.createDirectory(library().pathForLocalization() + "/" + code + ".lproj", true));
        ASSERT_TRUE(hostiles[i].plant(storedFile(code))) << hostiles[i].what;
    }
    const json sent = updateOverAConnection();
    json hashes = json::object();
    for (const auto& code : codes)
        hashes[code.get<std::string>()] = "builtin-" + code.get<std::string>() + "-1";
    EXPECT_EQ(sent["cmds"], (json{{{"c", "getLocalization"}, {"p", {{"fileHashes", hashes}}}}}));
    for (size_t i = 0; i < hostiles.size(); ++i) {
        SCOPED_TRACE(hostiles[i].what);
        const std::string path = storedFile(codes[i].get<std::string>());
        EXPECT_TRUE(logged("MVLocalization kept the unreadable strings file " + path + " as " +
                           path + ".corrupt-"));
        EXPECT_EQ(fileTypeAt(path), 0u);
        const std::string folder = path.substr(0, path.find_last_of('/'));
        std::vector<std::string> asides;
        for (const auto& name : fm.contentsOfDirectory(folder).value_or(std::vector<std::string>{}))
            if (name.starts_with("Localizable.strings.corrupt-")) asides.push_back(name);
        ASSERT_EQ(asides.size(), 1u);
        EXPECT_EQ(fileTypeAt(folder + "/" + asides[0]), hostiles[i].type);
    }
    EXPECT_EQ(MVLocalization::fileHashOfStringsFile(
                  fm.readFile(home_->file("outside.strings")).value_or("")),
              "outside");
}

}  // namespace
