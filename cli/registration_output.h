// The --register option of detect and identify, and how a registration is printed.
#pragma once

#include "base/error.h"
#include "cli/args.h"
#include "cli/json.h"
#include "watermark/detector.h"
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

// A suspect that registration could not align, as a FileError naming the file and both
// sizes; any other error is left to the caller.
void nameUnalignableSuspect(
    const Error& e, const Picture& original, const Picture& suspect, const std::string& suspectPath);

// Runs a detection, naming the suspect when it cannot be aligned.
template <class F>
auto withRegistrationNamed(
    const Picture& original, const Picture& suspect, const std::string& suspectPath, F&& run)
{
    try {
        return run();
    } catch (const Error& e) {
        nameUnalignableSuspect(e, original, suspect, suspectPath);
        throw;
    }
}

} // namespace pelinor::cli
