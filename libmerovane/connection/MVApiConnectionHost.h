#pragma once
// What the API connection needs of the library application object: the user agent and
// application identifier its request heads carry, the wipe of stored state when the
// API server changes, and the live server's base URL. The library application
// implements it and registers itself with MVApiConnection::setHost before the first
// sharedConnection(); tests register a configuration of their own.
// Implementations are called from the main and the stream threads.

#include <string>

class MVApiConnectionHost {
  public:
    virtual ~MVApiConnectionHost() = default;
    // The library's user-agent string.
    virtual std::string userAgentString() = 0;
    // The identifier the API server knows the application by.
    virtual std::string appIdentifier() = 0;
    // Wipes the stored state of the last API server. Main thread.
    virtual void resetApplication() = 0;
    // The base URL of the live API server (an https URL).
    virtual std::string defaultApiPath() = 0;
};
