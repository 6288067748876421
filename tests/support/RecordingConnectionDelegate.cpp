#include "tests/support/RecordingConnectionDelegate.h"

#include "platform/foundation/Thread.h"

std::optional<platform::URLRequest> RecordingConnectionDelegate::willSendRequest(
    platform::URLRequest request, const platform::HTTPURLResponse& redirectResponse) {
    threadNames.push_back(platform::Thread::currentName());
    events.push_back("redirect " + std::to_string(redirectResponse.statusCode()) + " " +
                     request.url().absoluteString());
    redirectResponses.push_back(redirectResponse);
    redirectRequests.push_back(request);
    if (onRedirect) return onRedirect(std::move(request), redirectResponse);
    return request;
}

void RecordingConnectionDelegate::didReceiveResponse(const platform::HTTPURLResponse& response) {
    threadNames.push_back(platform::Thread::currentName());
    events.push_back("response " + std::to_string(response.statusCode()));
    responses.push_back(response);
    if (onResponse) onResponse(response);
}

void RecordingConnectionDelegate::didReceiveData(const std::vector<uint8_t>& chunk) {
    threadNames.push_back(platform::Thread::currentName());
    ++dataCalls;
    data.insert(data.end(), chunk.begin(), chunk.end());
    if (events.empty() || events.back().rfind("data ", 0) != 0) events.push_back("data");
    events.back() = "data " + std::to_string(data.size());
}

void RecordingConnectionDelegate::didFinishLoading() {
    threadNames.push_back(platform::Thread::currentName());
    events.push_back("finish");
    finished = true;
}

void RecordingConnectionDelegate::didFailWithError(const platform::Error& e) {
    threadNames.push_back(platform::Thread::currentName());
    events.push_back("fail " + std::to_string(e.code()));
    error = e;
}
