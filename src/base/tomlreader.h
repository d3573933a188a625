#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// Reads a TOML document (Codex keeps its settings in one) into JSON terms, so that code which looks
// for our server entry can treat it like any JSON config: tables become objects, arrays arrays,
// strings, booleans and numbers their JSON kinds; dates, times, inf and nan stay text. It checks
// the syntax of TOML 1.0 (and accepts the multi-line inline tables of 1.1) but not every semantic
// rule a strict reader enforces, such as a table defined twice.
namespace TomlReader {

// False with a reason naming the line in *error (when given) when the bytes are not TOML.
[[nodiscard]] bool parse(const QByteArray &bytes, QJsonObject *document, QString *error = nullptr);

} // namespace TomlReader
