#pragma once
// What the canvas says, in its bottom-left corner, about where the user stands with the room:
// nothing while connected; "Reconnecting…" with the reason once the connection has been
// missing for a second; "Offline: your drawing is kept and will be sent" while anything waits
// to be sent; and plainly when something could not be kept or the server refused the room.

#include <QString>
#include <QTimer>
#include <QWidget>

#include <chrono>

class QLabel;

namespace vellumora {

class SessionModel;

class RoomStatusView : public QWidget {
    Q_OBJECT

  public:
    // A connection missing for less than this is not worth a word.
    static constexpr std::chrono::milliseconds kGrace{1000};

    explicit RoomStatusView(SessionModel& session, QWidget* parent = nullptr);

    // The lines shown now (each also the accessible name of its label); empty while hidden.
    QString connectionText() const;
    QString workText() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void onConnectionStateChanged();
    void refresh();

    SessionModel& session_;
    QLabel* connection_;
    QLabel* work_;
    QTimer grace_;
    bool missing_ = false;  // the connection has been missing for kGrace
    QString lastFailure_;   // why the last connection to this room failed; empty: none did
};

}  // namespace vellumora
