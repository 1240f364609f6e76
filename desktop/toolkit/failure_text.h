// Reports of failed commands, in the program's language only: the core's error numbers
// each have a Croatian reason, and the core's English texts are never shown.
#pragma once

#include <QString>
#include <optional>

namespace pelinor {

class Error;

// The exception being handled, as an Error (call only inside a catch block).
// Anything that is not an Error becomes one with its own text.
Error currentError();

// The Croatian reason for one of the core's error numbers; nothing for another number.
std::optional<QString> croatianReason(int number);

// The reason for an error: its number's Croatian reason, with the figures of a picture over
// the pixel budget; "neočekivana pogreška" for a number the core does not use.
QString failureReason(const Error& error);

// "<what>\n\n<label>: <name>\nRazlog: <reason> (pogreška <number>)."; without the
// "<label>: <name>" line when `name` is empty.
QString failureMessage(const QString& what, const QString& label, const QString& name, const Error& error);
// The same with the label "Datoteka", naming the file a failure concerns.
QString failureMessage(const QString& what, const QString& path, const Error& error);

} // namespace pelinor
