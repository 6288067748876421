#include "libmerovane/connection/MVApiConnectionVariable.h"

#include "libmerovane/storage/MVObjectModel.h"

const MVEntityDescription& MVApiConnectionVariable::entityDescription() {
    static const auto* entity = new MVEntityDescription(
        "MVApiConnectionVariable", {{"id", MVAttributeType::String}, {"context", MVAttributeType::String}},
        &MVApiConnectionVariable::make);
    return *entity;
}

std::shared_ptr<MVPersistentObject> MVApiConnectionVariable::make() {
    return std::shared_ptr<MVPersistentObject>(new MVApiConnectionVariable());
}
