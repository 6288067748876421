#pragma once
// User-default keys that the start-up, the web cache and the boot command share.

// The boot script cached for the next start: {"cmds", "identifier", "commandHandlerVersion"}.
inline constexpr const char* MVStandardUserDefaultsCachedBootScript =
    "MVStandardUserDefaultsCachedBootScript";
// Set while a cached boot script is replayed; still set at a start when the replay never ended.
inline constexpr const char* MVLibraryApplicationFailsafeToken = "MVLibraryApplicationFailsafeToken";
// Shadow mode asked for at the next start.
inline constexpr const char* MVWebCacheShadowModeScheduledAtAppStart =
    "MVWebCacheShadowModeScheduledAtAppStart";
// The bundle version of the last launch.
inline constexpr const char* MVLibraryApplicationLastLaunchedVersion =
    "MVLibraryApplicationLastLaunchedVersion";
