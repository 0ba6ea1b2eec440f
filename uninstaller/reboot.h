// Starting a reboot of the machine.
#pragma once

namespace orvo::uninstaller {

// Enables the shutdown privilege and asks for a reboot; true when the system
// accepted the request.
bool StartReboot();

}  // namespace orvo::uninstaller
