// Group membership of the user running the engine.
#pragma once

namespace orvo::uninstaller {

bool IsAdministrator();
bool IsPowerUserOrAdministrator();

}  // namespace orvo::uninstaller
