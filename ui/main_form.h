#pragma once
// The panel's window. It paints the logic's controls onto widgets and hands
// the operator's clicks and edits to the logic's event procedures; it makes
// no decision of its own.
// It attaches itself to the logic as one of its views for as long as it
// lives. The logic may run on the window's thread, or on a thread of its
// own (`logic_thread`): then every call into it goes through that thread,
// and the window paints from a copy of the controls that the logic's thread
// hands over whenever they change.

#include "session/logic_thread.h"
#include "panel/panel_controller.h"

#include <QWidget>

#include <array>
#include <functional>
#include <mutex>

class QLabel;
class QLineEdit;
class QPushButton;

namespace relay {

class clickable_label;
class port_catalog;
class spin_control;

// The controls under the names the panel's event procedures use. Relay i
// is element i - 1 of each array.
struct main_form_widgets {
    QLabel* Label3 = nullptr;
    QLineEdit* chuankou_num = nullptr;
    spin_control* VScroll2 = nullptr;
    QPushButton* open_comm = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* add = nullptr;
    spin_control* VScroll1 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label9 = nullptr;
    std::array<clickable_label*, relay_count> Label6{};
    std::array<QPushButton*, relay_count> open{};
    std::array<QPushButton*, relay_count> close{};
    QPushButton* openall = nullptr;
    QPushButton* closeall = nullptr;
};

class main_form : public QWidget, public panel_controller::view {
    Q_OBJECT
public:
    // Builds every control, then runs Form_Load and paints its result. The
    // catalog numbers the ports listed in the port field's tooltip.
    // With logic_home null the logic runs on the window's thread.
    main_form(panel_controller& logic, const port_catalog& catalog, logic_thread* logic_home = nullptr,
              QWidget* parent = nullptr);
    ~main_form() override;

    const main_form_widgets& widgets() const { return widgets_; }

    void controls_changed() override;
    void show_message(const std::string& title, const std::string& text) override;

private:
    void build_controls(const port_catalog& catalog);
    void set_tab_order();
    void forward_events();
    // Runs an event procedure where the logic lives and paints its result
    // before returning, as a click on the window's own thread would.
    void tell_logic(const std::function<void()>& event);
    void paint(bool everything);
    void open_message(const std::string& title, const std::string& text);
    // On the logic's thread: keeps a copy of the controls when they changed,
    // and wakes the window to paint it unless a paint is already on its way.
    void hand_over_controls(bool wake_window);

    panel_controller& logic;
    logic_thread* const logic_home;
    main_form_widgets widgets_;
    // The controls as the logic's thread last handed them over.
    struct {
        std::mutex lock;
        panel_controls controls;
        bool paint_queued = false;
    } handed_over;
    // What the widgets show now, so that a tick repaints only what changed.
    panel_controls painted;
    // Set while painting, so that rewriting a field is not reported back
    // to the logic as the operator's edit.
    bool painting = false;
    // A field's text changed other than by painting since the last paint.
    bool fields_touched = false;
};

}  // namespace relay
