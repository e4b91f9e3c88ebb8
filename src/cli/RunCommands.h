// "run": starts an action and shows its progress until it finishes, runs a query and prints its
// first complete result, walks a wizard with the values given, or sends a one-shot command.
#pragma once

#include "CommandSupport.h"
#include "app/MenuCatalog.h"

#include <vector>

namespace kestel::cli {

// `boxes` tells whether the router refused something meanwhile.
int runMenu(CommandContext& context, const MenuRef& menu, const std::vector<Assignment>& values,
            const StderrBoxes& boxes);

} // namespace kestel::cli
