#include "message_box_answerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTest>

namespace guitest {

QString iconName(QMessageBox::Icon icon) {
    switch (icon) {
    case QMessageBox::Critical:
        return QStringLiteral("Critical");
    case QMessageBox::Warning:
        return QStringLiteral("Warning");
    case QMessageBox::Information:
        return QStringLiteral("Information");
    case QMessageBox::Question:
        return QStringLiteral("Question");
    default:
        return QStringLiteral("NoIcon");
    }
}

QString SeenBox::summary() const {
    return title + u'|' + iconName(icon) + u'|' + text + u'|' + buttons.join(u',');
}

MessageBoxAnswerer::MessageBoxAnswerer(std::vector<QMessageBox::StandardButton> answers, int settleMs)
    : m_answers(answers.begin(), answers.end()), m_settleMs(settleMs) {
    connect(&m_timer, &QTimer::timeout, this, &MessageBoxAnswerer::poll);
    m_timer.start(10);
}

QStringList MessageBoxAnswerer::summaries() const {
    QStringList lines;
    for (const auto& box : m_seen)
        lines << box.summary();
    return lines;
}

void MessageBoxAnswerer::poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || box == m_current || !box->isVisible())
        return;
    if (box != m_opening)
        m_open.start();
    m_opening = box;
    if (m_open.elapsed() < m_settleMs)
        return;
    m_current = box;

    SeenBox seen;
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    seen.modal = box->isModal();
    // The button box orders buttons by the platform's convention; report them in a fixed order.
    const std::pair<QMessageBox::StandardButton, const char*> known[] = {
        {QMessageBox::Ok, "Ok"}, {QMessageBox::Yes, "Yes"}, {QMessageBox::No, "No"}, {QMessageBox::Cancel, "Cancel"}};
    for (const auto& [standard, name] : known)
        if (QAbstractButton* button = box->button(standard)) {
            seen.buttons << QString::fromLatin1(name);
            seen.captions << button->text();
        }
    m_seen.push_back(seen);

    QAbstractButton* target = nullptr;
    if (!m_answers.empty()) {
        target = box->button(m_answers.front());
        m_answers.pop_front();
    }
    if (!target) {
        ++m_unexpected;
        QTest::keyClick(box, Qt::Key_Escape);
        return;
    }
    QTest::mouseClick(target, Qt::LeftButton);
}

} // namespace guitest
