#include "app/qt/lock_opener_window.h"

#include <limits>

#include <QAccessibleWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QStyle>

#include "app/main_module.h"
#include "app/qt/caption_frame.h"
#include "app/qt/ui_font.h"

namespace app::qt {

namespace {

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool takesFocus(ControlKind kind) {
    return kind == ControlKind::ComboBox || kind == ControlKind::TextBox || kind == ControlKind::Button ||
           kind == ControlKind::CheckBox;
}

constexpr int kFrameCaptionIndent = 120; // twips

// A plain top-level widget reads as a "filler" to screen readers; this one is the program's window.
QAccessibleInterface* windowAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String(LockOpenerWindow::staticMetaObject.className()) && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    return nullptr;
}

// The text boxes have no length limit; Qt's default is 32767 characters.
constexpr int kNoLengthLimit = std::numeric_limits<int>::max();

} // namespace

LockOpenerWindow::LockOpenerWindow(LockOpener& logic, EscapedErrorHandler onEscapedError)
    : QWidget(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint),
      m_logic(logic), m_onEscapedError(std::move(onEscapedError)) {
    static const bool windowRoleKnown = (QAccessible::installFactory(windowAccessible), true);
    Q_UNUSED(windowRoleKnown);
    setObjectName(QStringLiteral("LockOpener"));
    setAccessibleDescription(QStringLiteral("LockOpener"));
    if (const QScreen* s = screen())
        m_dpi = s->logicalDotsPerInch();
    setFont(windowFont());
    build();
    m_logic.form().onViewUpdate([this](std::string_view name, Form::Property property) { mirror(name, property); });
}

LockOpenerWindow::~LockOpenerWindow() {
    m_logic.form().onViewUpdate({});
    // The children outlive this part of the object: their last signals (a focus loss ending an
    // edit) must not reach it.
    for (QObject* child : findChildren<QObject*>())
        disconnect(child, nullptr, this, nullptr);
}

int LockOpenerWindow::px(int twips) const {
    return twipsToPixels(twips, m_dpi);
}

QFont LockOpenerWindow::windowFont() const {
    QFont font = uiFont(kWindow.fontPoints);
    if (font.family() == fromUtf8(kWindow.fontFamily))
        return font;
    // The designed face is missing: fit the substitute to the captions' designed widths.
    std::vector<CaptionRoom> rooms;
    const int buttonPadding =
        style()->pixelMetric(QStyle::PM_ButtonMargin) + 2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    for (const auto& spec : kControls) {
        if (spec.kind == ControlKind::Label && spec.autoSize)
            rooms.push_back({fromUtf8(spec.caption), px(spec.width)});
        else if (spec.kind == ControlKind::Button)
            rooms.push_back({fromUtf8(spec.caption), px(spec.width) - buttonPadding});
    }
    font.setStretch(fittingStretch(font, rooms));
    return font;
}

QWidget* LockOpenerWindow::control(std::string_view name) const {
    auto it = m_widgets.find(name);
    return it == m_widgets.end() ? nullptr : it->second;
}

void LockOpenerWindow::build() {
    const QScopedValueRollback applying(m_applying, true);
    const Form& form = m_logic.form();
    setWindowTitle(QString::fromStdString(form.caption()));
    setFixedSize(px(kWindow.clientWidth), px(kWindow.clientHeight));

    // Frames first: the table lists some contents before their frame.
    for (const auto& spec : kControls)
        if (spec.kind == ControlKind::Frame)
            m_widgets.emplace(spec.name, makeWidget(spec, this));
    for (const auto& spec : kControls) {
        if (spec.kind == ControlKind::Frame)
            continue;
        QWidget* container = spec.container.empty() ? this : control(spec.container);
        m_widgets.emplace(spec.name, makeWidget(spec, container ? container : this));
    }
    for (const auto& spec : kControls) {
        QWidget* widget = control(spec.name);
        applyText(spec, widget);
        widget->setEnabled(form.enabled(spec.name));
        if (auto* combo = qobject_cast<QComboBox*>(widget))
            applyItems(combo, spec.name);
        if (auto* box = qobject_cast<QCheckBox*>(widget))
            box->setChecked(form.value(spec.name) == 1);
        if (auto buddy = buddyLabelFor(spec.name))
            if (auto* label = qobject_cast<QLabel*>(control(*buddy))) {
                label->setBuddy(widget);
                // The box's own text field is what a screen reader lands on; it takes the name too.
                if (auto* combo = qobject_cast<QComboBox*>(widget))
                    combo->lineEdit()->setAccessibleName(fromUtf8(findControl(*buddy)->caption));
            }
        connectInput(spec, widget);
    }
    applyTabOrder();
}

QWidget* LockOpenerWindow::makeWidget(const ControlSpec& spec, QWidget* container) {
    QWidget* widget = nullptr;
    switch (spec.kind) {
    case ControlKind::ComboBox: {
        auto* combo = new QComboBox(container);
        // The box treats the end of an edit (Enter, leaving it) whose text matches an item, in
        // any case, as choosing that item. That is no choice by the person: the flag, set around
        // the box's own handling, tells activated() to ignore it.
        auto* edit = new QLineEdit(combo);
        connect(edit, &QLineEdit::editingFinished, this, [this] { m_finishingEdit = true; });
        combo->setLineEdit(edit);
        connect(edit, &QLineEdit::editingFinished, this, [this] { m_finishingEdit = false; });
        // The list is chosen from, never added to, and never completes what is typed: every
        // keystroke must reach the window as exactly the text typed.
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->setDuplicatesEnabled(true);
        combo->setCompleter(nullptr);
        // A wheel turned over the box would silently switch the account the buttons act on.
        combo->installEventFilter(this);
        combo->lineEdit()->setMaxLength(kNoLengthLimit);
        widget = combo;
        break;
    }
    case ControlKind::Frame:
        // The caption starts in line with the contents' left edge, as on Windows.
        widget = new CaptionFrame(px(kFrameCaptionIndent), container);
        break;
    case ControlKind::Button: {
        auto* button = new QPushButton(container);
        // No default button: Enter presses nothing.
        button->setAutoDefault(false);
        button->setDefault(false);
        widget = button;
        break;
    }
    case ControlKind::CheckBox:
        widget = new QCheckBox(container);
        break;
    case ControlKind::TextBox: {
        auto* edit = new QLineEdit(container);
        edit->setEchoMode(spec.passwordMask ? QLineEdit::Password : QLineEdit::Normal);
        edit->setMaxLength(kNoLengthLimit);
        widget = edit;
        break;
    }
    case ControlKind::Label: {
        auto* label = new QLabel(container);
        // Captions show what the directory holds, never markup.
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        widget = label;
        break;
    }
    }
    const QString name = fromUtf8(spec.name);
    widget->setObjectName(name);
    widget->setAccessibleDescription(name);
    if (spec.fontPoints != kWindow.fontPoints)
        widget->setFont(uiFont(spec.fontPoints));
    if (!takesFocus(spec.kind))
        widget->setFocusPolicy(Qt::NoFocus);
    place(spec, widget);
    return widget;
}

bool LockOpenerWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Wheel && qobject_cast<QComboBox*>(watched))
        return true;
    return QWidget::eventFilter(watched, event);
}

void LockOpenerWindow::place(const ControlSpec& spec, QWidget* widget) const {
    if (spec.autoSize) {
        widget->move(px(spec.left), px(spec.top));
        widget->adjustSize();
    } else {
        widget->setGeometry(px(spec.left), px(spec.top), px(spec.width), px(spec.height));
    }
}

void LockOpenerWindow::connectInput(const ControlSpec& spec, QWidget* widget) {
    const std::string_view name = spec.name;
    // Every change of what a box shows reaches the model, whoever made it: keys, input method,
    // paste, drag and drop, assistive technology or code. The model's own writes do not echo.
    auto changed = [this, name](const QString& text) {
        if (!m_stopped && !m_applying && !m_finishingEdit)
            settle(m_logic.textEdited(name, text.toStdString()));
    };
    if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        connect(combo->lineEdit(), &QLineEdit::textChanged, this, changed);
        connect(combo, &QComboBox::activated, this, [this, name, combo] {
            if (m_stopped)
                return;
            if (m_finishingEdit) {
                // The box may have swapped in the item's spelling; the model's text stands.
                const QScopedValueRollback applying(m_applying, true);
                applyText(*findControl(name), combo);
                return;
            }
            // Choosing an item has changed the text already (Change, when it differed); the
            // choice itself is a click.
            settle(m_logic.dispatch(name, Event::Click));
        });
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        connect(edit, &QLineEdit::textChanged, this, changed);
    } else if (auto* box = qobject_cast<QCheckBox*>(widget)) {
        // toggled, not clicked: a toggle through the accessibility interface or by code must
        // reach the model and run the Click handler just the same.
        connect(box, &QCheckBox::toggled, this, [this, name](bool checked) {
            if (!m_stopped && !m_applying)
                settle(m_logic.valueClicked(name, checked ? 1 : 0));
        });
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
        connect(button, &QPushButton::clicked, this, [this, name] {
            if (!m_stopped)
                settle(m_logic.dispatch(name, Event::Click));
        });
    }
}

void LockOpenerWindow::applyTabOrder() {
    QWidget* previous = nullptr;
    QWidget* first = nullptr;
    for (const ControlSpec* spec : tabOrder()) {
        if (!takesFocus(spec->kind))
            continue;
        QWidget* widget = control(spec->name);
        if (previous)
            setTabOrder(previous, widget);
        else
            first = widget;
        previous = widget;
    }
    if (first)
        first->setFocus(Qt::OtherFocusReason);
}

void LockOpenerWindow::mirror(std::string_view name, Form::Property property) {
    const QScopedValueRollback applying(m_applying, true);
    if (property == Form::Property::Caption) {
        setWindowTitle(QString::fromStdString(m_logic.form().caption()));
        return;
    }
    const ControlSpec* spec = findControl(name);
    QWidget* widget = control(name);
    if (!spec || !widget)
        return;
    switch (property) {
    case Form::Property::Text:
        applyText(*spec, widget);
        break;
    case Form::Property::Enabled:
        widget->setEnabled(m_logic.form().enabled(name));
        break;
    case Form::Property::Value:
        if (auto* box = qobject_cast<QCheckBox*>(widget))
            box->setChecked(m_logic.form().value(name) == 1);
        break;
    case Form::Property::Items:
        if (auto* combo = qobject_cast<QComboBox*>(widget))
            applyItems(combo, name);
        break;
    case Form::Property::Caption:
        break;
    }
}

void LockOpenerWindow::applyText(const ControlSpec& spec, QWidget* widget) {
    const QString text = QString::fromStdString(m_logic.form().text(spec.name));
    // Writing back what the widget already shows would move the caret while the person types.
    if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        if (combo->currentText() != text)
            combo->setEditText(text);
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        if (edit->text() != text)
            edit->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(text);
        if (spec.autoSize)
            label->adjustSize();
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(text);
    } else if (auto* frame = qobject_cast<QGroupBox*>(widget)) {
        frame->setTitle(text);
    }
}

void LockOpenerWindow::applyItems(QComboBox* combo, std::string_view name) {
    const auto& items = m_logic.form().items(name);
    // The model only appends; anything else is rebuilt.
    if (static_cast<std::size_t>(combo->count()) > items.size())
        combo->clear();
    QStringList added;
    for (auto i = static_cast<std::size_t>(combo->count()); i < items.size(); ++i)
        added.append(QString::fromStdString(items[i]));
    combo->addItems(added);
    // Filling an empty list selects its first item; the box keeps the model's text instead.
    if (combo->currentIndex() != -1)
        combo->setCurrentIndex(-1);
    const QString text = QString::fromStdString(m_logic.form().text(name));
    if (combo->currentText() != text)
        combo->setEditText(text);
}

void LockOpenerWindow::settle(bool ok) {
    if (ok || m_stopped)
        return;
    m_stopped = true;
    setEnabled(false);
    if (m_onEscapedError)
        m_onEscapedError(kEscapedErrorExitStatus);
}

} // namespace app::qt
