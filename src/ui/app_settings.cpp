#include "ui/app_settings.h"

namespace vellumora::ui {

QSettings appSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("vellumora"),
                     QStringLiteral("vellumora"));
}

}  // namespace vellumora::ui
