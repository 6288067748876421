#pragma once
// The buyer's language: the first entry of the user default "AppleLanguages".

#include "wallet/TWAObject.h"
#include "wallet/proto/locale.pb.h"

class TWASharedRegionUtils {
  public:
    static constexpr const char* kPreferredLanguagesKey = "AppleLanguages";

    // None when the default is missing, empty or not a list of texts.
    static TWAText userPreferredLanguageCode();
    // That language code and an empty country code.
    static walletproto::OWLocale userLocale();
};
