#pragma once
// Puts the numbered serial ports into a widget's tooltip at the moment it
// is about to show: adapters come and go while the panel runs, so a list
// taken at start-up would soon be wrong.

#include <QObject>

namespace relay {

class port_catalog;

class port_list_tooltip : public QObject {
    Q_OBJECT
public:
    port_list_tooltip(const port_catalog& catalog, QObject* parent);

    // Serves the tooltip of `widget` from now on.
    void attach(QWidget* widget);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    const port_catalog& ports;
};

}  // namespace relay
