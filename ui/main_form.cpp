#include "ui/main_form.h"

#include "ui/clickable_label.h"
#include "ui/form_accessibility.h"
#include "ui/form_look.h"
#include "ui/keyboard_button.h"
#include "ui/port_list_tooltip.h"
#include "ui/spin_control.h"

#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>

namespace relay {
namespace {

// Left, top, width and height in twips, as the layout gives them.
void place(QWidget* w, int left, int top, int width, int height)
{
    w->setGeometry(px(left), px(top), px(width), px(height));
}

// Text colour stays black whatever the desktop's colour scheme; a disabled
// control keeps the style's greyed look.
void set_text_colour(QWidget* w, QPalette::ColorRole role, const QColor& colour)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Active, role, colour);
    p.setColor(QPalette::Inactive, role, colour);
    w->setPalette(p);
}

QLabel* make_label(QWidget* parent, const char* name, const char* caption)
{
    auto* label = new QLabel(QString::fromLatin1(caption), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(control_font());
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label->setFocusPolicy(Qt::NoFocus);
    set_text_colour(label, QPalette::WindowText, Qt::black);
    return label;
}

QPushButton* make_button(QWidget* parent, const QString& name, const char* caption)
{
    auto* button = new keyboard_button(QString::fromLatin1(caption), parent);
    button->setObjectName(name);
    button->setFont(control_font());
    return button;
}

QLineEdit* make_field(QWidget* parent, const char* name)
{
    auto* field = new QLineEdit(QStringLiteral("1"), parent);
    field->setObjectName(QString::fromLatin1(name));
    field->setFont(field_font());
    // At 15 points two digits take most of the field's 25 pixels; a thin
    // border and no padding leave them the room the frame would take.
    // A style sheet draws with the application's palette, not the window's,
    // so it names the light colours itself.
    const QPalette light = form_palette();
    field->setStyleSheet(QStringLiteral("QLineEdit { border: 1px solid %1; padding: 0px; background: %2; }"
                                        "QLineEdit:disabled { color: %3; }")
                             .arg(light.color(QPalette::Dark).name(), light.color(QPalette::Base).name(),
                                  light.color(QPalette::Disabled, QPalette::Text).name()));
    set_text_colour(field, QPalette::Text, Qt::black);
    return field;
}

spin_control* make_spin(QWidget* parent, const char* name)
{
    auto* spin = new spin_control(parent);
    spin->setObjectName(QString::fromLatin1(name));
    spin->set_spin_value(1);
    return spin;
}

QString indexed(const char* name, int relay) { return QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(relay); }

}  // namespace

main_form::main_form(panel_controller& logic, const port_catalog& catalog, logic_thread* logic_home, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      logic(logic), logic_home(logic_home)
{
    setObjectName(QStringLiteral("main_form"));
    setWindowTitle(form_caption());
    setWindowIcon(form_icon());
    setFixedSize(px(6240), px(5250));
    // Label and field text is black on every desktop, so the window and the
    // fields keep the light background it was chosen for: on a dark scheme
    // the desktop's own would leave black on near-black.
    setPalette(form_palette());

    build_controls(catalog);
    describe_controls(widgets_);
    set_tab_order();
    forward_events();
    widgets_.chuankou_num->setFocus();

    // The controls exist; the logic may now put them into its start state.
    if (!logic_home) {
        logic.add_view(this);
        logic.Form_Load();
    } else {
        logic_home->run([this] {
            this->logic.add_view(this);
            this->logic.Form_Load();
            hand_over_controls(false);
        });
    }
    paint(true);
}

main_form::~main_form()
{
    if (!logic_home)
        logic.remove_view(this);
    else
        logic_home->run([this] { logic.remove_view(this); });
}

void main_form::tell_logic(const std::function<void()>& event)
{
    if (!logic_home) {
        event();
        return;
    }
    logic_home->run([this, &event] {
        event();
        hand_over_controls(false);
    });
    paint(false);
}

void main_form::hand_over_controls(bool wake_window)
{
    const std::lock_guard<std::mutex> guard(handed_over.lock);
    if (handed_over.controls == logic.controls())
        return;
    handed_over.controls = logic.controls();
    if (!wake_window || handed_over.paint_queued)
        return;
    handed_over.paint_queued = true;
    QMetaObject::invokeMethod(this, [this] { paint(false); }, Qt::QueuedConnection);
}

void main_form::build_controls(const port_catalog& catalog)
{
    widgets_.Label3 = make_label(this, "Label3", "com port");
    place(widgets_.Label3, 120, 120, 1335, 375);
    widgets_.chuankou_num = make_field(this, "chuankou_num");
    place(widgets_.chuankou_num, 1680, 120, 375, 375);
    widgets_.VScroll2 = make_spin(this, "VScroll2");
    place(widgets_.VScroll2, 2040, 120, 375, 375);
    widgets_.open_comm = make_button(this, QStringLiteral("open_comm"), "connect");
    place(widgets_.open_comm, 3360, 120, 1935, 375);

    widgets_.Label5 = make_label(this, "Label5", "address");
    place(widgets_.Label5, 120, 1080, 1335, 375);
    widgets_.add = make_field(this, "add");
    place(widgets_.add, 1680, 1080, 375, 375);
    widgets_.VScroll1 = make_spin(this, "VScroll1");
    place(widgets_.VScroll1, 2040, 1080, 375, 375);

    widgets_.Label4 = make_label(this, "Label4", "relay 1");
    widgets_.Label2 = make_label(this, "Label2", "relay 2");
    widgets_.Label7 = make_label(this, "Label7", "relay 3");
    widgets_.Label9 = make_label(this, "Label9", "relay 4");
    const std::array<QLabel*, relay_count> names{widgets_.Label4, widgets_.Label2, widgets_.Label7,
                                                 widgets_.Label9};

    for (int i = 0; i < relay_count; ++i) {
        const int relay = i + 1;
        const int top = 1800 + 720 * i;
        place(names[i], 120, top, 1215, 375);

        auto* indicator = new clickable_label(this);
        indicator->setObjectName(indexed("Label6", relay));
        indicator->setText(QStringLiteral("state"));
        indicator->setFont(control_font());
        indicator->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        indicator->setFocusPolicy(Qt::NoFocus);
        place(indicator, 1800, top, 1695, 375);
        widgets_.Label6[i] = indicator;

        widgets_.open[i] = make_button(this, indexed("open", relay), "on");
        place(widgets_.open[i], 3840, top, 975, 375);
        widgets_.close[i] = make_button(this, indexed("close", relay), "off");
        place(widgets_.close[i], 5040, top, 975, 375);
    }

    widgets_.openall = make_button(this, QStringLiteral("openall"), "relay all");
    place(widgets_.openall, 720, 4680, 1455, 375);
    widgets_.closeall = make_button(this, QStringLiteral("closeall"), "relay off");
    place(widgets_.closeall, 3360, 4680, 1455, 375);

    // Relay controls start disabled, before the logic says anything.
    for (int i = 0; i < relay_count; ++i) {
        widgets_.open[i]->setEnabled(false);
        widgets_.close[i]->setEnabled(false);
    }
    widgets_.openall->setEnabled(false);
    widgets_.closeall->setEnabled(false);

    auto* tooltip = new port_list_tooltip(catalog, this);
    tooltip->attach(widgets_.chuankou_num);
    tooltip->attach(widgets_.VScroll2);
}

void main_form::set_tab_order()
{
    std::vector<QWidget*> order{widgets_.chuankou_num, widgets_.open_comm, widgets_.add, widgets_.openall,
                                widgets_.closeall};
    for (int i = 0; i < relay_count; ++i) {
        order.push_back(widgets_.close[i]);
        order.push_back(widgets_.open[i]);
    }
    order.push_back(widgets_.VScroll1);
    order.push_back(widgets_.VScroll2);
    for (std::size_t i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
}

void main_form::forward_events()
{
    const auto on_click = [this](auto* sender, auto signal, std::function<void()> event) {
        connect(sender, signal, this, [this, event] { tell_logic(event); });
    };
    on_click(widgets_.open_comm, &QPushButton::clicked, [this] { logic.open_comm_Click(); });
    for (int i = 0; i < relay_count; ++i) {
        const int relay = i + 1;
        on_click(widgets_.open[i], &QPushButton::clicked, [this, relay] { logic.open_Click(relay); });
        on_click(widgets_.close[i], &QPushButton::clicked, [this, relay] { logic.close_Click(relay); });
        on_click(widgets_.Label6[i], &clickable_label::clicked, [this, relay] { logic.Label6_Click(relay); });
    }
    on_click(widgets_.openall, &QPushButton::clicked, [this] { logic.openall_Click(); });
    on_click(widgets_.closeall, &QPushButton::clicked, [this] { logic.closeall_Click(); });

    connect(widgets_.add, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (painting)
            return;
        fields_touched = true;
        const auto typed = text.toStdString();
        tell_logic([this, &typed] { logic.set_add_text(typed); });
    });
    connect(widgets_.chuankou_num, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (painting)
            return;
        fields_touched = true;
        const auto typed = text.toStdString();
        tell_logic([this, &typed] { logic.set_chuankou_num_text(typed); });
    });
    connect(widgets_.VScroll1, &spin_control::spin_changed, this, [this](int value) {
        if (!painting)
            tell_logic([this, value] { logic.VScroll1_Change(value); });
    });
    connect(widgets_.VScroll2, &spin_control::spin_changed, this, [this](int value) {
        if (!painting)
            tell_logic([this, value] { logic.VScroll2_Change(value); });
    });
}

}  // namespace relay
