#pragma once

#include <deque>
#include <vector>

#include <QElapsedTimer>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>

namespace guitest {

// One message box as the person saw it.
struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;  // left to right as standard button names, e.g. "Yes", "No"
    QStringList captions; // the same buttons' texts
    bool modal = false;

    // "title|icon|text|buttons", for comparing whole boxes in one line.
    QString summary() const;
};

// Answers every modal message box that opens, by clicking the next scripted button, and records
// what it showed. A box beyond the script is closed with its Escape button and counted as
// unexpected, so a test never hangs on it.
class MessageBoxAnswerer final : public QObject {
    Q_OBJECT

public:
    // Each box is left open settleMs first, room for anything else to answer it (then unrecorded).
    explicit MessageBoxAnswerer(std::vector<QMessageBox::StandardButton> answers = {}, int settleMs = 0);

    const std::vector<SeenBox>& seen() const noexcept { return m_seen; }
    QStringList summaries() const;
    int unexpected() const noexcept { return m_unexpected; }
    bool allAnswered() const noexcept { return m_answers.empty(); }

private:
    void poll();

    std::deque<QMessageBox::StandardButton> m_answers;
    std::vector<SeenBox> m_seen;
    QPointer<QMessageBox> m_current;
    QPointer<QMessageBox> m_opening; // the box being left open, since m_open started
    QElapsedTimer m_open;
    int m_settleMs;
    int m_unexpected = 0;
    QTimer m_timer;
};

QString iconName(QMessageBox::Icon icon);

} // namespace guitest
