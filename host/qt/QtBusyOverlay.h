#pragma once
// The busy animation: a veil with a spinner and a text laid over a window while the user-interface
// thread is blocked in a synchronous call.
#include <QTimer>
#include <QWidget>

class TQtBusyOverlay : public QWidget {
    Q_OBJECT
public:
    TQtBusyOverlay(QWidget* over, int kind, const QString& text);
    int Kind() const { return kind_; }
    const QString& Text() const { return text_; }
    // Shows the overlay and paints it at once: the blocking call starts right after.
    void ShowNow();
    int Paints() const { return paints_; }

protected:
    void paintEvent(QPaintEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int kind_;
    QString text_;
    int angle_ = 0;
    int paints_ = 0;
    QTimer timer_;
};
