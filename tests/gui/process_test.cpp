#include <QProcess>
#include <QTest>

#include "app/main_module.h"

class ProcessTest final : public QObject {
    Q_OBJECT

private slots:
    void exitStatus_data() {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("boxes");

        // The window wears the program's icon, built into the program in its three sizes.
        QTest::newRow("closing the window") << "close" << 0 << QStringList{"ICON\t16,32,64"};
        QTest::newRow("error escaping the load handler")
            << "load-fails" << app::kEscapedErrorExitStatus
            << QStringList{"BOX\tCritical\tQuillmarsh\t実行時エラー '-2147217406 (80041002)':\\n\\n"
                           "Not found (computer-system query refused)"};
        QTest::newRow("error escaping a button handler")
            << "handler-fails" << app::kEscapedErrorExitStatus
            << QStringList{"BOX\tCritical\tQuillmarsh\t実行時エラー '-2147024891 (80070005)':\\n\\nAccess is denied."};
    }

    void exitStatus() {
        QFETCH(QString, scenario);
        QFETCH(int, status);
        QFETCH(QStringList, boxes);

        QProcess probe;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        probe.setProcessEnvironment(environment);
        probe.start(QStringLiteral(QUILL_GUI_PROBE), {scenario});
        QVERIFY(probe.waitForFinished(30000));
        const QString output = QString::fromUtf8(probe.readAllStandardOutput());
        QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
        QVERIFY2(probe.exitCode() == status, qPrintable(output + probe.readAllStandardError()));
        QCOMPARE(output.split('\n', Qt::SkipEmptyParts), boxes);
    }
};

int runProcessTests(int argc, char** argv) {
    ProcessTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "process_test.moc"
