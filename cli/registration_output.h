// The --register option of detect and identify, and how a registration is printed.
#pragma once

#include "cli/args.h"
#include "cli/json.h"
#include "watermark/registration.h"

#include <optional>
#include <string>

namespace pelinor::cli {

// --register auto|always|never (default auto); anything else is a UsageError.
RegisterMode registerMode(const ParsedArgs& args);

// Adds "registration": {method, scale, rotation_deg, shift_x, shift_y, mirrored, coverage,
// tone, image_correlation}, or null when the plain detection answered.
void addRegistration(JsonObject& json, const std::optional<Registration>& registration);

// "registration: none" or one line with the same figures.
std::string registrationText(const std::optional<Registration>& registration);

// The suspect registered onto the original. A suspect that cannot be aligned is a
// FileError naming the file and both sizes, or, when `mayFail`, no registration.
std::optional<Registered> registerSuspect(
    const Picture& original, const Picture& suspect, const std::string& suspectPath, bool mayFail = false);

} // namespace pelinor::cli
