// A slow disc for the web cache's files, preloaded into the shell by the stop tests
// (LD_PRELOAD): a file renamed into place below a folder named "webcache" lands
// MV_SLOW_FILES_MS milliseconds late, as its last block would on a slow disc. Not
// instrumented: it is loaded before the sanitizers' runtimes.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

int rename(const char* from, const char* to) {
    int (*real)(const char*, const char*) =
        (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename");
    const char* wait = getenv("MV_SLOW_FILES_MS");
    if (wait && to && strstr(to, "/webcache/")) {
        const long ms = strtol(wait, NULL, 10);
        struct timespec left = {ms / 1000, (ms % 1000) * 1000000L};
        const int saved = errno;
        while (nanosleep(&left, &left) != 0 && errno == EINTR) {
        }
        errno = saved;
    }
    if (!real) {
        errno = ENOSYS;
        return -1;
    }
    return real(from, to);
}
