#include "platform/ui/Color.h"

#include <ostream>

namespace platform {

std::ostream& operator<<(std::ostream& os, const Color& c) {
    return os << "rgba(" << c.red << ", " << c.green << ", " << c.blue << ", " << c.alpha << ")";
}

}  // namespace platform
