// What assistive technology is told about the window, read through Qt's
// accessibility interfaces in the panel's own process: every control's
// name, role and description, and the spin controls' values. Without a
// display Qt has no accessibility bridge and sends no events; that a change
// is announced is tested from outside, over AT-SPI, by atspi_tree_test.py.

#include "form_fixture.h"

#include <QAccessible>
#include <QApplication>

using namespace relay;
using namespace relay::testing;

namespace {

QAccessibleInterface* face(QObject* o) { return QAccessible::queryAccessibleInterface(o); }

}  // namespace

class accessibility_test : public QObject {
    Q_OBJECT
private slots:
    void init() { f = std::make_unique<form_fixture>(); }
    void cleanup() { f.reset(); }

    void control_says_what_it_is_data();
    void control_says_what_it_is();
    void every_control_in_the_window_has_a_name();
    void indicator_name_follows_what_it_shows();
    void connect_button_is_renamed_with_its_caption();
    void spin_value_is_the_field_value();

private:
    std::unique_ptr<form_fixture> f;
};

void control_row(const char* object, QAccessible::Role role, const char* name, bool described)
{
    QTest::newRow(object) << QString::fromLatin1(object) << int(role) << QString::fromLatin1(name) << described;
}

void accessibility_test::control_says_what_it_is_data()
{
    QTest::addColumn<QString>("object");
    QTest::addColumn<int>("role");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("described");

    control_row("Label3", QAccessible::StaticText, "com port", false);
    control_row("chuankou_num", QAccessible::EditableText, "com port", true);
    control_row("VScroll2", QAccessible::SpinBox, "com port up/down", true);
    control_row("open_comm", QAccessible::Button, "connect", true);
    control_row("Label5", QAccessible::StaticText, "address", false);
    control_row("add", QAccessible::EditableText, "board address", true);
    control_row("VScroll1", QAccessible::SpinBox, "board address up/down", true);
    control_row("Label4", QAccessible::StaticText, "relay 1", false);
    control_row("Label2", QAccessible::StaticText, "relay 2", false);
    control_row("Label7", QAccessible::StaticText, "relay 3", false);
    control_row("Label9", QAccessible::StaticText, "relay 4", false);
    for (int i = 1; i <= 4; ++i) {
        const QString n = QString::number(i);
        QTest::addRow("Label6_%d", i) << "Label6_" + n << int(QAccessible::StaticText)
                                      << QStringLiteral("relay %1 state: state").arg(i) << true;
        QTest::addRow("open_%d", i) << "open_" + n << int(QAccessible::Button) << QStringLiteral("relay %1 on").arg(i)
                                    << true;
        QTest::addRow("close_%d", i) << "close_" + n << int(QAccessible::Button)
                                     << QStringLiteral("relay %1 off").arg(i) << true;
    }
    control_row("openall", QAccessible::Button, "all relays on", true);
    control_row("closeall", QAccessible::Button, "all relays off", true);
}

void accessibility_test::control_says_what_it_is()
{
    QFETCH(QString, object);
    QFETCH(int, role);
    QFETCH(QString, name);
    QFETCH(bool, described);

    auto* w = f->form->findChild<QWidget*>(object);
    QVERIFY2(w, qPrintable(object));
    QAccessibleInterface* a = face(w);
    QVERIFY(a && a->isValid());
    QCOMPARE(a->role(), QAccessible::Role(role));
    QCOMPARE(a->text(QAccessible::Name), name);
    if (described)
        QVERIFY2(!a->text(QAccessible::Description).isEmpty(), qPrintable(object));
    // It sits in the window's tree, where a reader walking it finds it.
    QCOMPARE(a->parent(), face(f->form.get()));
    QVERIFY(a->parent()->indexOfChild(a) >= 0);
}

void accessibility_test::every_control_in_the_window_has_a_name()
{
    QAccessibleInterface* window = face(f->form.get());
    QCOMPARE(window->text(QAccessible::Name), f->form->windowTitle());
    QCOMPARE(window->childCount(), 25);
    QSet<QString> names;
    for (int i = 0; i < window->childCount(); ++i) {
        const QString name = window->child(i)->text(QAccessible::Name);
        QVERIFY2(!name.isEmpty(), qPrintable(window->child(i)->object()->objectName()));
        names.insert(name);
    }
    // Only a label and the field it names share one: "com port".
    QCOMPARE(names.size(), 24);
}

void accessibility_test::indicator_name_follows_what_it_shows()
{
    QVERIFY(f->connect_panel());
    auto* indicator = f->w().Label6[1];
    QAccessibleInterface* a = face(indicator);
    QCOMPARE(a->text(QAccessible::Name), QStringLiteral("relay 2 state: state"));

    f->board_reports({status_on, status_off, status_on, status_on});
    QCOMPARE(a->text(QAccessible::Name), QStringLiteral("relay 2 state: off"));
    // Its description is the tooltip that says what it reports.
    QCOMPARE(a->text(QAccessible::Description), indicator->toolTip());

    f->board_reports({status_on, status_on, status_on, status_on});
    QCOMPARE(a->text(QAccessible::Name), QStringLiteral("relay 2 state: on"));
    QCOMPARE(face(f->w().Label6[0])->text(QAccessible::Name), QStringLiteral("relay 1 state: on"));

    // The board falls silent: the watchdog's "state" is named as well.
    f->tick(6);
    QCOMPARE(a->text(QAccessible::Name), QStringLiteral("relay 2 state: state"));
}

void accessibility_test::connect_button_is_renamed_with_its_caption()
{
    auto* button = f->w().open_comm;
    QAccessibleInterface* a = face(button);
    QVERIFY(a->actionInterface());
    QVERIFY(a->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
    // Pressed the way a screen reader presses it.
    a->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QTRY_COMPARE(a->text(QAccessible::Name), QStringLiteral("disconnect"));
    QVERIFY(f->device.is_open());
    QVERIFY(!a->state().disabled);
    QVERIFY(face(f->w().chuankou_num)->state().disabled);
    QVERIFY(!face(f->w().open[1])->state().disabled);
}

void accessibility_test::spin_value_is_the_field_value()
{
    auto* spin = f->w().VScroll1;
    QAccessibleValueInterface* value = face(spin)->valueInterface();
    QVERIFY(value);
    QCOMPARE(value->currentValue().toInt(), 1);
    QCOMPARE(value->minimumValue().toInt(), 0);
    QCOMPARE(value->maximumValue().toInt(), 15);

    QTest::mouseClick(spin, Qt::LeftButton, {}, form_fixture::up_arrow(spin));
    QCOMPARE(f->w().add->text(), QStringLiteral("2"));
    QCOMPARE(value->currentValue().toInt(), 2);

    // A reader that sets the value moves the field with it.
    value->setCurrentValue(7);
    QCOMPARE(f->w().add->text(), QStringLiteral("7"));
    QCOMPARE(f->logic.controls().add.text, std::string("7"));
}

QTEST_MAIN(accessibility_test)
#include "accessibility_test.moc"
