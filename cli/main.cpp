// relayctl: the relay board from the command line, for scripts and for
// checking a board without the panel.

#include "cli/board_session.h"
#include "cli/exit_codes.h"
#include "cli/options.h"
#include "cli/owner_session.h"
#include "cli/usage.h"
#include "host/port_holders.h"
#include "session/event_dispatcher.h"
#include "serial/qt_serial_device.h"
#include "serial/serial_link.h"
#include "serial/system_port_catalog.h"
#include "service/owner_lookup.h"
#include "text/shown_text.h"

#include <QCoreApplication>

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    using namespace relay::cli;

    // Read the words before Qt sees them, so that help, version and usage
    // errors never depend on the event loop or the serial ports.
    const auto parsed = parse_args(std::vector<std::string>(argv + 1, argv + argc));
    switch (parsed.what) {
    case parse_result::action::help:
        std::cout << help_text() << std::flush;
        return std::cout ? exit_success : exit_output;
    case parse_result::action::version:
        std::cout << version_text() << std::endl;
        return std::cout ? exit_success : exit_output;
    case parse_result::action::usage_error:
        std::cerr << usage_error_text(parsed.error);
        return exit_usage;
    case parse_result::action::run:
        break;
    }

    if (!parsed.opts.socket.empty())
        return owner_session(parsed.opts, parsed.opts.socket, std::cout, std::cerr).run();
    // Without --port, the one board served here (the panel's, or relayd's)
    // is the one meant; port 1 only when there is none, and a choice to
    // make when there are several.
    if (!parsed.opts.port_given) {
        const auto owners = owner_sockets();
        if (owners.size() == 1)
            return owner_session(parsed.opts, owners.front().path, std::cout, std::cerr).run();
        if (owners.size() > 1) {
            std::cerr << "relayctl: " << owners.size() << " boards are served here; name one with --port or --socket:";
            for (std::size_t i = 0; i < owners.size(); ++i) {
                std::cerr << (i == 0 ? " " : ", ") << owners[i].path;
                if (owners[i].pid > 0) {
                    const auto program = relay::program_of(owners[i].pid);
                    std::cerr << " (" << (program.empty() ? "a program" : program) << ", pid " << owners[i].pid << ")";
                }
            }
            std::cerr << '\n';
            return exit_usage;
        }
    }

    relay::use_qt_event_dispatcher();
    QCoreApplication app(argc, argv);
    relay::system_port_catalog catalog;
    // A port that another program owns is reached through that program.
    const auto resolved = relay::resolve_port(parsed.opts.port, catalog);
    if (resolved.port) {
        if (const auto owner = relay::find_owner(resolved.port->path))
            return owner_session(parsed.opts, owner->path, std::cout, std::cerr).run();
    }
    // Names live in the owner's configuration; relayctl alone has none.
    if (!parsed.opts.relay_name.empty()) {
        std::cerr << "relayctl: no program owns the port " << (resolved.port ? resolved.port->path : parsed.opts.port)
                  << ", and only the port's owner (relayd) knows the relays' names: name relay '"
                  << relay::shown_text(parsed.opts.relay_name) << "' by its number, 1 to 4\n";
        return exit_usage;
    }
    if (parsed.opts.command == relay::command_kind::watch) {
        std::cerr << "relayctl: no program owns the port " << (resolved.port ? resolved.port->path : parsed.opts.port)
                  << "; 'watch' needs relayd or the relay panel connected to it\n";
        return exit_port;
    }

    relay::qt_serial_device device;
    relay::serial_link link(device, catalog);
    board_session session(link, parsed.opts, std::cout, std::cerr);
    return session.run();
}
