// The program's private temporary directory: created on first use under the system temporary
// directory with mode 0700 and a random name, removed with its content when the program ends.
// Listing files and viewed files go here, never into a shared, predictable path.
#pragma once

#include <QString>

namespace platform {

// Absolute path with a trailing '/'. Empty when the directory cannot be created.
QString PrivateTempDir();

}  // namespace platform
