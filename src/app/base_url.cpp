#include "app/base_url.h"

namespace vellumora {

namespace {

std::optional<QUrl> parseServiceUrl(const QString& text) {
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    // "localhost:8787" parses with "localhost" as its scheme; only a web origin can serve us.
    const bool web = url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https");
    if (!url.isValid() || !web || url.host().isEmpty()) {
        return std::nullopt;
    }
    return url;
}

}  // namespace

QUrl resolveBaseUrl(const std::optional<QString>& serverVariable, const QString& builtInDefault) {
    if (serverVariable) {
        if (auto url = parseServiceUrl(*serverVariable)) {
            return *url;
        }
    }
    return QUrl(builtInDefault, QUrl::StrictMode);
}

}  // namespace vellumora
