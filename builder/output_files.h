// Output files that appear whole or not at all: the content goes to a new file beside the
// target, which then takes the target's name.
#pragma once

#include <string>
#include <string_view>

#include "engine/outcome.h"

// Creates a new file in the folder of `target`, named after it, and writes `content` to it.
// Gives the new file's path.
Outcome<std::string> writeBeside(const std::string& target, std::string_view content);

// Gives `temporary` the name `target`. Without `replace` an existing target is left alone and
// the move fails. The temporary file is gone afterwards either way.
Status moveIntoPlace(const std::string& temporary, const std::string& target, bool replace);

// Removes a file that writeBeside made (nothing happens for an empty path).
void discardFile(const std::string& path);
