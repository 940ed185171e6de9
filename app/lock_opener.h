#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/clock.h"
#include "app/form.h"
#include "directory/adsi_control.h"
#include "directory/operator.h"
#include "directory/service.h"
#include "system/computer_system.h"

namespace app {

enum class Event { Load, Change, Click };

// What the window needs from the outside world.
struct Environment {
    directory::Service& directory;
    sysinfo::ComputerSystemQuery& computerSystem;
    quill::Operator& person;
    const Clock& clock;
};

// The main window's logic. Handlers read and write the Form only; they trap nothing, so a
// failure of the computer-system query or of the enable handler's own directory write escapes
// to the event boundary (dispatch), which reports it and tells the front end to end the program.
class LockOpener {
public:
    LockOpener(Form& form, Environment env, const std::string& commandLine);

    // The event boundary for front ends. Runs the handler the control table assigns to
    // (control, event), if any. Returns false when an error escaped: it has been reported
    // through the operator and the program must end with a non-zero status.
    [[nodiscard]] bool dispatch(std::string_view control, Event event);
    // The person edited a control's text (typing, pasting, choosing an item): the model takes it
    // and raises Change when it differs. Same boundary as dispatch.
    [[nodiscard]] bool textEdited(std::string_view control, std::string text);
    // The person ticked or unticked a check box; its Click handler follows.
    [[nodiscard]] bool valueClicked(std::string_view control, int value);

    // Public method: the computer's domain or workgroup, or NAME. for the workgroup "WORKGROUP".
    std::string GetCurrentDomain(bool WorkgroupNameOut = true);

    void Form_Load();
    void account_Combo_Change();
    void account_Combo_Click();
    void Check1_Click();
    void Command1_Click();
    void Command2_Click();
    void アカウント有効_Click();
    void アカウント停止_Click();

    Form& form() noexcept { return m_form; }

private:
    struct CurrentComputer {
        std::string domain;                            // trimmed; empty when no record names one
        std::optional<sysinfo::ComputerSystem> system; // the record it came from
    };
    // The first computer-system record whose domain is not blank, queried afresh.
    CurrentComputer currentComputer();
    void LoadAccountList();
    void ShowAccountCondition();
    // The target rule every lookup and action shares; sets it on the control.
    void chooseTarget(directory::ADSIControl& control);
    template <class F> bool guarded(F&& body);

    Form& m_form;
    Environment m_env;
    const std::string& m_commandLine;
};

// Which handler an event of a control runs, as the window's table lists them.
bool hasHandler(std::string_view control, Event event) noexcept;

} // namespace app
