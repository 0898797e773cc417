#pragma once
// The service's base URL: the SERVER environment variable when it holds a usable http(s) URL,
// else the built-in default.

#include <QUrl>
#include <optional>

namespace vellumora {

// `serverVariable` is the value of SERVER, none when it is unset.
QUrl resolveBaseUrl(const std::optional<QString>& serverVariable, const QString& builtInDefault);

}  // namespace vellumora
