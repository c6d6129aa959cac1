// The engine's exception: a fixed message text for a fatal condition.
// Only the entry point catches (to print the message and exit with status 1).
#pragma once

#include <exception>
#include <string>

namespace Velmora {

class Vexception : public std::exception {
public:
    explicit Vexception(std::string message) : message(std::move(message)) {}
    Vexception(const Vexception&) = default;
    ~Vexception() override = default;

    const char* what() const noexcept override { return message.c_str(); }

private:
    std::string message;
};

} // namespace Velmora
