#pragma once
// Waits on real I/O (URL loading, the real web engine) while the manual clock moves on in
// steps of the web view's ready poll, so that loaded pages are polled and shown meanwhile:
//
//   ASSERT_TRUE(runUntilPolled([&] { return !webView->isLoading(); }, 10.0));
//
// Answers the predicate's last value. Main thread.

#include <functional>

bool runUntilPolled(const std::function<bool()>& done, double realTimeoutSeconds);
