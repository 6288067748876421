#pragma once
// The owner of a web page view controller (the navigation stack), told when the
// navigation-bar parameters or title of the page change, and asked before a pop.
//
// Main thread only.

#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

class MVNavigationControllerInterface;
class MVWebViewController;

class MVWebViewControllerDelegate {
  public:
    virtual ~MVWebViewControllerDelegate() = default;
    // Parameters are dictionaries or null.
    virtual void webViewControllerDidChangeNavigationBarParams(
        MVWebViewController& controller, const nlohmann::json* fromParams,
        const nlohmann::json* toParams, const std::optional<std::string>& fromTitle,
        const std::optional<std::string>& toTitle) = 0;
};

// A page of a navigation stack, asked before the stack pops it.
class MVNavigationControllerClient {
  public:
    virtual ~MVNavigationControllerClient() = default;
    // False keeps the page on the stack (it went back in its own history).
    virtual bool shouldBePoppedOfNavigationController(
        MVNavigationControllerInterface& navigationController) = 0;
};
