#include "libmerovane/core/CALayerExtensions.h"

#include "platform/ui/Layer.h"

void removeAllAnimationsRecursive(platform::Layer& layer) {
    layer.removeAllAnimations();
    auto sublayers = layer.sublayers();
    for (auto& sub : sublayers) removeAllAnimationsRecursive(*sub);
}
