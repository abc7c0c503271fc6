// relayd refuses a command line or a configuration file it cannot run
// with, before it touches a port: exit status 2 and one clear message.

#include "relayd_process.h"

#include <QTemporaryDir>
#include <QTest>

namespace relay::relayd::testing {

class relayd_command_line_test : public QObject {
    Q_OBJECT

private slots:
    void bad_command_lines_exit_2_data();
    void bad_command_lines_exit_2();
    void bad_config_files_exit_2_naming_file_line_and_key_data();
    void bad_config_files_exit_2_naming_file_line_and_key();
    void help_and_version();
};

void relayd_command_line_test::bad_command_lines_exit_2_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("--bogus") << QStringList{"--bogus"} << "relayd: unknown option '--bogus'\n";
    QTest::newRow("--address 300") << QStringList{"--address", "300"}
                                   << "relayd: --address must be a whole number from 0 to 255, not '300'\n";
    QTest::newRow("--port") << QStringList{"--port"} << "relayd: option '--port' needs a value\n";
    QTest::newRow("--socket rel") << QStringList{"--socket", "rel.sock"}
                                  << "relayd: --socket needs an absolute path, not 'rel.sock'\n";
    QTest::newRow("--config with --port") << QStringList{"--config", "/x.conf", "--port", "2"}
                                          << "relayd: --port cannot be combined with --config";
    QTest::newRow("word") << QStringList{"start"} << "relayd: unexpected argument 'start'";
    QTest::newRow("missing file") << QStringList{"--config", "/nonexistent/relayd.conf"}
                                  << "relayd: /nonexistent/relayd.conf: cannot be read: No such file or directory\n";
    // What the terminal shows of a bad word must not be an escape sequence.
    QTest::newRow("escape in an option") << QStringList{"--\x1b]0;pwned\x07"}
                                         << "relayd: unknown option '--\\x1b]0;pwned\\x07'\n";
    QTest::newRow("escape in a value") << QStringList{"--address", "\x1b[2J"}
                                       << "relayd: --address must be a whole number from 0 to 255, not '\\x1b[2J'\n";
}

void relayd_command_line_test::bad_command_lines_exit_2()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    const auto run = run_relayd(args);
    QVERIFY(run.finished);
    QCOMPARE(run.exit_code, 2);
    QVERIFY2(run.err.startsWith(message), qPrintable(run.err));
    QCOMPARE(run.out, QString());
}

void relayd_command_line_test::bad_config_files_exit_2_naming_file_line_and_key_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("message");  // after "relayd: FILE:"
    QTest::newRow("misspelt key")
        << QByteArray("[board a]\nport = /dev/ttyUSB0\nadress = 1\n")
        << "3: unknown key 'adress' in [board a]: the keys are port, address, socket, board_id, "
           "relay1 to relay4, relay1_class to relay4_class, interlock, restore, pulse1 to pulse4";
    QTest::newRow("address 256") << QByteArray("[mqtt]\nurl = mqtt://h\n[board a]\nport = 1\naddress = 256\n")
                                 << "5: key 'address' of board 'a' must be a whole number from 0 to 255, not '256'";
    QTest::newRow("no port") << QByteArray("[board a]\naddress = 2\n") << "1: board 'a' has no key 'port'";
    QTest::newRow("unknown section") << QByteArray("[boards]\n")
                                     << "1: unknown section [boards]: sections are [mqtt], [http] and [board NAME]";
    QTest::newRow("no board") << QByteArray("[mqtt]\nurl = x\n")
                              << " no [board NAME] section: name at least one board";
    QTest::newRow("NUL after the port") << QByteArray("[board a]\nport = /dev/pts/90\0\n", 30)
                                        << "2: control byte \\x00 in column 19: the file must be plain text";
    QTest::newRow("escape in a key") << QByteArray("[board a]\nport = 1\n\x1b]0;pwned\x07 = 1\n")
                                     << "3: control byte \\x1b in column 1: the file must be plain text";
    QTest::newRow("one port spelled two ways")
        << QByteArray("[board a]\nport = /dev/ttyUSB0\n[board b]\nport = ttyUSB0\n")
        << "4: key 'port' of board 'b': 'ttyUSB0' is the same device as board 'a''s port '/dev/ttyUSB0' (line 2)";
}

void relayd_command_line_test::bad_config_files_exit_2_naming_file_line_and_key()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("relayd.conf");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
    file.close();

    const auto run = run_relayd({"--config", path});
    QVERIFY(run.finished);
    QCOMPARE(run.exit_code, 2);
    QCOMPARE(run.err, "relayd: " + path + ":" + message + "\n");
}

void relayd_command_line_test::help_and_version()
{
    const auto help = run_relayd({"--help"});
    QCOMPARE(help.exit_code, 0);
    QVERIFY(help.out.startsWith("Usage: relayd [OPTION]..."));
    for (const char* option : {"--port", "--address", "--socket", "--config", "--system", "--simulate", "--mqtt"})
        QVERIFY2(help.out.contains(option), option);
    const auto version = run_relayd({"--version"});
    QCOMPARE(version.exit_code, 0);
    QCOMPARE(version.out, QString("relayd " RELAY_EXPECTED_VERSION "\n"));
}

}  // namespace relay::relayd::testing

QTEST_GUILESS_MAIN(relay::relayd::testing::relayd_command_line_test)
#include "relayd_command_line_test.moc"
