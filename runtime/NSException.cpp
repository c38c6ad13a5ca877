#include "runtime/NSException.h"

namespace Runtime {

NSException::NSException(std::string name, std::string reason)
    : m_name(std::move(name))
    , m_reason(std::move(reason))
    , m_description(m_name + ": " + m_reason)
{
}

NSException::~NSException() = default;

} // namespace Runtime
