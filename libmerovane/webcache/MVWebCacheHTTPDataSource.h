#pragma once
// The data source of web resources: keys that are http or https URLs. Each load is a
// GET with a 120 s time-out, the shared cookies, the library's user agent and the flag
// that lets it pass the web cache's URL protocol; the answer (any status) becomes the
// data and info dictionary that the web cache stores.
//
//   auto source = MVWebCacheHTTPDataSource::sharedDataSource();
//   source->loadDataForKey("https://shop.example/a.css", 0, whenAvailable, whenFailed);
//
// One record per logical load. Loads of an equal request join the running record and
// are answered with it. A script, style sheet or image ("js", "css", "png", "jpg",
// "gif") that has no response 5 s after a connection started gets another connection,
// up to three, and each such wait counts as a connection error; the first response
// cancels the others and alone fills the data.
// Redirects are followed except into "mvapi" and "mvcmd", which end the load with the
// redirect response and keep the target as "last-redirect-url". Transient network
// errors (the retry table) and near-empty scripts or style sheets from the maker's own
// servers repeat the load 5 s later, at most kMaximumRepeats times (at 5, 10 and 15 s,
// within the time the connection-loss monitor gives failing loads); the caller is
// answered by the attempt that is not repeated, with its error or data, so a resource
// that keeps failing fails to its page. A script, style sheet or image that has no
// response on any of its three connections 5 s after the last started (15 s) fails with
// a time-out, unrepeated. Only an HTTP answer (any status, also one whose body was then
// cut or near empty) counts as the shop's content answering; a load that ends without
// one, and each fail-safe wait, is an error of the content, dated for the monitor by
// when the load (before its repeats) began. While the connection-loss monitor refuses,
// loads wait in 0.25 s steps. Our URL loading has no authentication challenges, so there
// is nothing to answer for them here.
//
// A body longer than kMaximumBodyLength fails the load (URL error -1103); the buffer
// reserves at most kMaximumReservation up front, whatever length the response claims.
//
// Threads: every connection is made and answered on the thread "MVWebCacheHTTPDataSource"
// (its run loop runs until the source goes); a start from elsewhere hops there. The
// records and the two tables are guarded by the source's lock. The completion, the
// repeat and the delivery (the cache store and the caller's answer) run on the main
// thread, as do the platform background task that keeps each record alive.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/webcache/MVWebCacheDataSource.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/URLRequest.h"

namespace platform {
class HTTPURLResponse;
class Thread;
}  // namespace platform

class MVWebCacheHTTPDataSource final
    : public MVWebCacheDataSource,
      public std::enable_shared_from_this<MVWebCacheHTTPDataSource> {
  public:
    static constexpr const char* kThreadName = "MVWebCacheHTTPDataSource";
    static constexpr int64_t kFirstRequestSerial = 10000;
    static constexpr double kRequestTimeout = 120.0;
    static constexpr double kRefusedRetryDelay = 0.25;
    static constexpr double kFailsafeDelay = 5.0;
    static constexpr size_t kMaximumConnections = 3;
    static constexpr double kRepeatDelay = 5.0;
    // Repeats of a load before its last answer is delivered.
    static constexpr int kMaximumRepeats = 3;
    // Scripts and style sheets from the maker's servers this short are loaded again.
    static constexpr size_t kShortScriptLength = 9;
    static constexpr size_t kMaximumReservation = size_t{1} << 20;
    static constexpr size_t kMaximumBodyLength = size_t{64} << 20;
    // The URL error of a body past kMaximumBodyLength.
    static constexpr long kDataLengthExceedsMaximum = -1103;

    // What a finished load gives its callers: an error, or the data and info.
    struct Result {
        std::optional<platform::Error> error;
        Data data;
        nlohmann::json infoDictionary;
    };
    using OnFinishedDo = std::function<void(const Result& result)>;

    static std::shared_ptr<MVWebCacheHTTPDataSource> sharedDataSource();
    // The process's stop: the shared source, when it was made, cancels its loads and ends
    // its thread; a load started later is not made and not answered. Not on that thread.
    static void endLoads();
    ~MVWebCacheHTTPDataSource() override;

    // 1 for keys that parse as URLs whose scheme is "http" or "https", else 0.
    int priorityForKey(const std::string& key) const override;
    // The flags are ignored.
    void loadDataForKey(const std::string& key, int64_t flags, WhenAvailable whenAvailable,
                        WhenFailed whenFailed) override;
    std::string className() const override { return "MVWebCacheHTTPDataSource"; }

    // Starts a load of the request, or joins a running load of an equal one (same
    // method, URL and body). Any thread; onFinishedDo runs on the main thread.
    void performConnectionWithRequest(platform::URLRequest request, OnFinishedDo onFinishedDo);
    // The next serial for log lines, from kFirstRequestSerial.
    int64_t requestSerial();

    // The hosts of the maker's own servers (matched as parts of a host, ignoring case)
    // whose near-empty scripts and style sheets are loaded again.
    static void setShortScriptDomains(std::vector<std::string> domains);
    static std::vector<std::string> shortScriptDomains();

    // For tests: a lower body limit, and what is running.
    void setMaximumBodyLengthForTesting(size_t length);
    size_t runningConnectionCount() const;
    size_t runningLoadCount() const;

    struct Record;
    struct Attempt;
    class AttemptDelegate;

    MVWebCacheHTTPDataSource();

  private:
    bool isOnRequestThread() const;
    // `began`: when the load's first attempt began, for its repeats; none for a new load.
    void startLoad(platform::URLRequest request, std::vector<OnFinishedDo> blocks, int repeats = 0,
                   std::optional<platform::Date> began = std::nullopt);
    void startAttempt(const std::shared_ptr<Record>& record);
    void checkFailsafe(const std::shared_ptr<Record>& record);
    void giveUp(const std::shared_ptr<Record>& record);
    void finishAttempt(const std::shared_ptr<Record>& record);
    void completionHandler(const std::shared_ptr<Record>& record);
    void repeatLater(const std::shared_ptr<Record>& record, bool answered);
    // What the load's end tells the connection-loss monitor.
    static void reportOutcome(const Record& record, bool answered);
    // Cancels the loads and ends the thread; at the process's stop the thread's object
    // stays, as other threads may still start loads, which its ended loop never runs.
    void shutdown(bool keepThreadObject = false);
    // With the lock held: the record of a running attempt, which stops running; and the
    // end of the record's entry by request.
    std::shared_ptr<Record> takeRecordLocked(uint64_t attempt);
    void forgetRequestLocked(const std::shared_ptr<Record>& record);

    // The attempt's connection callbacks, on the request thread.
    std::optional<platform::URLRequest> willSendRequest(uint64_t attempt,
                                                        platform::URLRequest request,
                                                        const platform::HTTPURLResponse& response);
    void didReceiveResponse(uint64_t attempt, const platform::HTTPURLResponse& response);
    void didReceiveData(uint64_t attempt, const std::vector<uint8_t>& data);
    void didFinishLoading(uint64_t attempt);
    void didFailWithError(uint64_t attempt, const platform::Error& error);

    std::unique_ptr<platform::Thread> requestThread_;
    mutable std::mutex mutex_;
    // Attempt id -> the record it works for, while it runs.
    std::map<uint64_t, std::shared_ptr<Record>> connections_;
    // Request identity -> the running record, until its load finished or failed.
    std::map<std::string, std::shared_ptr<Record>> connectionForRequest_;
    int64_t nextRequestSerial_ = kFirstRequestSerial;
    uint64_t nextAttempt_ = 1;
    size_t maximumBodyLength_ = kMaximumBodyLength;
    // The thread ended at the process's stop (its object kept).
    bool threadEnded_ = false;
};
