#include "libmerovane/bridge/URLRequestWebCache.h"

#include "platform/foundation/URLRequest.h"

bool willIgnoreWebcache(const platform::URLRequest& request) {
    return request.boolProperty(MVWebCacheURLRequestPropertyIgnoreWebcache);
}

void setWillIgnoreWebcache(platform::URLRequest& request, bool ignore) {
    request.setProperty(MVWebCacheURLRequestPropertyIgnoreWebcache, ignore);
}

bool willForceWebcache(const platform::URLRequest& request) {
    return request.boolProperty(MVWebCacheURLRequestPropertyForceWebcache);
}

void setWillForceWebcache(platform::URLRequest& request, bool force) {
    request.setProperty(MVWebCacheURLRequestPropertyForceWebcache, force);
}
