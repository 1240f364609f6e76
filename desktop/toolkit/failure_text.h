// Reports of failed commands, in the program's language.
#pragma once

#include <QString>

namespace pelinor {

class Error;

// The exception being handled, as an Error (call only inside a catch block).
// Anything that is not an Error becomes one with its own text.
Error currentError();

// A short Croatian reason for a core error, from its number; the core's own text
// for numbers without one.
QString failureReason(const Error& error);

// "<what>\n\nDatoteka: <path>\nRazlog: <reason> (pogreška <number>)."
QString failureMessage(const QString& what, const QString& path, const Error& error);

// The test dialog's report of a run-time error: its number, the Croatian reason when
// there is one, and the core's text.
QString runtimeErrorMessage(const Error& error);

} // namespace pelinor
