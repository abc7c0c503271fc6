// The connect button and what the operator is told when it fails.

#include "form_fixture.h"

#include <QMessageBox>

using namespace relay;
using namespace relay::testing;

class connect_test : public QObject {
    Q_OBJECT
private slots:
    void init() { f = std::make_unique<form_fixture>(); }
    void cleanup() { f.reset(); }

    void failed_open_shows_reason_and_stays_disconnected();
    void message_shows_text_exactly();
    void connect_and_disconnect_switch_panel_state();

private:
    std::unique_ptr<form_fixture> f;
};

void connect_test::failed_open_shows_reason_and_stays_disconnected()
{
    const std::string reason = "/dev/ttyUSB0 is in use by another program.";
    f->device.refuse = {{"/dev/ttyUSB0", reason}};
    QTest::mouseClick(f->w().open_comm, Qt::LeftButton);

    QMessageBox* box = nullptr;
    QTRY_VERIFY((box = f->form->findChild<QMessageBox*>()) && box->isVisible());
    QCOMPARE(box->text(), QString::fromStdString(reason));
    QCOMPARE(box->icon(), QMessageBox::Warning);
    QCOMPARE(box->windowModality(), Qt::WindowModal);
    QCOMPARE(box->textFormat(), Qt::PlainText);

    // Still disconnected, and the event loop runs on: it was opened, not exec'd.
    QVERIFY(!f->device.is_open());
    QCOMPARE(f->w().open_comm->text(), QStringLiteral("connect"));
    QVERIFY(f->w().chuankou_num->isEnabled());
    QVERIFY(!f->w().openall->isEnabled());
    QVERIFY(!f->logic.controls().Timer1.running);

    box->button(QMessageBox::Ok)->click();
    QTRY_VERIFY(!f->form->findChild<QMessageBox*>());
}

void connect_test::message_shows_text_exactly()
{
    const std::string text = "Port <b>2</b> & 3:\nnot found";
    f->form->show_message("Cannot connect", text);
    auto* box = f->form->findChild<QMessageBox*>();
    QVERIFY(box);
    QTRY_VERIFY(box->isVisible());
    QCOMPARE(box->text(), QString::fromStdString(text));
    QCOMPARE(box->windowTitle(), QStringLiteral("Cannot connect"));
    box->button(QMessageBox::Ok)->click();
}

void connect_test::connect_and_disconnect_switch_panel_state()
{
    QVERIFY(f->connect_panel());
    QVERIFY(f->logic.controls().Timer1.running);
    QVERIFY(f->w().open[2]->isEnabled());
    QVERIFY(!f->w().chuankou_num->isEnabled());
    QTest::mouseClick(f->w().open_comm, Qt::LeftButton);
    QCOMPARE(f->w().open_comm->text(), QStringLiteral("connect"));
    QVERIFY(!f->device.is_open());
    QVERIFY(!f->w().open[2]->isEnabled());
    QVERIFY(!f->w().Label6[2]->isEnabled());
    QVERIFY(f->w().chuankou_num->isEnabled());
    // And again: it reopens the port named in the field.
    QVERIFY(f->connect_panel());
    QCOMPARE(f->device.opened_paths.size(), std::size_t{2});
}

QTEST_MAIN(connect_test)
#include "connect_test.moc"
