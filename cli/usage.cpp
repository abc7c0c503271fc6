#include "cli/usage.h"

#include "cli/options.h"
#include "cli/relayctl_version.h"

namespace relay::cli {

std::string help_text()
{
    return "Usage: relayctl [OPTION]... COMMAND\n"
           "Switch the relays of a four-channel serial relay board and report their state.\n"
           "\n"
           "Commands:\n"
           "  status        print the state of the four relays\n"
           "  on R          switch relay R (1 to 4) on\n"
           "  off R         switch relay R off\n"
           "  toggle R      read relay R's state, then switch it the other way\n"
           "  all-on        switch all four relays on\n"
           "  all-off       switch all four relays off\n"
           "  pulse R D     switch relay R on, and off again after D\n"
           "  cycle R D     switch relay R off, and on again after D\n"
           "  watch         print the four states and the link on every change, until\n"
           "                interrupted (needs an owner of the port, see below)\n"
           "\n"
           "R is a relay number, 1 to 4, or a name the port's owner gives it (relayd's\n"
           "relay2 = pump). D is a number with ms, s, m or min, or h (500ms, 1.5s,\n"
           "10min); a bare number is seconds; from 100 ms to 24 h. Without an owner\n"
           "relayctl holds the port for D itself.\n"
           "\n"
           "After a command relayctl asks the board for its state until the board\n"
           "confirms the change, then prints the four states as \"1=on 2=off 3=off 4=off\".\n"
           "A relay the board reports as neither on nor off is shown as \"unknown\".\n"
           "\n"
           "Options:\n"
           "  --port N|DEVICE  serial port number as the relay panel counts them (USB\n"
           "                   adapters first), or a device such as ttyUSB0 or\n"
           "                   /dev/ttyUSB0 (default: the one board served here,\n"
           "                   see below; else 1)\n"
           "  --address A      board address, a whole number from 0 to 255 (default 1)\n"
           "  --timeout MS     how long to wait for the board, in milliseconds, from 1\n"
           "                   to " + std::to_string(max_timeout_ms) + " (default 1000)\n"
           "  --json           print one JSON object:\n"
           "                   {\"port\":\"/dev/ttyUSB0\",\"address\":1,\n"
           "                    \"relays\":{\"1\":\"on\",\"2\":\"off\",\"3\":\"off\",\"4\":\"off\"}}\n"
           "  --socket PATH    talk to the owner of a port through this socket\n"
           "  --count N        watch: stop after N lines\n"
           "  -h, --help       print this help and exit\n"
           "  --version        print the version and exit\n"
           "\n"
           "When another program owns the port (relayd, or the relay panel while\n"
           "connected), relayctl goes through that program's socket instead of the\n"
           "port: first $XDG_RUNTIME_DIR/relay-panel/DEVICE.sock, then\n"
           "/run/relayd/DEVICE.sock, DEVICE being the device's name below /dev with\n"
           "\"/\" written as \"-\" (pts-3 for /dev/pts/3); an owner whose socket is\n"
           "named otherwise links it there. The owner's address and deadline then\n"
           "apply; the output and exit status are the same. Without --port, when\n"
           "exactly one owner serves a board in those two folders, that board is\n"
           "used; when several do, relayctl lists them and exits with 2.\n"
           "\n"
           "Exit status:\n"
           "  0  success; for a command, the board confirmed the new state\n"
           "  1  the result could not be written to standard output\n"
           "  2  usage error: unknown command or option, a value out of range, or no\n"
           "     --port while several boards are served here\n"
           "  3  the port cannot be opened (the reason is printed) or stopped working\n"
           "  4  no valid answer from the board within the timeout\n"
           "  5  the board answered but did not take the command\n"
           "  6  the owner of the port has too many commands or clients waiting\n"
           "  7  the board's interlock forbids the command (relays never on together)\n"
           "\n"
           "Examples:\n"
           "  relayctl status\n"
           "  relayctl --port ttyUSB0 --address 3 on 2\n"
           "  relayctl --json all-off\n"
           "  relayctl pulse 2 500ms\n"
           "  relayctl cycle pump 5s\n"
           "  relayctl --port /dev/pts/3 watch --count 5\n"
           "\n"
           "See relayctl(1) for more.\n";
}

std::string version_text() { return std::string("relayctl ") + project_version; }

std::string usage_error_text(const std::string& error)
{
    return "relayctl: " + error + "\nTry 'relayctl --help' for more information.\n";
}

}  // namespace relay::cli
