#pragma once

#include <optional>
#include <string>

namespace quill {

// Message box styles and answers, the values of the classic MsgBox.
namespace msgbox {
inline constexpr int kOkOnly = 0x0;
inline constexpr int kYesNo = 0x4;
inline constexpr int kCritical = 0x10;    // stop icon
inline constexpr int kExclamation = 0x30; // warning icon
inline constexpr int kInformation = 0x40;
inline constexpr int kButtonMask = 0xF;
inline constexpr int kIconMask = 0xF0;

inline constexpr int kAnswerOk = 1;
inline constexpr int kAnswerYes = 6;
inline constexpr int kAnswerNo = 7;
} // namespace msgbox

// Everything the program asks of the person in front of it. The window logic and ADSIControl
// reach the screen only through this, so tests can answer the questions themselves.
class Operator {
public:
    virtual ~Operator() = default;

    // A modal message box; returns the answer code. No title means the application's title.
    virtual int messageBox(const std::string& text, int style, const std::optional<std::string>& title) = 0;
    // The application-wide busy (hourglass) pointer on, or back to the default.
    virtual void setBusy(bool busy) = 0;
    // An error escaped a window handler: show it by number and description. The front end then
    // ends the program with a non-zero status.
    virtual void reportEscapedError(long number, const std::string& description) = 0;
};

// Shows the busy pointer for its lifetime; restores the default pointer on every path.
class BusyPointer {
public:
    explicit BusyPointer(Operator& op) : m_op(op) { m_op.setBusy(true); }
    ~BusyPointer() { m_op.setBusy(false); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;

private:
    Operator& m_op;
};

} // namespace quill
