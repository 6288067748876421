#pragma once
// A page event: how native code speaks to a page. A name and positional parameters,
// which the page receives as one call of its library's dispatcher function:
//
//   MVEvent event("tabDidChange", nlohmann::json::array({"home"}));
//   event.stringForJavaFunctionCall();   // MVEvent.__call("tabDidChange",["home"])
//
// The builders of the event vocabulary are in MVEventViews.h, MVEventWebViews.h,
// MVEventLocation.h, MVEventGeneral.h and MVEventScanner.h. A plain value; not
// changed once handed to a web view.

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>

#include "platform/foundation/Exception.h"

class MVEventWithoutNameException : public platform::Exception {
  public:
    MVEventWithoutNameException();
};

class MVEvent {
  public:
    // Throws MVEventWithoutNameException for an empty name.
    explicit MVEvent(std::string eventName);
    // `parameters` is an array, or null for none.
    MVEvent(std::string eventName, const nlohmann::json& parameters);
    MVEvent(const MVEvent& other);
    MVEvent& operator=(const MVEvent& other);
    MVEvent(MVEvent&& other);
    MVEvent& operator=(MVEvent&& other) noexcept;
    ~MVEvent();

    const std::string& eventName() const { return eventName_; }
    // The positional parameters, always an array.
    const nlohmann::json& parameters() const { return *parameters_; }
    nlohmann::json& parameters() { return *parameters_; }

    // When set, this event replaces older ones of its name still waiting in a loading
    // page's event buffer.
    bool amendPreviousEvent() const { return amendPreviousEvent_; }
    void setAmendPreviousEvent(bool amend) { amendPreviousEvent_ = amend; }

    // The script that delivers the event: MVEvent.__call("<name>",<parameters>).
    std::string stringForJavaFunctionCall() const;
    // The event as log lines show it: MVEvent.<name>( "text", 2, [array] ).
    std::string stringForJavaDescription() const;

  private:
    std::string eventName_;
    std::unique_ptr<nlohmann::json> parameters_;  // never null
    bool amendPreviousEvent_ = false;
};
