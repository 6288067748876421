#pragma once
// Layer helpers.

namespace platform {
class Layer;
}

// Removes every animation of the layer and, depth first, of each of its sublayers.
void removeAllAnimationsRecursive(platform::Layer& layer);
