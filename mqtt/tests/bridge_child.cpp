// A daemon in miniature for the last-will test: a simulated board per name
// given, each behind its own session, and the bridge serving them all,
// running until it is killed.

#include "board_fixture.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>
#include <vector>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    relay::qt_io_loop loop;
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s mqtt://127.0.0.1:PORT BOARD...\n", argv[0]);
        return 2;
    }
    auto started = relay::mqtt::start_mqtt(loop, argv[1], {{"client_id", "relayd-child"}},
                                           [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    if (!started.bridge) {
        std::fprintf(stderr, "%s\n", started.error.c_str());
        return 1;
    }
    std::vector<std::unique_ptr<relay::testing::live_board_rig>> boards;
    for (int i = 2; i < argc; ++i) {
        boards.push_back(std::make_unique<relay::testing::live_board_rig>());
        if (const auto opened = boards.back()->connect(); !opened.ok) {
            std::fprintf(stderr, "%s\n", opened.reason.c_str());
            return 1;
        }
        started.bridge->add_board(boards.back()->core(), argv[i]);
    }
    return app.exec();
}
