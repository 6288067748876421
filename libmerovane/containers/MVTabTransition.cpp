#include "libmerovane/containers/MVTabTransition.h"

#include <fmt/format.h>

#include <typeindex>
#include <unordered_map>

#include "platform/foundation/DispatchQueue.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/ui/View.h"

namespace {

using Sequence = MVTabTransition::Sequence;
using View = MVTabTransition::View;

std::optional<std::map<std::string, MVTabTransition::Registration>>& registry() {
    static std::optional<std::map<std::string, MVTabTransition::Registration>> built;
    return built;
}

// The shared sequences by kind, each made on first use.
std::unordered_map<std::type_index, std::shared_ptr<const Sequence>>& sequencesOfMVTransitions() {
    static auto* sequences = [] {
        auto* created = new std::unordered_map<std::type_index, std::shared_ptr<const Sequence>>;
        created->reserve(5);
        return created;
    }();
    return *sequences;
}

void setOriginY(const View& view, double y) {
    if (!view) return;
    auto frame = view->frame();
    frame.origin.y = y;
    view->setFrame(frame);
}

// The slide's Animation step: moves the view's top to `y(bounds)` over 0.3 s times the
// speed factor, then names the Finished step.
MVTabTransition::Step slide(bool appearing, double (*y)(const platform::Rect& bounds)) {
    return [appearing, y](MVTabTransition& transition, const View& in, const View& out,
                          const platform::Rect& bounds) {
        const View& moving = appearing ? in : out;
        MVTabTransition::perform(
            [&moving, target = y(bounds)](double duration) {
                platform::View::animate(duration, 0, 0, [&] { setOriginY(moving, target); });
            },
            transition.shared_from_this(), MVTabTransitionStepFinished,
            0.3 * transition.speedFactor());
    };
}

void finished(MVTabTransition&, const View&, const View&, const platform::Rect&) {}

}  // namespace

std::shared_ptr<MVTabTransition> MVTabTransition::create() {
    return std::shared_ptr<MVTabTransition>(new MVTabTransition);
}

std::vector<MVTabTransition::Registration>& MVTabTransition::registrations() {
    static auto* list = [] {
        auto* created = new std::vector<Registration>;
        auto fill = [created] {
            *created = {
                registration<MVTabTransitionSlideInFromBottom>("MVTabTransitionSlideInFromBottom"),
                registration<MVTabTranstitionSlideOutToBottom>("MVTabTranstitionSlideOutToBottom"),
            };
            registry().reset();
            sequencesOfMVTransitions().clear();
        };
        fill();
        platform::registerSharedInstanceReset("MVTabTransition", fill);
        return created;
    }();
    return *list;
}

const std::map<std::string, MVTabTransition::Registration>& MVTabTransition::transitionTypes() {
    auto& built = registry();
    if (built) return *built;
    std::map<std::string, Registration> types;
    for (const auto& kind : registrations()) {
        if (!kind.definesTransitionType)
            throw MVTabTransitionTypeNotGiven(
                "MVTabTransition - type not given",
                fmt::format("MVTabTransition type not given in subclass: \"{}\".", kind.className));
        auto type = kind.transitionType();
        if (!type) continue;
        if (types.count(*type))
            throw MVTabTransitionTypeGivenTwiceException(
                "MVTransition - type given twice",
                fmt::format("MVTabTransition type has given twice: \"{}\".\n", *type));
        types.emplace(*type, kind);
    }
    built = std::move(types);
    return *built;
}

const Sequence& MVTabTransition::sequence() {
    auto& sequences = sequencesOfMVTransitions();
    const std::type_index kind(typeid(*this));
    auto found = sequences.find(kind);
    if (found != sequences.end()) return *found->second;
    auto made = transitionSequence();
    if (!made)
        throw MVTabTransitionSequenceCreationException(
            "The tab transition sequence is not from type NSDictionary",
            fmt::format(
                "The tab transition sequence in class \"{}\" is not from type NSDictionary.",
                className_));
    return *sequences.emplace(kind, std::move(made)).first->second;
}

std::shared_ptr<const Sequence> MVTabTransition::transitionSequence() const {
    throw MVTabTransitionSequenceNotImplementedException(
        "The tab transition sequence method is not implemented",
        fmt::format("The tab transition sequence method is not implemented in class \"{}\".",
                    className_));
}

bool MVTabTransition::transitionViewHierarchy() const {
    throw MVTabTransitionViewHierarchyNotGivenException(
        "The class method <transitionViewHierarchy> is not implemented in a MVTabTransition",
        fmt::format("The class method <transitionViewHierarchy> is not implemented in \"{}\".",
                    className_));
}

void MVTabTransition::perform(const Schedule& schedule,
                              const std::shared_ptr<MVTabTransition>& transition,
                              const std::string& nextStep, double duration) {
    transition->nextStep_ = nextStep;
    if (schedule) schedule(duration);
    platform::DispatchQueue::main()
        .after(duration,
               [weak = std::weak_ptr<MVTabTransition>(transition)] {
                   auto alive = weak.lock();
                   if (!alive) return;
                   if (auto delegate = alive->delegate())
                       delegate->tabTransitionDidFinishTransitionStep(*alive);
               })
        .detach();
}

std::shared_ptr<MVTabTransitionSlideInFromBottom> MVTabTransitionSlideInFromBottom::create() {
    return std::shared_ptr<MVTabTransitionSlideInFromBottom>(new MVTabTransitionSlideInFromBottom);
}

std::shared_ptr<const Sequence> MVTabTransitionSlideInFromBottom::transitionSequence() const {
    auto start = [](MVTabTransition& transition, const View& in, const View& out,
                    const platform::Rect& bounds) {
        MVTabTransition::perform(
            [&](double) {
                const auto& size = bounds.size;
                if (in) in->setFrame(platform::Rect(0, size.height, size.width, size.height));
                if (out) out->setFrame(bounds);
            },
            transition.shared_from_this(), MVTabTransitionStepAnimation, 0);
    };
    return std::make_shared<const Sequence>(Sequence{
        {MVTabTransitionStepStart, start},
        {MVTabTransitionStepAnimation, slide(true, [](const platform::Rect&) { return 0.0; })},
        {MVTabTransitionStepFinished, finished},
    });
}

std::shared_ptr<MVTabTranstitionSlideOutToBottom> MVTabTranstitionSlideOutToBottom::create() {
    return std::shared_ptr<MVTabTranstitionSlideOutToBottom>(new MVTabTranstitionSlideOutToBottom);
}

std::shared_ptr<const Sequence> MVTabTranstitionSlideOutToBottom::transitionSequence() const {
    auto start = [](MVTabTransition& transition, const View& in, const View&,
                    const platform::Rect& bounds) {
        MVTabTransition::perform(
            [&](double) {
                if (in) in->setFrame(bounds);
            },
            transition.shared_from_this(), MVTabTransitionStepAnimation, 0);
    };
    return std::make_shared<const Sequence>(Sequence{
        {MVTabTransitionStepStart, start},
        {MVTabTransitionStepAnimation,
         slide(false, [](const platform::Rect& bounds) { return bounds.size.height; })},
        {MVTabTransitionStepFinished, finished},
    });
}
