// A daemon in miniature for the last-will test: a simulated board, its
// session and the bridge, running until it is killed.

#include "board_fixture.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s mqtt://127.0.0.1:PORT\n", argv[0]);
        return 2;
    }
    relay::pty_board board;
    relay::panel_session session;
    auto& panel = session.controller();
    panel.Form_Load();
    panel.set_chuankou_num_text(board.slave_path());
    panel.open_comm_Click();
    auto started = relay::mqtt::start_mqtt(argv[1], {{"client_id", "relayd-child"}},
                                           [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    if (!started.bridge) {
        std::fprintf(stderr, "%s\n", started.error.c_str());
        return 1;
    }
    started.bridge->add_board(panel, relay::mqtt::testing::board_name);
    return app.exec();
}
