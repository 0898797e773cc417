#pragma once
// What the app remembers across launches, in one file: $XDG_CONFIG_HOME/vellumora/vellumora.conf.

#include <QSettings>

namespace vellumora::ui {

QSettings appSettings();

}  // namespace vellumora::ui
