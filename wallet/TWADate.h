#pragma once
// The current date, read from the platform clock.

#include "platform/foundation/Date.h"

class TWADate {
  public:
    static platform::Date date() { return platform::Date::now(); }
};
