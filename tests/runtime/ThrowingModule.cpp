// Loaded by the runtime tests with dlopen: raises an exception of a subclass
// that only this module knows.
#include "runtime/NSException.h"

namespace {

class ModuleException final : public Runtime::NSException {
public:
    ModuleException()
        : NSException("ModuleException", "raised inside a loaded module")
    {
    }
    ~ModuleException() override;
};

ModuleException::~ModuleException() = default;

} // namespace

extern "C" __attribute__((visibility("default"))) void raiseModuleException() { throw ModuleException(); }
extern "C" __attribute__((visibility("default"))) void raiseOtherException() { throw 42; }
