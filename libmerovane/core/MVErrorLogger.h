#pragma once
// Stand-in until the error logger lands: the same interface, reports kept for tests.

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

struct MVErrorReport {
    std::string description;
    std::shared_ptr<const nlohmann::json> data;
};

class MVErrorLogger {
public:
    static void logError(const std::string& description, const nlohmann::json& data);
    static void logError(const std::string& description);
    static std::vector<MVErrorReport> reports();
    static void clearReports();
};
