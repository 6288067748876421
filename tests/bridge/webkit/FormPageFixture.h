#pragma once
// A page's POST form over the real engine: the server answering it (by a page at the form's
// address /post, or by a 303 to that page at /done), the page shown by its title, the page's
// later commands, and the body a row expects with the boundary the engine chose.

#include <optional>
#include <string>

#include "tests/bridge/webkit/MVWebViewWebKitFixture.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TestPageLibrary.h"

// Pages send their onload command, the page's half of the web view's onload latch.
constexpr const char* kFormPageSendsOnload =
    "<script>addEventListener('load', function () {"
    " mvSendCommands({ver: '2.0', cmds: [{c: 'testOnload'}]}); });</script>";

class FormPageFixture : public MVWebViewWebKitFixture {
  protected:
    // The page shown is the one titled `title`, with its library ready.
    bool shows(const std::string& title) {
        return settle([&] {
            return webView->isUsingLibrary() && !webView->isLoading() &&
                   js("document.title") == title;
        });
    }
    // The page's own command comes back to it.
    bool commandsStillArrive() {
        const size_t before = pageRoundTrips().size();
        js("mvSendCommands({ver: '2.0', cmds: [{c: 'testAnswer', p: {event: 'later'}}]})");
        return settle([&] { return pageRoundTrips().size() == before + 1; });
    }
    // The one request the server got at /post, once the answer is shown.
    std::optional<HttpTestServer::Request> answeredPost() {
        if (!shows("answer") || server.requestCount("/post") != 1) return std::nullopt;
        return server.lastRequest("/post");
    }
    // The page titled "answer" at /post, or a 303 there to it at /done.
    void answerAt(int status) {
        const auto answer = HttpTestServer::Response::text(
            200,
            testpage::pageWithLibrary("<p>thanks</p>",
                                      std::string("<title>answer</title>") + kFormPageSendsOnload),
            "text/html");
        server.respond("/post",
                       status == 303 ? HttpTestServer::Response::redirect(303, "/done") : answer);
        server.respond("/done", answer);
    }
    // `body` with each BOUNDARY replaced by the boundary `contentType` names.
    static std::string withBoundary(std::string body, const std::string& contentType) {
        const auto at = contentType.find("boundary=");
        const std::string boundary = at == std::string::npos ? "" : contentType.substr(at + 9);
        for (size_t found; (found = body.find("BOUNDARY")) != std::string::npos;)
            body.replace(found, 8, boundary);
        return body;
    }

    HttpTestServer server;
};
