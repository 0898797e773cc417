#include "ui/symbol_icons.h"

#include <QHash>
#include <QIconEngine>
#include <QLabel>
#include <QPainter>
#include <QPixmap>

#include <utility>

// Resources of a static library are registered by hand, once, outside any namespace.
static void initSymbolResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(symbol_icons);
        return true;
    }();
    (void)registered;
}

namespace vellumora::ui {

namespace {

const QHash<QString, QString>& symbolTable() {
    static const QHash<QString, QString> table{
        {"paintpalette.fill", "applications-graphics-symbolic"},
        {"person.crop.circle.fill", "avatar-default-symbolic"},
        {"ellipsis.circle", "view-more-symbolic"},
        {"pencil.tip.crop.circle.fill", ":/vellumora/symbols/crayon.svg"},
        {"cursorarrow", "input-mouse-symbolic"},
        {"book.closed.fill", "accessories-dictionary-symbolic"},
        {"plus.circle", "list-add-symbolic"},
        {"person.crop.circle.badge.questionmark", "dialog-question-symbolic"},
        {"checkmark", "object-select-symbolic"},
        {"xmark", "window-close-symbolic"},
        {"checkmark.circle.fill", "emblem-ok-symbolic"},
        {"person.2.fill", "system-users-symbolic"},
        {"doc.on.doc", "document-open-symbolic"},
        {"camera.fill", "camera-photo-symbolic"},
        {"trash", "user-trash-symbolic"},
        {"video.slash", "camera-disabled-symbolic"},
        {"arrow.uturn.backward", "edit-undo-symbolic"},
        {"arrow.uturn.forward", "edit-redo-symbolic"},
        // The brushes and the eraser need distinct icons; no theme has them, so they ship with us.
        {"highlighter", ":/vellumora/symbols/sketch-pen.svg"},
        {"pencil", ":/vellumora/symbols/color-pencil.svg"},
        {"paintbrush.pointed.fill", ":/vellumora/symbols/watercolor.svg"},
        {"paintbrush", ":/vellumora/symbols/pastel.svg"},
        {"eraser", ":/vellumora/symbols/eraser.svg"},
    };
    return table;
}

// Paints the wrapped icon, then fills its opaque pixels with the tint.
class TintedIconEngine : public QIconEngine {
  public:
    TintedIconEngine(QIcon base, QColor tint) : base_(std::move(base)), tint_(tint) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap pix = tinted(rect.size() * ratio, mode, state);
        pix.setDevicePixelRatio(ratio);
        painter->drawPixmap(rect, pix);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return tinted(size, mode, state);
    }

    QIconEngine* clone() const override { return new TintedIconEngine(base_, tint_); }
    QString key() const override { return QStringLiteral("vellumora.tinted"); }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return base_.actualSize(size, mode, state);
    }
    bool isNull() override { return base_.isNull(); }

  private:
    QPixmap tinted(const QSize& size, QIcon::Mode mode, QIcon::State state) const {
        QPixmap pix = base_.pixmap(size, QIcon::Normal, state);
        if (pix.isNull()) {
            return pix;
        }
        QColor tint = tint_;
        if (mode == QIcon::Disabled) {
            tint.setAlphaF(tint.alphaF() * 0.4f);
        }
        QPainter p(&pix);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(pix.rect(), tint);
        return pix;
    }

    QIcon base_;
    QColor tint_;
};

}  // namespace

QString themeIconName(const QString& symbol) {
    return symbolTable().value(symbol);
}

QStringList knownSymbols() {
    return symbolTable().keys();
}

QIcon symbolIcon(const QString& symbol) {
    const QString name = themeIconName(symbol);
    if (name.startsWith(QLatin1String(":/"))) {
        initSymbolResources();
        return QIcon(name);
    }
    return name.isEmpty() ? QIcon() : QIcon::fromTheme(name);
}

QIcon symbolIcon(const QString& symbol, const QColor& tint) {
    QIcon base = symbolIcon(symbol);
    return base.isNull() ? base : QIcon(new TintedIconEngine(std::move(base), tint));
}

void setSymbol(QLabel* label, const QString& symbol, const QColor& tint, int logicalSize) {
    const qreal ratio = label->devicePixelRatioF();
    QPixmap pix = symbolIcon(symbol, tint).pixmap(QSize(logicalSize, logicalSize) * ratio);
    pix.setDevicePixelRatio(ratio);
    label->setPixmap(pix);
    label->setFixedSize(logicalSize, logicalSize);
}

void installIconTheme() {
    QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor")) {
        QIcon::setThemeName(QStringLiteral("Adwaita"));
    }
}

}  // namespace vellumora::ui
