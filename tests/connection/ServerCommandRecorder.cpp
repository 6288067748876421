#include "tests/connection/ServerCommandRecorder.h"

#include <mutex>

#include "libmerovane/handlers/MVCommandHandlerClasses.h"
#include "libmerovane/handlers/MVCommandHandler_2_1.h"

namespace ServerCommandRecorder {
namespace {

struct Record {
    std::mutex mutex;
    std::vector<nlohmann::json> performed;
};

Record& record() {
    static auto* r = new Record;
    return *r;
}

}  // namespace

void install() {
    registerCommandHandlerClasses();
    MVCommandHandler_2_1::commandTable().add(
        kName, {MVSpec{}, [](MVCommandHandler&, nlohmann::json* parameters, const auto&) {
                    std::lock_guard lock(record().mutex);
                    record().performed.push_back(parameters ? *parameters : nlohmann::json());
                }});
    std::lock_guard lock(record().mutex);
    record().performed.clear();
}

std::vector<nlohmann::json> performed() {
    std::lock_guard lock(record().mutex);
    return record().performed;
}

size_t performedCount() {
    std::lock_guard lock(record().mutex);
    return record().performed.size();
}

nlohmann::json collection(const nlohmann::json& parameters) {
    return {{"ver", "2.1"}, {"cmds", {{{"c", kName}, {"p", parameters}}}}};
}

}  // namespace ServerCommandRecorder
