#include "libmerovane/storage/MVWebCacheResourceObject.h"

#include "libmerovane/storage/MVObjectModel.h"

const MVEntityDescription& MVWebCacheResourceObject::entityDescription() {
    static const auto* entity =
        new MVEntityDescription("MVWebCacheResourceObject",
                                {{"id", MVAttributeType::String},
                                 {"mimeType", MVAttributeType::String},
                                 {"lastUpdate", MVAttributeType::Date},
                                 {"maximumLifetime", MVAttributeType::Double},
                                 {"infoDictionary", MVAttributeType::Transformable},
                                 {"localSerial", MVAttributeType::Integer64},
                                 {"shadowed", MVAttributeType::Boolean}},
                                &MVWebCacheResourceObject::make);
    return *entity;
}

std::shared_ptr<MVPersistentObject> MVWebCacheResourceObject::make() {
    return std::shared_ptr<MVPersistentObject>(new MVWebCacheResourceObject());
}
