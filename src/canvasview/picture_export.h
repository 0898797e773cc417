#pragma once
// "Export picture…" and "Copy picture": the canvas as it shows (paper, ink and line art) at its
// full 2048 × 2048, composed where the GL context lives and encoded and written off the GUI
// thread. A room whose ink is still being painted is exported once it is all there.

#include <QDate>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

namespace vellumora {

class CanvasCoordinator;
class CanvasInputView;

class PictureExport : public QObject {
    Q_OBJECT

  public:
    // How often a read-back under way is looked at.
    static constexpr std::chrono::milliseconds kPollInterval{2};

    PictureExport(CanvasInputView& view, CanvasCoordinator& coordinator, QObject* parent = nullptr);

    // "<room> <date>.png" in `folder`, the room's name made safe for a file name.
    static QString suggestedPath(const QString& folder, const std::optional<QString>& roomName, QDate date);
    // The user's pictures folder (made if missing), else the home folder.
    static QString picturesFolder();

    // Writes the picture to `path`; `saved` or `failed` follows.
    void saveTo(const QString& path);
    // Puts the picture on the clipboard; `copied` or `failed` follows.
    void copy();

  signals:
    void saved(const QString& path);
    void copied();
    void failed(const QString& message);

  private:
    // Runs `job` with the read-back once every stroke of the room is painted; one read-back
    // serves every job asked for while it is under way.
    void withPicture(std::function<void(QImage)> job);
    void readBack();
    void pollReadBack();

    CanvasInputView& view_;
    CanvasCoordinator& coordinator_;
    std::vector<std::function<void(QImage)>> jobs_;
    QTimer poll_;
};

}  // namespace vellumora
