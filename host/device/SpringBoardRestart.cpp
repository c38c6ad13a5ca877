#include "host/device/SpringBoardRestart.h"

#include "host/device/DeviceLayout.h"
#include "host/device/ToolRun.h"
#include "platform/process/DeviceProcesses.h"

namespace Device {

bool isBooted(const std::string& deviceRoot) { return Platform::isRunningOnDevice(deviceRoot, Paths::springBoard); }

bool restartSpringBoard(const std::string& deviceRoot)
{
    if (!isBooted(deviceRoot))
        return false;
    return runTool({ jailbreakHostPath(deviceRoot, JailbreakPaths::killall), "-9", "SpringBoard" }).succeeded();
}

} // namespace Device
