#include "ui/form_accessibility.h"

#include "ui/clickable_label.h"
#include "ui/main_form.h"
#include "ui/spin_control.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace relay {
namespace {

void describe(QWidget* w, const QString& name, const QString& description)
{
    w->setAccessibleName(name);
    w->setAccessibleDescription(description);
}

}  // namespace

void describe_controls(const main_form_widgets& ui)
{
    describe(ui.chuankou_num, QStringLiteral("com port"),
             QStringLiteral("serial port number, 1 for the first port, or a device name such as ttyUSB0"));
    describe(ui.VScroll2, QStringLiteral("com port up/down"), QStringLiteral("steps the port number from 0 to 15"));
    ui.open_comm->setAccessibleDescription(
        QStringLiteral("opens the com port and polls the board, or closes the port again"));
    describe(ui.add, QStringLiteral("board address"), QStringLiteral("address of the board, 0 to 255"));
    describe(ui.VScroll1, QStringLiteral("board address up/down"),
             QStringLiteral("steps the board address from 0 to 15"));
    // A reader names a field after the label that points at it.
    ui.Label3->setBuddy(ui.chuankou_num);
    ui.Label5->setBuddy(ui.add);

    for (int i = 0; i < relay_count; ++i) {
        const int relay = i + 1;
        describe(ui.open[i], QStringLiteral("relay %1 on").arg(relay), QStringLiteral("switches relay %1 on").arg(relay));
        describe(ui.close[i], QStringLiteral("relay %1 off").arg(relay),
                 QStringLiteral("switches relay %1 off").arg(relay));
        ui.Label6[i]->setAccessibleName(indicator_name(relay, ui.Label6[i]->text()));
        // No description of its own: the reader falls back to the tooltip,
        // which the panel keeps saying why the indicator reads "state".
    }
    describe(ui.openall, QStringLiteral("all relays on"), QStringLiteral("switches all four relays on"));
    describe(ui.closeall, QStringLiteral("all relays off"), QStringLiteral("switches all four relays off"));
}

QString indicator_name(int relay, const QString& caption)
{
    return QStringLiteral("relay %1 state: %2").arg(relay).arg(caption);
}

}  // namespace relay
