#pragma once
// What the commands need of native action sheets: a sheet whose buttons and time-out run
// single commands for the web view that asked for it. The overlays install it; until
// then no sheet is shown.
//
//   if (auto sheets = MVActionSheetInterface::shared())
//       sheets->showActionSheet(parameters, webView);
//
// Main thread only, but for the accessors, which any thread may call.

#include <memory>
#include <nlohmann/json_fwd.hpp>

class MVWebView;

class MVActionSheetInterface {
  public:
    virtual ~MVActionSheetInterface() = default;

    // Shows the sheet the command's parameters describe ("title", "cancelButton",
    // "destructiveButton", "buttons", each button {"title", "cmd"}; "timeout" and
    // "timeoutCmd"), in the application's first window, and keeps a copy of them and the
    // web view (null: commands run for none). The parameters arrive unchecked beyond the
    // command's specification: any value may stand anywhere.
    virtual void showActionSheet(const nlohmann::json& parameters,
                                 const std::shared_ptr<MVWebView>& webView) = 0;

    // The installed action sheet, or null.
    static std::shared_ptr<MVActionSheetInterface> shared();
    // Null removes it.
    static void install(std::shared_ptr<MVActionSheetInterface> actionSheet);
};
