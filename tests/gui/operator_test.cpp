#include <algorithm>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QCursor>
#include <QTest>

#include "app/qt/qt_operator.h"
#include "message_box_answerer.h"

using app::qt::QtOperator;
using guitest::MessageBoxAnswerer;

class OperatorTest final : public QObject {
    Q_OBJECT

private slots:
    void styles_data() {
        QTest::addColumn<int>("style");
        QTest::addColumn<int>("press"); // QMessageBox::StandardButton, or 0 for the Escape key
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("answer");

        QTest::newRow("plain OK") << 0x0 << int(QMessageBox::Ok) << "Quillmarsh|NoIcon|line one\nline two|Ok" << 1;
        QTest::newRow("stop icon") << 0x10 << int(QMessageBox::Ok) << "Quillmarsh|Critical|line one\nline two|Ok" << 1;
        QTest::newRow("information icon")
            << 0x40 << int(QMessageBox::Ok) << "Quillmarsh|Information|line one\nline two|Ok" << 1;
        QTest::newRow("Yes/No, Yes") << 0x34 << int(QMessageBox::Yes) << "Quillmarsh|Warning|line one\nline two|Yes,No"
                                     << 6;
        QTest::newRow("Yes/No, No") << 0x34 << int(QMessageBox::No) << "Quillmarsh|Warning|line one\nline two|Yes,No"
                                    << 7;
        QTest::newRow("Yes/No, Escape") << 0x34 << 0 << "Quillmarsh|Warning|line one\nline two|Yes,No" << 7;
        QTest::newRow("OK, Escape") << 0x40 << 0 << "Quillmarsh|Information|line one\nline two|Ok" << 1;
    }

    void styles() {
        QFETCH(int, style);
        QFETCH(int, press);
        QFETCH(QString, box);
        QFETCH(int, answer);

        QtOperator person;
        // No scripted answer: the answerer presses Escape.
        MessageBoxAnswerer answerer(press ? std::vector{static_cast<QMessageBox::StandardButton>(press)}
                                          : std::vector<QMessageBox::StandardButton>{});
        QCOMPARE(person.messageBox("line one\r\nline two", style, std::nullopt), answer);
        QCOMPARE(answerer.summaries(), QStringList{box});
        QVERIFY(answerer.seen().front().modal);
    }

    void titleAndTextAreShownAsGiven() {
        QtOperator person;
        MessageBoxAnswerer answerer({QMessageBox::Ok});
        QCOMPARE(person.messageBox("<b>2027/1/5</b> 迄", 0x40, std::string("停止の確認")), 1);
        QCOMPARE(answerer.summaries(), QStringList{"停止の確認|Information|<b>2027/1/5</b> 迄|Ok"});
    }

    void yesIsTheDefaultAnswer() {
        QtOperator person;
        // Enter takes the default button.
        QTimer::singleShot(50, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                QTest::keyClick(box, Qt::Key_Return);
        });
        QCOMPARE(person.messageBox("?", 0x34, std::nullopt), 6);
    }

    // Japanese captions with the mnemonics Windows gives them; the bare letter answers.
    void japaneseButtons_data() {
        QTest::addColumn<int>("style"); // -1: the escaped-error box
        QTest::addColumn<QStringList>("captions");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("answer");

        const QStringList yesNo{"はい(&Y)", "いいえ(&N)"};
        QTest::newRow("OK") << 0x40 << QStringList{"OK"} << int(Qt::Key_Return) << 1;
        QTest::newRow("Yes/No, Y") << 0x34 << yesNo << int(Qt::Key_Y) << 6;
        QTest::newRow("Yes/No, N") << 0x34 << yesNo << int(Qt::Key_N) << 7;
        QTest::newRow("OK/Cancel") << 0x1 << QStringList{"OK", "キャンセル"} << int(Qt::Key_Escape) << 2;
        QTest::newRow("Yes/No/Cancel, N")
            << 0x3 << QStringList{"はい(&Y)", "いいえ(&N)", "キャンセル"} << int(Qt::Key_N) << 7;
        QTest::newRow("Retry/Cancel, R") << 0x5 << QStringList{"再試行(&R)", "キャンセル"} << int(Qt::Key_R) << 4;
        QTest::newRow("escaped error") << -1 << QStringList{"OK"} << int(Qt::Key_Return) << 0;
    }

    void japaneseButtons() {
        QFETCH(int, style);
        QFETCH(QStringList, captions);
        QFETCH(int, key);
        QFETCH(int, answer);

        QStringList seen, names;
        bool pressed = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (pressed || !box || !box->isVisible())
                return;
            pressed = true;
            QList<QAbstractButton*> buttons = box->buttons();
            std::sort(buttons.begin(), buttons.end(), [box](QAbstractButton* a, QAbstractButton* b) {
                return a->mapTo(box, QPoint()).x() < b->mapTo(box, QPoint()).x();
            });
            for (QAbstractButton* button : buttons) {
                seen << button->text();
                QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(button);
                names << (accessible->role() == QAccessible::Button ? accessible->text(QAccessible::Name)
                                                                    : QStringLiteral("not a button"));
            }
            QTest::keyClick(box, static_cast<Qt::Key>(key));
        });
        poll.start(10);

        QtOperator person;
        if (style < 0)
            person.reportEscapedError(5, "プロシージャの呼び出し、または引数が不正です。");
        else
            QCOMPARE(person.messageBox("?", style, std::nullopt), answer);
        QVERIFY(pressed);
        QCOMPARE(seen, captions);
        // Screen readers read the caption without the mnemonic marker.
        QCOMPARE(names, captions.replaceInStrings(QStringLiteral("&"), QString()));
    }

    void busyPointerIsAStateNotAStack() {
        {
            QtOperator person;
            person.setBusy(true);
            person.setBusy(true);
            QVERIFY(QApplication::overrideCursor());
            QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
            person.setBusy(false);
            QCOMPARE(QApplication::overrideCursor(), nullptr);
            person.setBusy(false);
            QCOMPARE(QApplication::overrideCursor(), nullptr);

            // Left busy by an error that escaped mid-operation.
            try {
                quill::BusyPointer busy(person);
                throw std::runtime_error("escaped");
            } catch (const std::runtime_error&) {
            }
            QCOMPARE(QApplication::overrideCursor(), nullptr);
            person.setBusy(true);
        }
        // Destroyed while busy: the default pointer comes back.
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    void escapedErrorText_data() {
        QTest::addColumn<qlonglong>("number");
        QTest::addColumn<QString>("text");
        QTest::newRow("runtime error") << qlonglong(9) << "実行時エラー '9':\n\nインデックスが有効範囲にありません。";
        QTest::newRow("platform code")
            << qlonglong(0x80070005L)
            << "実行時エラー '-2147024891 (80070005)':\n\nインデックスが有効範囲にありません。";
        QTest::newRow("negative code")
            << qlonglong(-2147217406)
            << "実行時エラー '-2147217406 (80041002)':\n\nインデックスが有効範囲にありません。";
    }

    void escapedErrorText() {
        QFETCH(qlonglong, number);
        QFETCH(QString, text);
        QCOMPARE(app::qt::escapedErrorText(static_cast<long>(number), "インデックスが有効範囲にありません。"), text);

        QtOperator person;
        person.setBusy(true);
        MessageBoxAnswerer answerer({QMessageBox::Ok});
        person.reportEscapedError(static_cast<long>(number), "インデックスが有効範囲にありません。");
        QCOMPARE(answerer.summaries(), QStringList{"Quillmarsh|Critical|" + text + "|Ok"});
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }
};

int runOperatorTests(int argc, char** argv) {
    OperatorTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "operator_test.moc"
