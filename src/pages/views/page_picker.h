#pragma once
// The page section of the side panel: the built-in pages as a two-column grid of thumbnails
// with the room's page marked, importing a PNG or JPG file as a page, scanning a sketch with
// the camera, and clearing the canvas. A chosen page becomes the room's page here at once and
// is announced to the room.

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

#include "lineart/line_art_extractor.h"
#include "session/current_page.h"

class QLabel;
class QPushButton;

namespace vellumora {

class PageThumbnail;
class SessionModel;

class PagePicker : public QWidget {
    Q_OBJECT

  public:
    // Asks the user for one file and calls onChosen with its path, or never when cancelled.
    using FileChooser =
        std::function<void(QWidget* parent, std::function<void(const QString& path)> onChosen)>;
    // Shows the capture sheet; onCaptured receives the PNG bytes of an accepted scan.
    using CaptureSheetOpener =
        std::function<void(QWidget* parent, std::function<void(const QByteArray& png)> onCaptured)>;

    // Shows the page library's built-in pages.
    explicit PagePicker(SessionModel& session, QWidget* parent = nullptr);
    PagePicker(SessionModel& session, QList<CurrentPage> pages, QWidget* parent = nullptr);
    ~PagePicker() override;

    // Replaces the file dialog.
    void setFileChooser(FileChooser chooser);
    // Without an opener the capture button is disabled.
    void setCaptureSheetOpener(CaptureSheetOpener opener);

    // Makes `page` the room's page here and sends it to the room.
    void announce(const CurrentPage& page);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildLayout(const QList<CurrentPage>& pages);
    void showCurrentPage();
    void elideCurrentName();
    void choose(const CurrentPage& page);
    void startImport();
    void importFile(const QString& path);
    void finishImport(const QString& fileName, const LineArtExtractor::LoadResult& result);
    void dropPendingImport();
    void openCaptureSheet();
    void clearCanvas();
    void clearForEveryone();
    void showMessage(const QString& text, bool isError);

    QPointer<SessionModel> session_;
    std::vector<PageThumbnail*> thumbnails_;
    QLabel* currentName_ = nullptr;
    QLabel* message_ = nullptr;
    QPushButton* importButton_ = nullptr;
    QPushButton* captureButton_ = nullptr;
    QPushButton* clearButton_ = nullptr;
    FileChooser fileChooser_;
    CaptureSheetOpener captureSheetOpener_;
    // The running import's watcher; a result whose watcher is no longer this one is dropped.
    QPointer<QObject> pendingImport_;
};

}  // namespace vellumora
