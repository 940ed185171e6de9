#include "app/lock_opener.h"

#include <array>
#include <exception>

#include "app/platform_date.h"
#include "app/text.h"
#include "app/version.h"
#include "directory/object_path.h"

namespace app {

namespace {

using directory::ADSIControl;
namespace mb = quill::msgbox;

struct HandlerEntry {
    std::string_view control;
    Event event;
    void (LockOpener::*handler)();
};

// Which event of which control runs which handler; nothing else has one.
const std::array<HandlerEntry, 8> kHandlers{{
    {"LockOpener", Event::Load, &LockOpener::Form_Load},
    {"account_Combo", Event::Change, &LockOpener::account_Combo_Change},
    {"account_Combo", Event::Click, &LockOpener::account_Combo_Click},
    {"Check1", Event::Click, &LockOpener::Check1_Click},
    {"Command1", Event::Click, &LockOpener::Command1_Click},
    {"Command2", Event::Click, &LockOpener::Command2_Click},
    {"アカウント有効", Event::Click, &LockOpener::アカウント有効_Click},
    {"アカウント停止", Event::Click, &LockOpener::アカウント停止_Click},
}};

const HandlerEntry* findHandler(std::string_view control, Event event) noexcept {
    for (const auto& entry : kHandlers)
        if (entry.control == control && entry.event == event)
            return &entry;
    return nullptr;
}

// Not one of ours and not the platform's: reported with the classic "internal error" number.
constexpr long kInternalError = 51;

// The names of a container's user accounts, in the directory's order; directory::Error when a step fails.
std::vector<std::string> accountNames(directory::Service& service, const std::string& containerName) {
    auto container = directory::as<directory::Container>(service.bind(directory::containerPath(containerName)));
    container->put("Filter", directory::Value::array({directory::Value::text("User")}));
    std::vector<std::string> names;
    container->enumerate(
        [&](directory::Object& item) { names.push_back(directory::as<directory::User>(item).name()); });
    return names;
}

} // namespace

bool hasHandler(std::string_view control, Event event) noexcept {
    return findHandler(control, event) != nullptr;
}

LockOpener::LockOpener(Form& form, Environment env, const std::string& commandLine)
    : m_form(form), m_env(env), m_commandLine(commandLine) {
    m_form.onChange([this](std::string_view control) {
        if (const auto* entry = findHandler(control, Event::Change))
            (this->*(entry->handler))();
    });
}

template <class F> bool LockOpener::guarded(F&& body) {
    try {
        body();
        return true;
    } catch (const quill::RuntimeError& e) {
        m_env.person.reportEscapedError(e.number(), e.description());
    } catch (const std::exception& e) {
        m_env.person.reportEscapedError(kInternalError, e.what());
    }
    return false;
}

bool LockOpener::dispatch(std::string_view control, Event event) {
    return guarded([&] {
        if (const auto* entry = findHandler(control, event))
            (this->*(entry->handler))();
    });
}

bool LockOpener::textEdited(std::string_view control, std::string text) {
    return guarded([&] { m_form.setText(control, std::move(text)); });
}

bool LockOpener::valueClicked(std::string_view control, int value) {
    return guarded([&] {
        m_form.setValue(control, value);
        if (const auto* entry = findHandler(control, Event::Click))
            (this->*(entry->handler))();
    });
}

LockOpener::CurrentComputer LockOpener::currentComputer() {
    for (auto& system : m_env.computerSystem.query())
        if (std::string domain = trimSpaces(system.Domain); !domain.empty())
            return {std::move(domain), std::move(system)};
    return {};
}

std::string LockOpener::GetCurrentDomain(bool WorkgroupNameOut) {
    const CurrentComputer current = currentComputer();
    if (WorkgroupNameOut && current.domain == "WORKGROUP")
        return trimSpaces(current.system->Name) + ".";
    return current.domain;
}

void LockOpener::chooseTarget(ADSIControl& control) {
    const std::string& typed = m_form.text("trgSrv");
    control.setTargetDomainServer(isBlank(typed) ? GetCurrentDomain(true) : typed);
}

void LockOpener::Form_Load() {
    m_form.setCaption(m_form.caption() + " " + std::to_string(QUILL_VERSION_MAJOR) + "." +
                      std::to_string(QUILL_VERSION_MINOR) + "." + std::to_string(QUILL_VERSION_PATCH));
    LoadAccountList();
    m_form.setText("account_Combo", m_commandLine);
    m_form.setText("trgSrv", GetCurrentDomain(true));
    m_form.setText("AccountLimit", directory::formatYmd(directory::addDays(m_env.clock.today(), 1)));
}

void LockOpener::LoadAccountList() {
    // GetCurrentDomain(false), with the record it comes from.
    const CurrentComputer current = currentComputer();
    std::vector<std::string> names;
    try {
        names = accountNames(m_env.directory, current.domain);
    } catch (const directory::Error&) {
        // Windows 10 1709 and later run no browser service by default, so a workgroup's container
        // may not answer: a computer in a workgroup then lists its own accounts, or none, and the
        // window still opens. A domain that cannot be reached ends the program.
        if (!current.system || current.system->PartOfDomain)
            throw;
        try {
            names = accountNames(m_env.directory, trimSpaces(current.system->Name));
        } catch (const directory::Error&) {
        }
    }
    for (auto& name : names)
        m_form.addItem("account_Combo", std::move(name));
}

void LockOpener::ShowAccountCondition() {
    ADSIControl control(m_env.directory, m_env.person);
    chooseTarget(control);
    // Rewriting a padded name raises Change again; the inner run does the whole lookup first.
    m_form.setText("account_Combo", trimSpaces(m_form.text("account_Combo")));
    m_form.setText("DisplayCondition", control.Descriptioner(trimSpaces(m_form.text("account_Combo"))));
}

void LockOpener::account_Combo_Change() {
    ShowAccountCondition();
    m_form.setText("changePassword", m_form.text("account_Combo"));
}

void LockOpener::account_Combo_Click() {
    account_Combo_Change();
}

void LockOpener::Check1_Click() {
    m_form.setEnabled("AccountLimit", m_form.value("Check1") != 1);
}

void LockOpener::Command1_Click() {
    ADSIControl control(m_env.directory, m_env.person);
    chooseTarget(control);
    const bool unlocked = control.AccountLCOpen(m_form.text("account_Combo"));
    m_env.person.messageBox(unlocked ? "解除されました。" : "解除されませんでした。", mb::kOkOnly, std::nullopt);
}

void LockOpener::Command2_Click() {
    const std::string prompt =
        std::string("パスワードは指定の内容に変更され、次回ログイン時に新しく設定を要求されます。") +
        std::string(kCrLf) + "よろしいですか？";
    if (m_env.person.messageBox(prompt, mb::kYesNo | mb::kExclamation, "パスワードリセットの確認") != mb::kAnswerYes)
        return;
    ADSIControl control(m_env.directory, m_env.person);
    chooseTarget(control);
    const std::string& account = m_form.text("account_Combo");
    std::string message;
    if (control.AccountLCOpen(account)) {
        const directory::Secret password(m_form.text("changePassword"));
        message = control.PasswordReset(account, password) ? "解除/パスワードリセットされました。"
                                                           : "○ロック解除完了/×パスワードリセット未完了";
    } else {
        message = "作業を完了できませんでした。";
    }
    m_env.person.messageBox(message, mb::kOkOnly, std::nullopt);
}

void LockOpener::アカウント有効_Click() {
    ADSIControl control(m_env.directory, m_env.person);
    chooseTarget(control);
    const std::string account = m_form.text("account_Combo");
    if (!control.AccountDisabled(account, false)) {
        m_env.person.messageBox("アカウントを有効にできませんでした。", mb::kCritical, std::nullopt);
        return;
    }
    const std::string limit = m_form.text("AccountLimit");
    const bool isDate = isDateText(limit);
    const bool unticked = m_form.value("Check1") == 0;
    const bool useDate = isDate && unticked;
    {
        // The handler's own write escapes on failure; the enabling already committed stays.
        quill::BusyPointer busy(m_env.person);
        auto object = m_env.directory.bind(directory::userPathWithoutClass(control.TargetDomainServer(), account));
        object->put("AccountExpirationDate", useDate ? directory::Value::text(limit) : directory::Value::int32(1));
        object->setInfo();
    }
    m_env.person.messageBox(useDate ? limit + " 迄 利用可能になりました。" : "アカウントは無期限に有効となりました。",
                            mb::kInformation, std::nullopt);
}

void LockOpener::アカウント停止_Click() {
    const std::string prompt =
        std::string("アカウントを停止すると、利用できなくなります。") + std::string(kCrLf) + "よろしいですか？";
    if (m_env.person.messageBox(prompt, mb::kYesNo | mb::kExclamation, "停止の確認") != mb::kAnswerYes)
        return;
    ADSIControl control(m_env.directory, m_env.person);
    chooseTarget(control);
    if (control.AccountDisabled(m_form.text("account_Combo"), true))
        m_env.person.messageBox("アカウントを停止しました。", mb::kInformation, std::nullopt);
    else
        m_env.person.messageBox("アカウントを停止できませんでした。", mb::kCritical, std::nullopt);
}

} // namespace app
