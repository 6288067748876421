// Arbitrary JSON as the boot script cached by the last run, through the start's replay:
// a malformed script is removed and treated as absent; a well-formed one replays its
// list (any commands) in shadow mode, with the time-out, until its end. Ending the app
// is the one exception a command may raise.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/FuzzRunFolder.h"
#include "libmerovane/application/MVLibraryApplication.h"
#include "libmerovane/application/MVPersistentEntities.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/core/MVUserDefaultsKeys.h"
#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/TestDriver.h"
#include "platform/foundation/UserDefaults.h"

namespace {

// A folder of its own for the run, removed at exit.
const std::string& bootRoot() {
    return fuzzing::runFolder("/tmp/fuzz-boot-script-XXXXXX");
}

void setUp() {
    platform::Clock::installManual();
    (void)bootRoot();
    MVRegisterPersistentEntities();
    registerCommandHandlerClasses();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = (setUp(), true);
    (void)ready;
    auto parsed =
        platform::json::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!parsed.ok()) return 0;
    auto& library = MVLibraryApplication::sharedLibrary();
    // Commands that reach the server find nobody listening.
    library.setDefaultApiPath("http://127.0.0.1:1");
    auto& defaults = platform::UserDefaults::standard();
    defaults.setObject(MVStandardUserDefaultsCachedBootScript, parsed.value);
    if (parsed.value.is_object() && parsed.value.size() % 2)
        defaults.setObject(MVWebCacheShadowModeScheduledAtAppStart, true);
    try {
        if (auto script = MVLibraryApplication::cachedBootScript()) {
            library.replayBootScript(std::move(*script));
            platform::advanceBy(MVLibraryApplication::kCachedBootAppTimeout + 1);
        } else if (defaults.objectForKey(MVStandardUserDefaultsCachedBootScript)) {
            std::abort();  // a malformed script must be gone
        }
    } catch (const platform::Exception& e) {
        if (e.name() != MVLibraryApplicationHasBeenTerminatedException) throw;
    }
    platform::resetSharedInstancesForTesting();
    return 0;
}
