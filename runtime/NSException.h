// The platform's exception class. It is an ordinary C++ exception type exported
// from the runtime library, so an exception thrown in one loaded module is
// caught as NSException (or its subclass) in any other.
#pragma once

#include <exception>
#include <string>

namespace Runtime {

class __attribute__((visibility("default"))) NSException : public std::exception {
public:
    NSException(std::string name, std::string reason);
    ~NSException() override;

    const std::string& name() const { return m_name; }
    const std::string& reason() const { return m_reason; }
    const char* what() const noexcept override { return m_description.c_str(); }

private:
    std::string m_name;
    std::string m_reason;
    std::string m_description;
};

// The names Foundation uses for the exceptions the runtime raises.
inline constexpr const char* NSInvalidArgumentException = "NSInvalidArgumentException";
inline constexpr const char* NSRangeException = "NSRangeException";

} // namespace Runtime
