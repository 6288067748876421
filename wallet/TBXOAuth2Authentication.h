#pragma once
// Form coding of name=value pairs (application/x-www-form-urlencoded).
//
//   TBXOAuth2Authentication::encodedQueryParametersForDictionary({{"b", "1=2"}, {"A", "x"}})
//       == "A=x&b=1%3D2"
//
// The encoder orders names without regard to case and keeps only the RFC 3986
// unreserved characters; the decoder reads "+" as a space, splits at "&" and at the
// first "=" of each pair, and percent-decodes (a broken escape stays as it is).

#include <map>
#include <string>
#include <string_view>

class TBXOAuth2Authentication {
  public:
    using Parameters = std::map<std::string, std::string>;

    static std::string encodedQueryParametersForDictionary(const Parameters& parameters);
    // A later pair wins over an earlier one with the same name.
    static Parameters dictionaryWithResponseString(std::string_view text);

    static std::string encodedOAuthValueForString(std::string_view text);
    static std::string unencodedOAuthParameterForString(std::string_view text);
};
