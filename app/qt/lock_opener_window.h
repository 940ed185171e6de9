#pragma once

#include <functional>
#include <map>
#include <string_view>

#include <QWidget>

#include "app/form.h"
#include "app/layout.h"
#include "app/lock_opener.h"

class QComboBox;

namespace app::qt {

// The main window: Qt widgets built from the control table, mirroring the window's Form and
// handing the person's edits and clicks to LockOpener. The Form stays the source of truth.
class LockOpenerWindow final : public QWidget {
    Q_OBJECT

public:
    // Called once when a handler's error escaped (it has been reported already), with the exit
    // status the program must end with. The window takes no further input after that.
    using EscapedErrorHandler = std::function<void(int status)>;

    LockOpenerWindow(LockOpener& logic, EscapedErrorHandler onEscapedError);
    ~LockOpenerWindow() override;
    LockOpenerWindow(const LockOpenerWindow&) = delete;
    LockOpenerWindow& operator=(const LockOpenerWindow&) = delete;

    // The widget of a control by its design name, or null.
    QWidget* control(std::string_view name) const;
    // The dots per inch the twips of the table were scaled at.
    double dpi() const noexcept { return m_dpi; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QFont windowFont() const;
    void build();
    QWidget* makeWidget(const ControlSpec& spec, QWidget* container);
    void place(const ControlSpec& spec, QWidget* widget) const;
    void connectInput(const ControlSpec& spec, QWidget* widget);
    void applyTabOrder();
    void mirror(std::string_view name, Form::Property property);
    void applyText(const ControlSpec& spec, QWidget* widget);
    void applyItems(QComboBox* combo, std::string_view name);
    // Ends input after an escaped error; ok is the event boundary's result.
    void settle(bool ok);
    int px(int twips) const;

    LockOpener& m_logic;
    EscapedErrorHandler m_onEscapedError;
    double m_dpi = 96.0;
    std::map<std::string_view, QWidget*, std::less<>> m_widgets;
    bool m_stopped = false;
    bool m_finishingEdit = false;
    // Set while the model's state is written into the widgets, so it is not taken as input.
    bool m_applying = false;
};

} // namespace app::qt
