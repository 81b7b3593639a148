#pragma once

#include <QString>

namespace korvane::connector {

// Returns the korvane-connector program to run: KORVANE_CONNECTOR_PATH when set; else the copy
// inside the application bundle, the one next to this executable, or the developer build path
// under the home directory (the last one unchecked).
QString locateConnectorProgram();

}  // namespace korvane::connector
