#pragma once
// The window's way to a board that another program owns: the owner's
// control socket, found from the device the operator named, and a client of
// it on the session's Qt loop. The window's logic sees it as a board_owner.
// Made on the session's thread, with the logic it serves, and used only
// there.

#include "attach/owner_client.h"
#include "loop/qt_io_loop.h"
#include "panel/board_owner.h"

#include <QObject>

#include <map>
#include <memory>
#include <string>

namespace relay {

class owner_attachment : public QObject, public board_owner, private owner_client::listener {
    Q_OBJECT
public:
    explicit owner_attachment(QObject* parent = nullptr);
    ~owner_attachment() override;

    found attach(const std::string& device_path, board_owner::listener* to) override;
    void detach() override;
    owner_report report() const override;
    void send(command_kind kind, int relay) override;

    // The socket attached to, or being looked for; empty when none.
    std::string socket_path() const { return client ? client->socket_path() : std::string(); }
    // Connections tried since the last attach.
    int attempts() const { return client ? client->attempts() : 0; }

private:
    void attached(const owner_identity&) override { changed(); }
    void detached(const std::string&) override { changed(); }
    void relays_changed(const relay_states&) override { changed(); }
    void link_changed(link_condition) override { changed(); }
    void board_facts_changed(const board_facts&) override { changed(); }
    void command_finished(owner_client::ticket id, const owner_answer& answer) override;
    void changed();

    qt_io_loop loop;
    std::unique_ptr<owner_client> client;
    board_owner::listener* told = nullptr;
    // Why the last owner found may not be used.
    std::string forbidden_why;
    // What each command on its way asked, to say which one did not happen.
    std::map<owner_client::ticket, std::string> asked;
};

}  // namespace relay
