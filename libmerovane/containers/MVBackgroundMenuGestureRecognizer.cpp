#include "libmerovane/containers/MVBackgroundMenuGestureRecognizer.h"

#include "libmerovane/containers/MVBackgroundMenuGestureRecognizerScreenEdge.h"

std::shared_ptr<MVBackgroundMenuGestureRecognizer>
MVBackgroundMenuGestureRecognizer::recognizerWithType(std::string_view type) {
    const auto* cls = MVBackgroundMenuGestureRecognizerRegistry::classForType(type);
    return cls ? cls->create() : nullptr;
}

double MVBackgroundMenuGestureRecognizer::currentFraction() const {
    auto controller = controller_.lock();
    return controller ? controller->currentFraction() : 0;
}

platform::Size MVBackgroundMenuGestureRecognizer::menuViewSize() const {
    auto controller = controller_.lock();
    return controller ? controller->menuViewSize() : platform::Size();
}

std::shared_ptr<const nlohmann::json> MVBackgroundMenuGestureRecognizer::currentViewProperties()
    const {
    auto controller = controller_.lock();
    return controller ? controller->currentViewProperties() : nullptr;
}

MVBackgroundMenuPresentationEdge MVBackgroundMenuGestureRecognizer::backgroundMenuPresentationEdge()
    const {
    auto controller = controller_.lock();
    return controller ? controller->backgroundMenuPresentationEdge()
                      : MVBackgroundMenuPresentationEdge::None;
}

void MVBackgroundMenuGestureRecognizer::wasAddedToBackgroundMenuController(
    const std::shared_ptr<MVBackgroundMenuGestureRecognizing>& controller,
    const std::shared_ptr<MVBackgroundMenuAnimation>& animation) {
    controller_ = controller;
    if (controller) didAddToBackgroundMenuController(*controller, animation);
}

void MVBackgroundMenuGestureRecognizer::wasRemovedFromBackgroundMenuController(
    const std::shared_ptr<MVBackgroundMenuGestureRecognizing>& controller) {
    controller_.reset();
    if (controller) willBeRemovedFromBackgroundController(*controller);
}

void MVBackgroundMenuGestureRecognizer::backgroundMenuControllerUsesAnimation(
    const MVBackgroundMenuGestureRecognizing& controller,
    const std::shared_ptr<MVBackgroundMenuAnimation>&) {
    if (controller_.lock().get() == &controller)
        backgroundMenuControllerDidChangeBackgroundMenuAnimation();
}

const std::vector<const MVBackgroundMenuGestureRecognizerClass*>&
MVBackgroundMenuGestureRecognizerRegistry::registeredClasses() {
    static const MVBackgroundMenuGestureRecognizerClass kScreenEdge{
        "MVBackgroundMenuGestureRecognizerScreenEdge",
        MVBackgroundMenuGestureRecognizerScreenEdge::kRecognizerType,
        [] { return MVBackgroundMenuGestureRecognizerScreenEdge::create(); }};
    static const std::vector<const MVBackgroundMenuGestureRecognizerClass*> kClasses{&kScreenEdge};
    return kClasses;
}

MVBackgroundMenuGestureRecognizerRegistry::Types
MVBackgroundMenuGestureRecognizerRegistry::typesOfClasses(
    const std::vector<const MVBackgroundMenuGestureRecognizerClass*>& classes) {
    Types types;
    for (const auto* cls : classes) {
        if (!cls->ownRecognizerType)
            throw MVBackgroundMenuGestureRecognizerTypeNotFoundException(
                "MVBackgroundMenuGestureRecognizer type not given",
                "MVBackgroundMenugesturerecognizer type not given in subclass: \"" + cls->name +
                    "\".");
        const std::string& type = *cls->ownRecognizerType;
        if (!types.emplace(type, cls).second)
            throw MVBackgroundMenuGestureRecognizerTypeGivenTwiceException(
                "MVBackgroundMenuGestureRecognizer type given twice",
                "MVBackgroundMenuGestureRecognizer type has given twice: \"" + type + "\".\n");
    }
    return types;
}

const MVBackgroundMenuGestureRecognizerRegistry::Types&
MVBackgroundMenuGestureRecognizerRegistry::backgroundMenuGestureRecognizers() {
    static const Types kTypes = typesOfClasses(registeredClasses());
    return kTypes;
}

const MVBackgroundMenuGestureRecognizerClass*
MVBackgroundMenuGestureRecognizerRegistry::classForType(std::string_view type) {
    const auto& types = backgroundMenuGestureRecognizers();
    auto it = types.find(type);
    return it == types.end() ? nullptr : it->second;
}
