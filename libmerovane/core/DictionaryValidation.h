#pragma once
// Checks a dictionary from a page or the server against a parameter specification
// (MVSpec), writing one line per fault, with the faulty member's path, to a log:
//
//   std::string log;
//   if (!isValidBySpecification(params, spec, &log)) MVLogWarn("{}", log);
//
// Paths start at the root's empty path: "/src", "/cmds[2]/c". Lines are joined by
// "\n" with none at the end. Every member is examined, so the log names every
// fault. Faults inside the elements of an array are logged but do not make the
// answer no. Members that `spec` does not name pass unchecked.

#include <nlohmann/json_fwd.hpp>
#include <string>

#include "libmerovane/core/MVSpec.h"

bool isValidBySpecification(const nlohmann::json& dictionary, const MVSpec& specification);
// `log` may be null: the same answer, nothing written.
bool isValidBySpecification(const nlohmann::json& dictionary, const MVSpec& specification,
                            std::string* log);
// The answer and log isValidBySpecification gives for the dictionary stripped of its null
// objects (dictionaryStrippedOfNullObjects), without building that copy.
bool isValidBySpecificationIgnoringNulls(const nlohmann::json& dictionary,
                                         const MVSpec& specification, std::string* log);
// The recursive step: checks `value` against one node at `path`.
bool validateNode(const nlohmann::json& value, const MVSpec& specification, const std::string& path,
                  std::string* log);
