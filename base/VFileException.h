// Thrown when a file cannot be opened or decoded; the message names the file.
#pragma once

#include "base/Vexception.h"

namespace Velmora {

class VFileException : public Vexception {
public:
    explicit VFileException(std::string message) : Vexception(std::move(message)) {}
};

} // namespace Velmora
