#include "tests/support/FakeWebCache.h"

#include <thread>

std::shared_ptr<FakeWebCache> FakeWebCache::install() {
    auto cache = std::make_shared<FakeWebCache>();
    MVWebCacheInterface::setShared(cache);
    return cache;
}

void FakeWebCache::setPage(const std::string& key, std::string body, std::string baseUrl,
                           std::string mimeType) {
    Script script;
    script.body = std::move(body);
    script.info = {{"base-url", std::move(baseUrl)}, {"mime-type", std::move(mimeType)}};
    scripts_[key] = std::move(script);
}

void FakeWebCache::setScript(const std::string& key, Script script) {
    scripts_[key] = std::move(script);
}

void FakeWebCache::dataForKey(const std::string& key, WhenAvailable whenAvailable,
                              WhenLoadingStarts whenLoadingStarts, WhenFailed whenFailed) {
    lookups.push_back(key);
    Script script;
    if (auto it = scripts_.find(key); it != scripts_.end()) {
        script = it->second;
    } else {
        script.error = platform::Error("MVWebCacheErrorResourceNotFound", 404);
    }
    Pending pending{script, std::move(whenAvailable), std::move(whenFailed)};
    if (whenLoadingStarts && (script.deferred || script.staleFirst)) whenLoadingStarts(nullptr);
    if (script.deferred) {
        pending_.push_back(std::move(pending));
        return;
    }
    answer(pending);
}

void FakeWebCache::answer(const Pending& pending) {
    const Script& script = pending.script;
    if (script.error) {
        if (pending.whenFailed) pending.whenFailed(*script.error, nullptr);
        return;
    }
    auto data =
        std::make_shared<const std::vector<uint8_t>>(script.body.begin(), script.body.end());
    if (!pending.whenAvailable) return;
    if (script.staleFirst) {
        auto stale = std::make_shared<const std::vector<uint8_t>>();
        pending.whenAvailable(true, true, stale, script.info);
    }
    pending.whenAvailable(script.fromMemory, false, data, script.info);
}

void FakeWebCache::answerPending(bool fromThread) {
    std::deque<Pending> pending;
    pending.swap(pending_);
    for (const auto& p : pending) {
        if (fromThread) {
            std::thread([&p] { answer(p); }).join();
        } else {
            answer(p);
        }
    }
}

void FakeWebCache::clearCacheForKey(const std::string& key) {
    clearedKeys.push_back(key);
}
