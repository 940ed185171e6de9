#include <fcntl.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <utility>

#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QFontDatabase>
#include <QGenericPluginFactory>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include "app/layout.h"
#include "app/qt/ui_font.h"
#include "app/version.h"
#include "directory/object_path.h"
#include "message_box_answerer.h"
#include "session.h"

using guitest::MessageBoxAnswerer;
using guitest::Session;

namespace {

QString q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The design name of the control that has the keyboard focus (a combo box's line edit counts as the box).
QString focusedControl() {
    QWidget* focus = QApplication::focusWidget();
    if (focus && qobject_cast<QComboBox*>(focus->parentWidget()))
        focus = focus->parentWidget();
    return focus ? focus->objectName() : QString();
}

void replaceText(QLineEdit* edit, const QString& text) {
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    if (text.isEmpty())
        QTest::keyClick(edit, Qt::Key_Backspace);
    else
        QTest::keyClicks(edit, text);
}

// Every bind since `from` happened under the wait cursor, except the start-up listing, which
// is no ADSIControl operation.
bool lookupsRanBusy(const guitest::MemoryDirectory& directory, std::size_t from = 0) {
    for (std::size_t i = from; i < directory.binds.size(); ++i)
        if (!directory::parsePath(directory.binds[i])->isContainer() && !directory.busyAtBind[i]) {
            qWarning("bound without the busy pointer: %s", directory.binds[i].c_str());
            return false;
        }
    return true;
}

// Changes a control the way assistive technology does, through the accessibility interface only:
// "editable" replaces the whole text (editable-text interface), "value" sets the value text,
// "toggle" runs the toggle action once per character of text, "code" is the widget's own setter.
void changeAsAssistiveTechnology(QWidget* widget, const QString& via, const QString& text) {
    if (auto* combo = qobject_cast<QComboBox*>(widget))
        widget = combo->lineEdit();
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(accessible);
    if (via == "editable") {
        QVERIFY(accessible->editableTextInterface() && accessible->textInterface());
        accessible->editableTextInterface()->replaceText(0, accessible->textInterface()->characterCount(), text);
    } else if (via == "value") {
        accessible->setText(QAccessible::Value, text);
    } else if (via == "toggle") {
        QVERIFY(accessible->actionInterface());
        QVERIFY(accessible->actionInterface()->actionNames().contains(QAccessibleActionInterface::toggleAction()));
        for (qsizetype i = 0; i < text.size(); ++i)
            accessible->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setText(text);
    } else if (auto* box = qobject_cast<QCheckBox*>(widget)) {
        box->setChecked(!text.isEmpty());
    }
}

// Every control shows what the window's model holds.
bool widgetsShowTheModel(Session& session) {
    const app::Form& form = session.module.form();
    for (const auto& spec : app::kControls) {
        QWidget* widget = session.window()->control(spec.name);
        const QString text = QString::fromStdString(form.text(spec.name));
        bool same = widget->isEnabled() == form.enabled(spec.name);
        if (auto* combo = qobject_cast<QComboBox*>(widget))
            same = same && combo->currentText() == text;
        else if (auto* edit = qobject_cast<QLineEdit*>(widget))
            same = same && edit->text() == text;
        else if (auto* box = qobject_cast<QCheckBox*>(widget))
            same = same && box->isChecked() == (form.value(spec.name) == 1);
        if (!same) {
            qWarning("%s differs from the model", q(spec.name).toUtf8().constData());
            return false;
        }
    }
    return true;
}

} // namespace

class WindowTest final : public QObject {
    Q_OBJECT

private slots:
    void init() { QApplication::clipboard()->clear(); }

    void captionCarriesTheVersion() {
        Session session;
        QVERIFY(session.start());
        QCOMPARE(session.window()->windowTitle(), QStringLiteral("Quillmarsh " QUILL_VERSION_STRING));
        QCOMPARE(session.window()->windowTitle(), QStringLiteral("Quillmarsh 1.0.0"));
    }

    void startState_data() {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("domain");
        QTest::addColumn<QString>("account");
        QTest::addColumn<QStringList>("lookups");
        QTest::addColumn<QString>("condition");
        QTest::addColumn<QString>("target");

        QTest::newRow("no command line") << ""
                                         << "CORP"
                                         << "" << QStringList{} << ""
                                         << "CORP";
        QTest::newRow("one name") << "jdoe"
                                  << "CORP"
                                  << "jdoe" << QStringList{"WinNT://CORP/jdoe,User"} << "Doe, John 有効 ロック"
                                  << "CORP";
        QTest::newRow("several words kept whole") << "jdoe extra"
                                                  << "CORP"
                                                  << "jdoe extra" << QStringList{"WinNT://CORP/jdoe extra,User"} << ""
                                                  << "CORP";
        QTest::newRow("padded name trimmed, looked up twice")
            << " jdoe "
            << "CORP"
            << "jdoe" << QStringList{"WinNT://CORP/jdoe,User", "WinNT://CORP/jdoe,User"} << "Doe, John 有効 ロック"
            << "CORP";
        // On a workgroup computer the start-up lookup runs before the target box is filled and
        // takes the computer's own name.
        QTest::newRow("workgroup computer") << "jdoe"
                                            << "WORKGROUP"
                                            << "jdoe" << QStringList{"WinNT://PC01./jdoe,User"} << ""
                                            << "PC01.";
    }

    void startState() {
        QFETCH(QString, commandLine);
        QFETCH(QString, domain);
        QFETCH(QString, account);
        QFETCH(QStringList, lookups);
        QFETCH(QString, condition);
        QFETCH(QString, target);

        Session session;
        session.computerSystem.records = {{domain.toStdString(), "PC01"}};
        if (domain == "WORKGROUP")
            session.directory.setDomain("WORKGROUP");
        QVERIFY(session.start(commandLine.toStdString()));

        auto* combo = session.get<QComboBox>("account_Combo");
        QCOMPARE(combo->currentText(), account);
        QCOMPARE(session.get<QLineEdit>("changePassword")->text(), account);
        QCOMPARE(session.get<QLabel>("DisplayCondition")->text(), condition);
        QCOMPARE(session.get<QLineEdit>("trgSrv")->text(), target);
        QCOMPARE(session.get<QLineEdit>("AccountLimit")->text(), QStringLiteral("2026/12/8"));
        QCOMPARE(session.get<QCheckBox>("Check1")->isChecked(), false);
        QVERIFY(session.get<QLineEdit>("AccountLimit")->isEnabled());

        QStringList seen;
        for (const auto& path : session.directory.userBinds())
            seen << QString::fromStdString(path);
        QCOMPARE(seen, lookups);
        if (domain == "CORP") {
            QStringList items;
            for (int i = 0; i < combo->count(); ++i)
                items << combo->itemText(i);
            QCOMPARE(items, (QStringList{"jdoe", "asmith", "bwong"}));
        }
    }

    void typingLooksUpEveryGrowingText() {
        Session session;
        QVERIFY(session.start());
        auto* combo = session.get<QComboBox>("account_Combo");
        auto* condition = session.get<QLabel>("DisplayCondition");

        QTest::keyClicks(combo->lineEdit(), QStringLiteral("jdo"));
        QCOMPARE(condition->text(), QString()); // a partial name names no account
        QTest::keyClicks(combo->lineEdit(), QStringLiteral("e"));

        const std::vector<std::string> expected{"WinNT://CORP/j,User", "WinNT://CORP/jd,User", "WinNT://CORP/jdo,User",
                                                "WinNT://CORP/jdoe,User"};
        QCOMPARE(session.directory.userBinds(), expected);
        QCOMPARE(combo->currentText(), QStringLiteral("jdoe"));
        QCOMPARE(condition->text(), QStringLiteral("Doe, John 有効 ロック"));
        QCOMPARE(session.get<QLineEdit>("changePassword")->text(), QStringLiteral("jdoe"));
        QVERIFY(lookupsRanBusy(session.directory));
        QCOMPARE(QApplication::overrideCursor(), nullptr);

        // Deleting everything looks up the empty name and empties the password box.
        replaceText(combo->lineEdit(), QString());
        QCOMPARE(session.directory.binds.back(), std::string("WinNT://CORP/,User"));
        QCOMPARE(session.get<QLineEdit>("changePassword")->text(), QString());
        QCOMPARE(condition->text(), QString());
    }

    void pastedPaddedNameIsTrimmed() {
        Session session;
        QVERIFY(session.start());
        auto* combo = session.get<QComboBox>("account_Combo");
        QApplication::clipboard()->setText(QStringLiteral(" asmith "));
        QTest::keyClick(combo->lineEdit(), Qt::Key_V, Qt::ControlModifier);

        const std::vector<std::string> expected{"WinNT://CORP/asmith,User", "WinNT://CORP/asmith,User"};
        QCOMPARE(session.directory.userBinds(), expected);
        QCOMPARE(combo->currentText(), QStringLiteral("asmith"));
        QCOMPARE(combo->lineEdit()->text(), QStringLiteral("asmith"));
        QCOMPARE(session.get<QLabel>("DisplayCondition")->text(), QStringLiteral(" 有効"));
        QCOMPARE(session.get<QLineEdit>("changePassword")->text(), QStringLiteral("asmith"));
    }

    void choosingAnItemShowsItsCondition() {
        Session session;
        QVERIFY(session.start());
        auto* combo = session.get<QComboBox>("account_Combo");
        combo->showPopup();
        QAbstractItemView* view = combo->view();
        QVERIFY(QTest::qWaitForWindowExposed(view->window()));
        const QModelIndex item = view->model()->index(2, 0);
        view->setCurrentIndex(item);
        QTest::keyClick(view, Qt::Key_Return);
        QTRY_VERIFY(!view->isVisible());

        QCOMPARE(combo->currentText(), QStringLiteral("bwong"));
        // Markup in a description is shown as typed, not rendered.
        QCOMPARE(session.get<QLabel>("DisplayCondition")->text(), QStringLiteral("Wong <b>B</b> 無効"));
        QCOMPARE(session.get<QLabel>("DisplayCondition")->textFormat(), Qt::PlainText);
        QCOMPARE(session.get<QLineEdit>("changePassword")->text(), QStringLiteral("bwong"));
        // The text change and the click each look the account up.
        QCOMPARE(session.directory.userBinds().size(), std::size_t{2});
    }

    void leavingTheBoxChoosesNothing() {
        Session session;
        QVERIFY(session.start());
        auto* combo = session.get<QComboBox>("account_Combo");
        combo->setFocus();
        QTest::keyClicks(combo->lineEdit(), QStringLiteral("JDOE"));
        const auto binds = session.directory.binds;

        // The list holds jdoe: Enter or leaving the box must neither look up again nor respell.
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
        QTest::keyClick(combo->lineEdit(), Qt::Key_Tab);
        QCOMPARE(focusedControl(), QStringLiteral("trgSrv"));
        QCOMPARE(session.directory.binds, binds);
        QCOMPARE(combo->currentText(), QStringLiteral("JDOE"));
        QCOMPARE(session.module.form().text("account_Combo"), std::string("JDOE"));
        QCOMPARE(session.get<QLineEdit>("changePassword")->text(), QStringLiteral("JDOE"));
    }

    void arrowKeyChoosesTheNextItem() {
        Session session;
        QVERIFY(session.start());
        auto* combo = session.get<QComboBox>("account_Combo");
        combo->setFocus();
        QTest::keyClick(combo->lineEdit(), Qt::Key_Down);
        QTest::keyClick(combo->lineEdit(), Qt::Key_Down);
        QCOMPARE(combo->currentText(), QStringLiteral("asmith"));
        QCOMPARE(session.get<QLabel>("DisplayCondition")->text(), QStringLiteral(" 有効"));
        QCOMPARE(session.get<QLineEdit>("changePassword")->text(), QStringLiteral("asmith"));
        // Each choice: the text change and the click.
        QCOMPARE(session.directory.userBinds().size(), std::size_t{4});

        // A wheel turned over the box chooses nothing.
        const QPoint centre = combo->rect().center();
        QWheelEvent wheel(centre, combo->mapToGlobal(centre), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(combo, &wheel);
        QCOMPARE(combo->currentText(), QStringLiteral("asmith"));
        QCOMPARE(session.directory.userBinds().size(), std::size_t{4});
    }

    void buttonFlows_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("account");
        QTest::addColumn<QString>("password"); // typed over the copied account name when not null
        QTest::addColumn<QString>("limit");    // typed over tomorrow's date when not null
        QTest::addColumn<bool>("noLimit");
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QString>("after"); // jdoe afterwards

        const int ok = QMessageBox::Ok, yes = QMessageBox::Yes, no = QMessageBox::No;
        const QString unchanged = "enabled locked password=old";
        const QString resetQuestion = "パスワードリセットの確認|Warning|パスワードは指定の内容に変更され、"
                                      "次回ログイン時に新しく設定を要求されます。\nよろしいですか？|Yes,No";
        const QString jdoeQuestion = "Quillmarsh|Warning|jdoe のパスワードをリセットします。よろしいですか？|Yes,No";
        const QString stopQuestion =
            "停止の確認|Warning|アカウントを停止すると、利用できなくなります。\nよろしいですか？|Yes,No";
        const QString null;

        QTest::newRow("unlock") << "Command1"
                                << "jdoe" << null << null << false << QList<int>{ok}
                                << QStringList{"Quillmarsh|NoIcon|解除されました。|Ok"}
                                << "enabled unlocked password=old";
        QTest::newRow("unlock unknown account")
            << "Command1"
            << "nobody" << null << null << false << QList<int>{ok}
            << QStringList{"Quillmarsh|NoIcon|解除されませんでした。|Ok"} << unchanged;
        QTest::newRow("reset to typed password")
            << "Command2"
            << "jdoe"
            << "N3w pass" << null << false << QList<int>{yes, yes, ok}
            << QStringList{resetQuestion, jdoeQuestion, "Quillmarsh|NoIcon|解除/パスワードリセットされました。|Ok"}
            << "enabled unlocked password=N3w pass expired=1";
        QTest::newRow("reset to the copied account name")
            << "Command2"
            << "jdoe" << null << null << false << QList<int>{yes, yes, ok}
            << QStringList{resetQuestion, jdoeQuestion, "Quillmarsh|NoIcon|解除/パスワードリセットされました。|Ok"}
            << "enabled unlocked password=jdoe expired=1";
        QTest::newRow("reset, blank password only expires")
            << "Command2"
            << "jdoe"
            << "   " << null << false << QList<int>{yes, yes, ok}
            << QStringList{resetQuestion, jdoeQuestion, "Quillmarsh|NoIcon|解除/パスワードリセットされました。|Ok"}
            << "enabled unlocked password=old expired=1";
        QTest::newRow("reset declined at first")
            << "Command2"
            << "jdoe" << null << null << false << QList<int>{no} << QStringList{resetQuestion} << unchanged;
        QTest::newRow("reset declined at second")
            << "Command2"
            << "jdoe" << null << null << false << QList<int>{yes, no, ok}
            << QStringList{resetQuestion, jdoeQuestion,
                           "Quillmarsh|NoIcon|○ロック解除完了/×パスワードリセット未完了|Ok"}
            << "enabled unlocked password=old";
        QTest::newRow("reset unknown account")
            << "Command2"
            << "nobody" << null << null << false << QList<int>{yes, ok}
            << QStringList{resetQuestion, "Quillmarsh|NoIcon|作業を完了できませんでした。|Ok"} << unchanged;
        QTest::newRow("enable until tomorrow")
            << "アカウント有効"
            << "jdoe" << null << null << false << QList<int>{ok}
            << QStringList{"Quillmarsh|Information|2026/12/8 迄 利用可能になりました。|Ok"}
            << "enabled locked password=old expiry=Text(\"2026/12/8\")";
        QTest::newRow("enable until a typed date")
            << "アカウント有効"
            << "jdoe" << null << "2027/1/25" << false << QList<int>{ok}
            << QStringList{"Quillmarsh|Information|2027/1/25 迄 利用可能になりました。|Ok"}
            << "enabled locked password=old expiry=Text(\"2027/1/25\")";
        QTest::newRow("enable without limit")
            << "アカウント有効"
            << "jdoe" << null << null << true << QList<int>{ok}
            << QStringList{"Quillmarsh|Information|アカウントは無期限に有効となりました。|Ok"}
            << "enabled locked password=old expiry=Int32(1)";
        QTest::newRow("enable, no date typed")
            << "アカウント有効"
            << "jdoe" << null << "abc" << false << QList<int>{ok}
            << QStringList{"Quillmarsh|Information|アカウントは無期限に有効となりました。|Ok"}
            << "enabled locked password=old expiry=Int32(1)";
        QTest::newRow("enable unknown account")
            << "アカウント有効"
            << "nobody" << null << null << false << QList<int>{ok}
            << QStringList{"Quillmarsh|Critical|アカウントを有効にできませんでした。|Ok"} << unchanged;
        QTest::newRow("disable") << "アカウント停止"
                                 << "jdoe" << null << null << false << QList<int>{yes, ok}
                                 << QStringList{stopQuestion, "Quillmarsh|Information|アカウントを停止しました。|Ok"}
                                 << "disabled locked password=old";
        QTest::newRow("disable declined")
            << "アカウント停止"
            << "jdoe" << null << null << false << QList<int>{no} << QStringList{stopQuestion} << unchanged;
        QTest::newRow("disable unknown account")
            << "アカウント停止"
            << "nobody" << null << null << false << QList<int>{yes, ok}
            << QStringList{stopQuestion, "Quillmarsh|Critical|アカウントを停止できませんでした。|Ok"} << unchanged;
    }

    void buttonFlows() {
        QFETCH(QString, button);
        QFETCH(QString, account);
        QFETCH(QString, password);
        QFETCH(QString, limit);
        QFETCH(bool, noLimit);
        QFETCH(QList<int>, answers);
        QFETCH(QStringList, boxes);
        QFETCH(QString, after);

        Session session;
        QVERIFY(session.start());
        QTest::keyClicks(session.get<QComboBox>("account_Combo")->lineEdit(), account);
        if (!password.isNull())
            replaceText(session.get<QLineEdit>("changePassword"), password);
        if (!limit.isNull())
            replaceText(session.get<QLineEdit>("AccountLimit"), limit);
        if (noLimit)
            QTest::mouseClick(session.get<QCheckBox>("Check1"), Qt::LeftButton);
        const std::size_t bindsBefore = session.directory.binds.size();

        std::vector<QMessageBox::StandardButton> script;
        for (int answer : answers)
            script.push_back(static_cast<QMessageBox::StandardButton>(answer));
        MessageBoxAnswerer answerer(script);
        QTest::mouseClick(session.get<QPushButton>(button.toUtf8().constData()), Qt::LeftButton);

        QCOMPARE(answerer.summaries(), boxes);
        QCOMPARE(answerer.unexpected(), 0);
        const QMap<QString, QString> japanese{{"Ok", "OK"}, {"Yes", "はい(&Y)"}, {"No", "いいえ(&N)"}};
        for (const auto& box : answerer.seen()) {
            QVERIFY(box.modal);
            QStringList captions;
            for (const QString& button : box.buttons)
                captions << japanese.value(button);
            QCOMPARE(box.captions, captions);
        }
        QCOMPARE(QString::fromStdString(describe(*session.directory.find("jdoe"))), after);
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QVERIFY(lookupsRanBusy(session.directory, bindsBefore));
        QVERIFY(session.exits.empty());
        // No action refreshes the condition shown before it.
        if (account == "jdoe")
            QCOMPARE(session.get<QLabel>("DisplayCondition")->text(), QStringLiteral("Doe, John 有効 ロック"));
    }

    void targetBoxIsUsedAsTyped() {
        Session session;
        QVERIFY(session.start());
        replaceText(session.get<QLineEdit>("trgSrv"), QStringLiteral(" CORP"));
        QTest::keyClicks(session.get<QComboBox>("account_Combo")->lineEdit(), QStringLiteral("x"));
        QCOMPARE(session.directory.userBinds().back(), std::string("WinNT:// CORP/x,User"));

        // Blank: the computer's own domain.
        replaceText(session.get<QLineEdit>("trgSrv"), QStringLiteral("  "));
        const int queries = session.computerSystem.calls;
        QTest::keyClicks(session.get<QComboBox>("account_Combo")->lineEdit(), QStringLiteral("y"));
        QCOMPARE(session.directory.userBinds().back(), std::string("WinNT://CORP/xy,User"));
        QCOMPARE(session.computerSystem.calls, queries + 1);
        QCOMPARE(session.get<QLineEdit>("trgSrv")->text(), QStringLiteral("  "));
    }

    void check1TogglesTheDateBoxOnly() {
        Session session;
        QVERIFY(session.start());
        auto* limit = session.get<QLineEdit>("AccountLimit");
        auto* check = session.get<QCheckBox>("Check1");
        replaceText(limit, QStringLiteral("2027/3/1"));

        QTest::mouseClick(check, Qt::LeftButton);
        QVERIFY(check->isChecked());
        QVERIFY(!limit->isEnabled());
        QCOMPARE(limit->text(), QStringLiteral("2027/3/1"));

        check->setFocus();
        QTest::keyClick(check, Qt::Key_Space);
        QVERIFY(!check->isChecked());
        QVERIFY(limit->isEnabled());
        QCOMPARE(limit->text(), QStringLiteral("2027/3/1"));
        QCOMPARE(session.module.form().value("Check1"), 0);
    }

    // What assistive technology sets is what the buttons act on.
    void assistiveChangesReachTheActions_data() {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("via");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("lookups"); // account lookups the change itself makes
        QTest::addColumn<QString>("button");
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<QString>("bind"); // the action's first user path
        QTest::addColumn<QString>("after");

        const int ok = QMessageBox::Ok, yes = QMessageBox::Yes;
        const QString unlocked = "enabled unlocked password=old", jdoe = "WinNT://CORP/jdoe,User";
        const QString reset = "enabled unlocked password=N3w pass expired=1";
        const QString noLimit = "enabled locked password=old expiry=Int32(1)";
        const QString dated = "enabled locked password=old expiry=Text(\"2027/1/25\")";

        auto row = [](const char* name, const char* start, const char* control, const char* via, const char* text,
                      int lookups, const char* button, QList<int> answers, QString bind, QString after) {
            QTest::newRow(name) << QString(start) << QString(control) << QString(via) << QString(text) << lookups
                                << QString(button) << answers << bind << after;
        };
        row("account, editable text", "asmith", "account_Combo", "editable", "jdoe", 1, "Command1", {ok}, jdoe,
            unlocked);
        row("account, value", "asmith", "account_Combo", "value", "jdoe", 1, "Command1", {ok}, jdoe, unlocked);
        row("account, by code", "asmith", "account_Combo", "code", "jdoe", 1, "Command1", {ok}, jdoe, unlocked);
        row("account, padded value trimmed", "asmith", "account_Combo", "value", " jdoe ", 2, "Command1", {ok}, jdoe,
            unlocked);
        row("password, editable text", "jdoe", "changePassword", "editable", "N3w pass", 0, "Command2", {yes, yes, ok},
            jdoe, reset);
        row("password, value", "jdoe", "changePassword", "value", "N3w pass", 0, "Command2", {yes, yes, ok}, jdoe,
            reset);
        row("target, value", "jdoe", "trgSrv", "value", "ELSE", 0, "Command1", {ok}, "WinNT://ELSE/jdoe,User",
            "enabled locked password=old");
        row("expiry date, editable text", "jdoe", "AccountLimit", "editable", "2027/1/25", 0, "アカウント有効", {ok},
            jdoe, dated);
        row("no limit, toggle action", "jdoe", "Check1", "toggle", "x", 0, "アカウント有効", {ok}, jdoe, noLimit);
        row("no limit, toggled on and off", "jdoe", "Check1", "toggle", "xx", 0, "アカウント有効", {ok}, jdoe,
            "enabled locked password=old expiry=Text(\"2026/12/8\")");
        row("no limit, by code", "jdoe", "Check1", "code", "x", 0, "アカウント有効", {ok}, jdoe, noLimit);
    }

    void assistiveChangesReachTheActions() {
        QFETCH(QString, start);
        QFETCH(QString, control);
        QFETCH(QString, via);
        QFETCH(QString, text);
        QFETCH(int, lookups);
        QFETCH(QString, button);
        QFETCH(QList<int>, answers);
        QFETCH(QString, bind);
        QFETCH(QString, after);

        Session session;
        QVERIFY(session.start(start.toStdString()));
        const std::size_t before = session.directory.userBinds().size();
        changeAsAssistiveTechnology(session.window()->control(control.toStdString()), via, text);
        QCOMPARE(session.directory.userBinds().size(), before + static_cast<std::size_t>(lookups));
        QVERIFY(widgetsShowTheModel(session));
        if (control == "account_Combo") {
            QCOMPARE(session.get<QComboBox>("account_Combo")->currentText(), QStringLiteral("jdoe"));
            QCOMPARE(session.get<QLineEdit>("changePassword")->text(), QStringLiteral("jdoe"));
            QCOMPARE(session.get<QLabel>("DisplayCondition")->text(), QStringLiteral("Doe, John 有効 ロック"));
        }

        std::vector<QMessageBox::StandardButton> script;
        for (int answer : answers)
            script.push_back(static_cast<QMessageBox::StandardButton>(answer));
        MessageBoxAnswerer answerer(script);
        const std::size_t acted = session.directory.userBinds().size();
        QTest::mouseClick(session.get<QPushButton>(button.toUtf8().constData()), Qt::LeftButton);
        QCOMPARE(answerer.unexpected(), 0);
        QVERIFY(answerer.allAnswered());
        QVERIFY(session.directory.userBinds().size() > acted);
        QCOMPARE(QString::fromStdString(session.directory.userBinds()[acted]), bind);
        QCOMPARE(QString::fromStdString(describe(*session.directory.find("jdoe"))), after);
        QVERIFY(widgetsShowTheModel(session));
        QVERIFY(session.exits.empty());
    }

    void enterAndEscapePressNothing() {
        Session session;
        QVERIFY(session.start());
        QTest::keyClicks(session.get<QComboBox>("account_Combo")->lineEdit(), QStringLiteral("jdoe"));
        const auto binds = session.directory.binds;
        MessageBoxAnswerer answerer;

        for (const app::ControlSpec* spec : app::tabOrder()) {
            QWidget* widget = session.window()->control(spec->name);
            if (widget->focusPolicy() == Qt::NoFocus)
                continue;
            widget->setFocus();
            QCOMPARE(focusedControl(), q(spec->name));
            QWidget* target = QApplication::focusWidget();
            for (auto key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
                QTest::keyClick(target, key);
            QTest::qWait(30); // room for a box to open
        }
        QCOMPARE(answerer.seen().size(), std::size_t{0});
        QCOMPARE(session.directory.binds, binds);
        QVERIFY(session.window()->isVisible());
        QCOMPARE(session.get<QComboBox>("account_Combo")->count(), 3); // Enter added no item
    }

    // A key pressed while a directory call blocks the window waits until an event loop reads it;
    // Qt's evdev handler (linuxfb, eglfs; reading a FIFO here) then gives it to what has the focus,
    // the box, unless it was dropped before the box opened.
    void queuedKeysNeverAnswerABox_data() {
        QTest::addColumn<int>("key"); // a Linux input key code
        QTest::addColumn<bool>("duringLookup");
        QTest::addColumn<QByteArray>("button");
        QTest::newRow("Enter in the reset's unlock, then its own question")
            << KEY_ENTER << false << QByteArray("Command2");
        QTest::newRow("Space in the reset's unlock, then its own question")
            << KEY_SPACE << false << QByteArray("Command2");
        QTest::newRow("Enter in the name's lookup, then the disable question")
            << KEY_ENTER << true << QByteArray("アカウント停止");
        QTest::newRow("Enter in the unlock, then its result") << KEY_ENTER << false << QByteArray("Command1");
    }

    void queuedKeysNeverAnswerABox() {
        QFETCH(int, key);
        QFETCH(bool, duringLookup);
        QFETCH(QByteArray, button);
        const QByteArray device = "/dev/shm/quill-gui-keyboard-" + QByteArray::number(::getpid());
        ::unlink(device.constData());
        QVERIFY(::mkfifo(device.constData(), 0600) == 0);
        const int keyboard = ::open(device.constData(), O_RDWR | O_NONBLOCK); // a writer too: never an end of file
        const std::unique_ptr<QObject> handler(QGenericPluginFactory::create("evdevkeyboard", device));
        ::unlink(device.constData());
        QVERIFY(keyboard >= 0 && handler);

        Session session;
        QVERIFY(session.start());
        QLineEdit* account = session.get<QComboBox>("account_Combo")->lineEdit();
        QTest::keyClicks(account, duringLookup ? "jdo" : "jdoe");
        bool typed = false;
        session.directory.duringUserBind = [&] {
            const auto code = static_cast<__u16>(key);
            const input_event events[] = {
                {{}, EV_KEY, code, 1}, {{}, EV_SYN, SYN_REPORT, 0}, {{}, EV_KEY, code, 0}, {{}, EV_SYN, SYN_REPORT, 0}};
            if (!std::exchange(typed, true))
                QCOMPARE(::write(keyboard, events, sizeof events), ssize_t(sizeof events));
        };
        if (duringLookup)
            QTest::keyClicks(account, "e");
        MessageBoxAnswerer answerer(button == "Command1" ? std::vector{QMessageBox::Ok}
                                    : duringLookup       ? std::vector{QMessageBox::No}
                                                   : std::vector{QMessageBox::Yes, QMessageBox::No, QMessageBox::Ok},
                                    300);
        QTest::mouseClick(session.get<QPushButton>(button.constData()), Qt::LeftButton);
        ::close(keyboard);

        QVERIFY(typed);
        QVERIFY(answerer.allAnswered());
        QCOMPARE(answerer.unexpected(), 0);
        QVERIFY(!session.directory.find("jdoe")->disabled && session.directory.find("jdoe")->password == "old");
    }

    // The whole work from the keyboard: reach each control by Tab, press with Space, answer by key.
    void keyboardAlone() {
        Session session;
        QVERIFY(session.start());
        // Keys go where the focus is; nowhere when the window lost it.
        auto press = [](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
            if (QWidget* focus = QApplication::focusWidget())
                QTest::keyClick(focus, key, modifiers);
        };
        QStringList answers; // keys pressed in the boxes, in order
        QTimer answer;
        QPointer<QMessageBox> answered; // a key answers after a short animation: once per box
        connect(&answer, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box && box != answered && box->isVisible() && !answers.isEmpty()) {
                answered = box;
                QTest::keyClick(box, answers.takeFirst() == "Y" ? Qt::Key_Y : Qt::Key_Return);
            }
        });
        answer.start(10);
        auto tabTo = [&](const QString& name) {
            for (int i = 0; i < 10 && focusedControl() != name; ++i)
                press(Qt::Key_Tab);
            return focusedControl() == name;
        };

        press(Qt::Key_Tab, Qt::ShiftModifier);
        QCOMPARE(focusedControl(), QStringLiteral("account_Combo"));
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("jdoe"));
        QVERIFY(tabTo("changePassword"));
        press(Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("N3w pass"));
        QVERIFY(tabTo("Command2"));
        answers = {"Y", "Y", "Enter"};
        press(Qt::Key_Space);
        QTRY_VERIFY(answers.isEmpty());
        // Closing the boxes gave the keyboard back to the window.
        QTRY_COMPARE(focusedControl(), QStringLiteral("Command2"));
        QVERIFY(tabTo("Check1"));
        press(Qt::Key_Space);
        QVERIFY(!session.get<QLineEdit>("AccountLimit")->isEnabled());
        QVERIFY(tabTo("アカウント有効"));
        answers = {"Enter"};
        press(Qt::Key_Space);
        QTRY_VERIFY(answers.isEmpty());
        QCOMPARE(QString::fromStdString(describe(*session.directory.find("jdoe"))),
                 QStringLiteral("enabled unlocked password=N3w pass expired=1 expiry=Int32(1)"));
    }

    void tabOrderFollowsTheTable() {
        Session session;
        QVERIFY(session.start());
        QCOMPARE(focusedControl(), QStringLiteral("trgSrv"));
        const QStringList expected{"changePassword", "アカウント停止", "アカウント有効", "Command2", "Command1",
                                   "AccountLimit",   "Check1",         "account_Combo",  "trgSrv"};
        QStringList seen;
        for (int i = 0; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            seen << focusedControl();
        }
        QCOMPARE(seen, expected);
    }

    void builtFromTheControlTable() {
        Session session;
        QVERIFY(session.start());
        auto* window = session.window();
        const double dpi = window->dpi();
        auto px = [dpi](int twips) { return app::twipsToPixels(twips, dpi); };

        QCOMPARE(window->size(), QSize(px(app::kWindow.clientWidth), px(app::kWindow.clientHeight)));
        QCOMPARE(window->minimumSize(), window->maximumSize());
        const Qt::WindowFlags flags = window->windowFlags();
        QCOMPARE(flags & Qt::WindowType_Mask, Qt::Dialog);
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(flags & Qt::WindowSystemMenuHint);
        QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QVERIFY(!(flags & Qt::X11BypassWindowManagerHint));
        QVERIFY(qobject_cast<QDialog*>(window) == nullptr);

        const QString family = app::qt::chooseUiFamily(QFontDatabase::families());
        QVERIFY(app::qt::uiFontCandidates().contains(family));

        for (const auto& spec : app::kControls) {
            QWidget* widget = window->control(spec.name);
            const QByteArray name = q(spec.name).toUtf8();
            QVERIFY2(widget, name.constData());
            QCOMPARE(widget->objectName(), q(spec.name));
            QWidget* container = spec.container.empty() ? window : window->control(spec.container);
            QCOMPARE(widget->parentWidget(), container);
            QCOMPARE(widget->pos(), QPoint(px(spec.left), px(spec.top)));
            if (spec.autoSize)
                QCOMPARE(widget->size(), widget->sizeHint());
            else
                QCOMPARE(widget->size(), QSize(px(spec.width), px(spec.height)));
            QCOMPARE(widget->font().pointSize(), spec.fontPoints);
            QCOMPARE(widget->font().family(), family);
            QVERIFY(widget->isVisible());
        }
        // Whatever face stands in, captions stay inside the room the design gives them.
        for (const auto& spec : app::kControls) {
            QWidget* widget = window->control(spec.name);
            const QByteArray name = q(spec.name).toUtf8();
            if (spec.kind == app::ControlKind::Label && spec.autoSize)
                QVERIFY2(widget->width() <= px(spec.width), name.constData());
            if (spec.kind == app::ControlKind::Button)
                QVERIFY2(widget->fontMetrics().horizontalAdvance(q(spec.caption)) < widget->width(), name.constData());
        }
        QCOMPARE(session.get<QLineEdit>("changePassword")->echoMode(), QLineEdit::Normal);
        QVERIFY(session.get<QLineEdit>("trgSrv")->maxLength() > 1 << 20);
        for (auto* button : window->findChildren<QPushButton*>()) {
            QVERIFY(!button->autoDefault());
            QVERIFY(!button->isDefault());
        }
    }

    // Each frame is drawn as the designed rectangle with its caption on the top border: none of
    // its line or caption lies inside a control it holds.
    void framesKeepTheirLineClearOfTheirContents() {
        Session session;
        QVERIFY(session.start());
        // The suite also runs on a doubled screen (tests/gui/CMakeLists.txt): check it really is.
        const double scale =
            qEnvironmentVariableIsSet("QUILL_GUI_SCALE") ? qEnvironmentVariable("QUILL_GUI_SCALE").toDouble() : 1.0;
        QCOMPARE(session.window()->dpi() * session.window()->devicePixelRatioF(), 96.0 * scale);

        for (const char* name : {"Frame1", "Frame2"}) {
            QWidget* frame = session.window()->control(name);
            const qreal dpr = frame->devicePixelRatioF();
            const QColor background = frame->palette().color(QPalette::Window);
            QImage image(frame->size() * dpr, QImage::Format_RGB32);
            image.setDevicePixelRatio(dpr);
            image.fill(background);
            frame->render(&image, QPoint(), QRegion(), QWidget::RenderFlags()); // the frame alone
            auto ink = [&](int x, int y) { return image.pixelColor(x, y) != background; };

            int contentsTop = image.height();
            for (QWidget* child : frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                const QRect r = QRectF(QPointF(child->pos()) * dpr, QSizeF(child->size()) * dpr).toRect();
                contentsTop = std::min(contentsTop, r.top());
                for (int y = r.top(); y <= r.bottom(); ++y)
                    for (int x = r.left(); x <= r.right(); ++x)
                        QVERIFY2(!ink(x, y), qPrintable(QStringLiteral("%1 draws at %2,%3 inside %4")
                                                            .arg(name)
                                                            .arg(x)
                                                            .arg(y)
                                                            .arg(child->objectName())));
            }
            // The top line: the row above the contents with the most ink.
            int lineRow = -1, longest = 0;
            for (int y = 0; y < contentsTop; ++y) {
                int count = 0;
                for (int x = 0; x < image.width(); ++x)
                    count += ink(x, y);
                if (count > longest)
                    longest = count, lineRow = y;
            }
            QVERIFY2(lineRow > 0 && longest > image.width() / 2, name);
            // The line closes on the designed rectangle's left, right and bottom edges.
            const int midY = (contentsTop + image.height()) / 2, midX = image.width() / 2;
            QVERIFY2(ink(0, midY) || ink(1, midY), name);
            QVERIFY2(ink(image.width() - 1, midY) || ink(image.width() - 2, midY), name);
            QVERIFY2(ink(midX, image.height() - 1) || ink(midX, image.height() - 2), name);
            // The caption breaks the line and its ink reaches above and below it.
            bool above = false, below = false;
            for (int x = 2; x < image.width() - 2; ++x) {
                if (ink(x, lineRow))
                    continue;
                for (int y = 0; y < lineRow; ++y)
                    above = above || ink(x, y);
                for (int y = lineRow + 1; y < contentsTop; ++y)
                    below = below || ink(x, y);
            }
            QVERIFY2(above && below, name);
        }
    }

    void accessibleNamesAndDescriptions() {
        Session session;
        QVERIFY(session.start());
        for (const auto& spec : app::kControls) {
            QWidget* widget = session.window()->control(spec.name);
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
            QVERIFY(accessible);
            const QByteArray name = q(spec.name).toUtf8();
            QVERIFY2(accessible->text(QAccessible::Description) == q(spec.name), name.constData());
            QString expected;
            if (auto buddy = app::buddyLabelFor(spec.name))
                expected = q(app::findControl(*buddy)->caption);
            else if (spec.kind != app::ControlKind::TextBox && spec.kind != app::ControlKind::ComboBox)
                expected = q(spec.caption);
            const std::map<app::ControlKind, QAccessible::Role> roles{
                {app::ControlKind::ComboBox, QAccessible::ComboBox},
                {app::ControlKind::Frame, QAccessible::Grouping},
                {app::ControlKind::Button, QAccessible::Button},
                {app::ControlKind::CheckBox, QAccessible::CheckBox},
                {app::ControlKind::TextBox, QAccessible::EditableText},
                {app::ControlKind::Label, QAccessible::StaticText}};
            QVERIFY2(accessible->role() == roles.at(spec.kind), name.constData());
            if (spec.kind == app::ControlKind::Label && spec.caption.empty())
                continue; // the condition label reads out its condition
            QVERIFY2(accessible->text(QAccessible::Name) == expected, name.constData());
        }
        // The window reads as a window named by its caption.
        QAccessibleInterface* window = QAccessible::queryAccessibleInterface(session.window());
        QCOMPARE(window->role(), QAccessible::Window);
        QCOMPARE(window->text(QAccessible::Name), QStringLiteral("Quillmarsh 1.0.0"));
        // The account box's text field, a child of its own, carries the box's name too.
        QAccessibleInterface* field =
            QAccessible::queryAccessibleInterface(session.get<QComboBox>("account_Combo")->lineEdit());
        QCOMPARE(field->role(), QAccessible::EditableText);
        QCOMPARE(field->text(QAccessible::Name), QStringLiteral("対象アカウント"));
    }

    void escapedErrorEndsInput() {
        Session session;
        session.directory.refusedPuts.insert("AccountExpirationDate");
        QVERIFY(session.start());
        QTest::keyClicks(session.get<QComboBox>("account_Combo")->lineEdit(), QStringLiteral("jdoe"));

        MessageBoxAnswerer answerer({QMessageBox::Ok});
        QTest::mouseClick(session.get<QPushButton>("アカウント有効"), Qt::LeftButton);
        QCOMPARE(answerer.seen().size(), std::size_t{1});
        const auto& box = answerer.seen().front();
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.title, QStringLiteral("Quillmarsh"));
        QVERIFY2(box.text.contains(QStringLiteral("実行時エラー")), qPrintable(box.text));
        QVERIFY2(box.text.contains(QStringLiteral("80070005")), qPrintable(box.text));
        QVERIFY2(box.text.contains(QStringLiteral("Access is denied.")), qPrintable(box.text));
        QCOMPARE(session.exits, std::vector<int>{app::kEscapedErrorExitStatus});
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        // The enabling committed before the failed write stays; nothing else runs afterwards.
        QVERIFY(!session.directory.find("jdoe")->disabled);
        const auto binds = session.directory.binds.size();
        QTest::mouseClick(session.get<QPushButton>("Command1"), Qt::LeftButton);
        QCOMPARE(session.directory.binds.size(), binds);
        QCOMPARE(session.exits.size(), std::size_t{1});
    }

    void loadFailureShowsNoWindow() {
        Session session;
        session.computerSystem.fail = true;
        MessageBoxAnswerer answerer({QMessageBox::Ok});
        QVERIFY(!session.start());
        QCOMPARE(session.window(), nullptr);
        QCOMPARE(answerer.seen().size(), std::size_t{1});
        QCOMPARE(answerer.seen().front().icon, QMessageBox::Critical);
        QVERIFY(answerer.seen().front().text.contains(QStringLiteral("computer-system query refused")));
    }
};

int runWindowTests(int argc, char** argv) {
    WindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "window_test.moc"
