#pragma once

#include <string>

#include "connector/updater/updater.h"

namespace korvane::connector {

// Returns the JSON text an update command prints for `outcome`.
std::string render_update_outcome(const UpdateOutcome& outcome);

}  // namespace korvane::connector
