#include "engine/FramebufferStack.h"

namespace Velmora {

FramebufferStack& FramebufferStack::instance() {
    static FramebufferStack stack;
    return stack;
}

} // namespace Velmora
