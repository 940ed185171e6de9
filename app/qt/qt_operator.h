#pragma once

#include <QPointer>
#include <QString>

#include "directory/operator.h"

class QWidget;

namespace app::qt {

// Message boxes and the busy pointer on Qt widgets.
class QtOperator final : public quill::Operator {
public:
    QtOperator() = default;
    ~QtOperator() override;
    QtOperator(const QtOperator&) = delete;
    QtOperator& operator=(const QtOperator&) = delete;

    // The window that message boxes belong to once it is shown; null before (boxes of the load
    // handler have no owner).
    void setOwner(QWidget* owner) { m_owner = owner; }

    // Style: buttons (0 OK, 1 OK/Cancel, 2 Abort/Retry/Ignore, 3 Yes/No/Cancel, 4 Yes/No,
    // 5 Retry/Cancel) + icon (0x10 stop, 0x20 question, 0x30 exclamation, 0x40 information)
    // + default button (0x100 second, 0x200 third). Returns the classic answer code of the button
    // pressed (1 OK ... 6 Yes, 7 No); closing the box answers as its Escape button would. Input
    // given before the box opened never answers it (dropQueuedInput).
    int messageBox(const std::string& text, int style, const std::optional<std::string>& title) override;
    // The application-wide wait cursor. Switching it on twice needs one switch off: the pointer is
    // a state, not a stack, and off always leaves the default pointer.
    void setBusy(bool busy) override;
    // A stop-icon box naming the error by number and description.
    void reportEscapedError(long number, const std::string& description) override;

private:
    // A closed box hands the keyboard back to the window it belonged to.
    void giveBackTheKeyboard();

    QPointer<QWidget> m_owner;
    bool m_busy = false;
};

// The text of the escaped-error box: "実行時エラー '9':" then a blank line and the description.
// Platform codes (HRESULTs) are shown signed and in hexadecimal, as the classic runtime does.
QString escapedErrorText(long number, const std::string& description);

} // namespace app::qt
