// A reset (a new API address) clears what pages kept with the rest: the cookie store,
// its file, and the engine's web storage.
#include "libmerovane/application/MVLibraryApplication.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/HTTPCookieStorage.h"
#include "platform/web/WebsiteData.h"
#include "tests/application/LibraryApplicationFixture.h"

namespace {

using ResetApplicationPageDataTest = LibraryApplicationTest;

TEST_F(ResetApplicationPageDataTest, CookiesTheirFileAndWebStorageGo) {
    auto& cookies = platform::HTTPCookieStorage::shared();
    const std::string file =
        platform::FileManager::defaultManager().libraryDirectory() + "/Cookies/Cookies.json";
    cookies.setPersistentStoragePath(file);
    const auto from = *platform::URL::parse("https://shop.example/");
    for (const char* header : {"sid=1; Path=/", "remember=1; Path=/; Max-Age=31536000"}) {
        cookies.setCookies({*platform::HTTPCookie::parseSetCookie(header, from)}, from, {});
    }
    int removed = 0;
    platform::WebsiteData::setRemover([&] { ++removed; });
    library().resetApplication();
    EXPECT_TRUE(cookies.cookies().empty());
    EXPECT_EQ(removed, 1);
    // A new process over the same home finds none.
    platform::HTTPCookieStorage next;
    next.setPersistentStoragePath(file);
    EXPECT_TRUE(next.cookies().empty());
    platform::WebsiteData::setRemover(nullptr);
}

}  // namespace
