// Painting the logic's controls. The window is repainted on every 100 ms
// tick and every answer, so each property is written only when it differs
// from what was painted last; rewriting an unchanged caption or palette
// would cost a relayout and flicker for nothing.

#include "ui/clickable_label.h"
#include "ui/form_accessibility.h"
#include "ui/form_look.h"
#include "ui/main_form.h"
#include "ui/spin_control.h"

#include <QAnyStringView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

namespace relay {
namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

// Brings what was painted up to date; true when it changed. Most ticks
// change nothing, and then nothing is copied.
template <typename T>
bool take(T& painted, const T& now)
{
    if (painted == now)
        return false;
    painted = now;
    return true;
}

void paint_button(QPushButton* b, const button_state& now, button_state& painted, bool everything)
{
    if (take(painted.caption, now.caption) || everything)
        b->setText(qs(now.caption));
    if (take(painted.enabled, now.enabled) || everything)
        b->setEnabled(now.enabled);
}

void paint_indicator(QLabel* l, int relay, const label_state& now, label_state& painted, bool everything)
{
    if (take(painted.caption, now.caption) || everything) {
        l->setText(qs(now.caption));
        // Renaming tells a screen reader the indicator changed.
        l->setAccessibleName(indicator_name(relay, l->text()));
    }
    if (take(painted.enabled, now.enabled) || everything)
        l->setEnabled(now.enabled);
    if (take(painted.colour, now.colour) || everything) {
        QPalette p = l->palette();
        const QColor c = colour_from_bgr(now.colour);
        p.setColor(QPalette::Active, QPalette::WindowText, c);
        p.setColor(QPalette::Inactive, QPalette::WindowText, c);
        l->setPalette(p);
    }
    if (take(painted.tooltip, now.tooltip) || everything)
        l->setToolTip(qs(now.tooltip));
}

// touched: the widget's text may have changed since the last paint (the
// operator typed, pasted or a screen reader wrote it). Then the widget is
// compared with the logic's text, not the last paint, and equal text is
// left alone so that the cursor stays where the operator put it.
void paint_field(QLineEdit* f, const text_state& now, text_state& painted, bool everything, bool touched)
{
    const bool text_changed = take(painted.text, now.text);
    if ((text_changed || touched || everything) && !QAnyStringView::equal(f->text(), QUtf8StringView(now.text)))
        f->setText(qs(now.text));
    if (take(painted.enabled, now.enabled) || everything)
        f->setEnabled(now.enabled);
}

void paint_spin(spin_control* s, const spin_state& now, spin_state& painted, bool everything)
{
    if (s->spin_value() != now.value)
        s->set_spin_value(now.value);
    if (take(painted.enabled, now.enabled) || everything)
        s->setEnabled(now.enabled);
}

}  // namespace

void main_form::controls_changed()
{
    if (!logic_home)
        paint(false);
    else
        hand_over_controls(true);
}

void main_form::paint(bool everything)
{
    // With the logic on a thread of its own, its controls change under the
    // window's feet: paint the copy it handed over.
    panel_controls copy;
    if (logic_home) {
        const std::lock_guard<std::mutex> guard(handed_over.lock);
        handed_over.paint_queued = false;
        copy = handed_over.controls;
    }
    const panel_controls& now = logic_home ? copy : logic.controls();
    const bool was_painting = painting;
    painting = true;

    paint_button(widgets_.open_comm, now.open_comm, painted.open_comm, everything);
    paint_button(widgets_.openall, now.openall, painted.openall, everything);
    paint_button(widgets_.closeall, now.closeall, painted.closeall, everything);
    for (int i = 0; i < relay_count; ++i) {
        paint_button(widgets_.open[i], now.open[i], painted.open[i], everything);
        paint_button(widgets_.close[i], now.close[i], painted.close[i], everything);
        paint_indicator(widgets_.Label6[i], i + 1, now.Label6[i], painted.Label6[i], everything);
    }
    const bool touched = fields_touched;
    fields_touched = false;
    paint_field(widgets_.add, now.add, painted.add, everything, touched);
    paint_field(widgets_.chuankou_num, now.chuankou_num, painted.chuankou_num, everything, touched);
    paint_spin(widgets_.VScroll1, now.VScroll1, painted.VScroll1, everything);
    paint_spin(widgets_.VScroll2, now.VScroll2, painted.VScroll2, everything);
    if (take(painted.seen_through, now.seen_through) || everything)
        setWindowTitle(now.seen_through.empty() ? form_caption()
                                                : form_caption() + QStringLiteral(" \u2014 ") + qs(now.seen_through));
    painting = was_painting;
}

void main_form::show_message(const std::string& title, const std::string& text)
{
    if (!logic_home)
        open_message(title, text);
    else
        QMetaObject::invokeMethod(this, [this, title, text] { open_message(title, text); }, Qt::QueuedConnection);
}

void main_form::open_message(const std::string& title, const std::string& text)
{
    // Not exec(): the poll tick and the port's notifications keep running
    // while the operator reads it.
    auto* box = new QMessageBox(QMessageBox::Warning, qs(title), qs(text), QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("message"));
    box->setTextFormat(Qt::PlainText);
    box->setWindowModality(Qt::WindowModal);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

}  // namespace relay
