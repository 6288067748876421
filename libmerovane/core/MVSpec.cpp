#include "libmerovane/core/MVSpec.h"

std::string_view MVSpecClassName(MVSpecClass cls) {
    switch (cls) {
        case MVSpecClass::NSString:
            return "NSString";
        case MVSpecClass::NSMutableString:
            return "NSMutableString";
        case MVSpecClass::NSNumber:
            return "NSNumber";
        case MVSpecClass::NSDictionary:
            return "NSDictionary";
        case MVSpecClass::NSMutableDictionary:
            return "NSMutableDictionary";
        case MVSpecClass::NSArray:
            return "NSArray";
        case MVSpecClass::NSMutableArray:
            return "NSMutableArray";
    }
    return "NSObject";
}

MVSpec::MVSpec() = default;

MVSpec::MVSpec(MVSpecClass cls) : kind_(Kind::Class), class_(cls) {}

MVSpec::MVSpec(std::initializer_list<Member> members) : members_(members) {}

MVSpec MVSpec::arrayOf(MVSpec element) {
    MVSpec spec;
    spec.kind_ = Kind::Array;
    spec.element_ = std::make_unique<MVSpec>(std::move(element));
    return spec;
}

MVSpec MVSpec::dictionary(std::vector<Member> members) {
    MVSpec spec;
    spec.members_ = std::move(members);
    return spec;
}

MVSpec::MVSpec(const MVSpec& other)
    : kind_(other.kind_),
      class_(other.class_),
      members_(other.members_),
      element_(other.element_ ? std::make_unique<MVSpec>(*other.element_) : nullptr) {}

MVSpec& MVSpec::operator=(const MVSpec& other) {
    if (this != &other) *this = MVSpec(other);
    return *this;
}

MVSpec::MVSpec(MVSpec&&) noexcept = default;
MVSpec& MVSpec::operator=(MVSpec&&) noexcept = default;
MVSpec::~MVSpec() = default;

const std::vector<MVSpec::Member>& MVSpec::members() const {
    return members_;
}

const MVSpec& MVSpec::element() const {
    return *element_;
}
