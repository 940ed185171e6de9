#include "app/qt/qt_operator.h"

#include <array>
#include <cstdint>
#include <vector>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "app/layout.h"
#include "app/qt/queued_input.h"

namespace app::qt {

namespace {

namespace mb = quill::msgbox;

constexpr int kDefaultButtonMask = 0xF00;

struct ButtonAnswer {
    QMessageBox::StandardButton button;
    int answer;
};

// The buttons of each button style, left to right, with the answer each one gives.
std::vector<ButtonAnswer> buttonsFor(int style) {
    using B = QMessageBox;
    switch (style & mb::kButtonMask) {
    case 1:
        return {{B::Ok, 1}, {B::Cancel, 2}};
    case 2:
        return {{B::Abort, 3}, {B::Retry, 4}, {B::Ignore, 5}};
    case 3:
        return {{B::Yes, 6}, {B::No, 7}, {B::Cancel, 2}};
    case 4:
        return {{B::Yes, 6}, {B::No, 7}};
    case 5:
        return {{B::Retry, 4}, {B::Cancel, 2}};
    default:
        return {{B::Ok, mb::kAnswerOk}};
    }
}

QMessageBox::Icon iconFor(int style) {
    switch (style & mb::kIconMask) {
    case mb::kCritical:
        return QMessageBox::Critical;
    case 0x20:
        return QMessageBox::Question;
    case mb::kExclamation:
        return QMessageBox::Warning;
    case mb::kInformation:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

// The captions Japanese Windows gives its message box buttons, mnemonics included, whatever
// language Qt itself runs in. The mnemonic answers by its bare letter too (Y, N).
QString captionFor(QMessageBox::StandardButton button) {
    switch (button) {
    case QMessageBox::Ok:
        return QStringLiteral("OK");
    case QMessageBox::Cancel:
        return QStringLiteral("キャンセル");
    case QMessageBox::Abort:
        return QStringLiteral("中止(&A)");
    case QMessageBox::Retry:
        return QStringLiteral("再試行(&R)");
    case QMessageBox::Ignore:
        return QStringLiteral("無視(&I)");
    case QMessageBox::Yes:
        return QStringLiteral("はい(&Y)");
    case QMessageBox::No:
        return QStringLiteral("いいえ(&N)");
    default:
        return {};
    }
}

QPushButton* addButton(QMessageBox& box, QMessageBox::StandardButton standard) {
    QPushButton* button = box.addButton(standard);
    button->setText(captionFor(standard));
    return button;
}

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

QtOperator::~QtOperator() {
    setBusy(false);
}

int QtOperator::messageBox(const std::string& text, int style, const std::optional<std::string>& title) {
    dropQueuedInput(); // only the person who sees the box answers it
    QWidget* owner = m_owner && m_owner->isVisible() ? m_owner.data() : nullptr;
    QMessageBox box(owner);
    box.setWindowTitle(fromUtf8(title ? std::string_view(*title) : kWindow.caption));
    box.setIcon(iconFor(style));
    // Plain text: messages repeat what was typed or read from the directory.
    box.setTextFormat(Qt::PlainText);
    QString body = fromUtf8(text);
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    box.setText(body);
    box.setWindowModality(owner ? Qt::WindowModal : Qt::ApplicationModal);

    const auto buttons = buttonsFor(style);
    std::vector<QPushButton*> added;
    for (const auto& b : buttons)
        added.push_back(addButton(box, b.button));
    const auto defaultIndex = static_cast<std::size_t>((style & kDefaultButtonMask) >> 8);
    box.setDefaultButton(added[defaultIndex < added.size() ? defaultIndex : 0]);

    box.exec();
    giveBackTheKeyboard();
    QAbstractButton* pressed = box.clickedButton();
    if (!pressed)
        pressed = box.escapeButton();
    for (std::size_t i = 0; i < added.size(); ++i)
        if (added[i] == pressed)
            return buttons[i].answer;
    // Closed without an Escape button: the last button is the one that backs out.
    return buttons.back().answer;
}

void QtOperator::setBusy(bool busy) {
    if (busy == m_busy)
        return;
    m_busy = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

QString escapedErrorText(long number, const std::string& description) {
    QString code;
    if (number >= 0 && number <= 0xFFFF) {
        code = QString::number(number);
    } else {
        // HRESULTs arrive as their 32-bit pattern; show them as the platform does.
        const auto bits = static_cast<std::uint32_t>(number);
        code =
            QStringLiteral("%1 (%2)").arg(static_cast<std::int32_t>(bits)).arg(bits, 8, 16, QLatin1Char('0')).toUpper();
    }
    return QStringLiteral("実行時エラー '%1':\n\n%2").arg(code, QString::fromStdString(description));
}

void QtOperator::reportEscapedError(long number, const std::string& description) {
    // The pointer may still be busy when the error left a handler mid-operation.
    setBusy(false);
    dropQueuedInput();
    QWidget* owner = m_owner && m_owner->isVisible() ? m_owner.data() : nullptr;
    QMessageBox box(owner);
    box.setWindowTitle(fromUtf8(kWindow.caption));
    box.setIcon(QMessageBox::Critical);
    box.setTextFormat(Qt::PlainText);
    box.setText(escapedErrorText(number, description));
    addButton(box, QMessageBox::Ok);
    box.setWindowModality(owner ? Qt::WindowModal : Qt::ApplicationModal);
    box.exec();
    giveBackTheKeyboard();
}

void QtOperator::giveBackTheKeyboard() {
    // Without a window manager, or with one that does not refocus the owner, the keyboard would
    // stay with the closed box and typing would reach nothing.
    if (m_owner && m_owner->isVisible())
        m_owner->activateWindow();
}

} // namespace app::qt
