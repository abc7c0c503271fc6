#include "relayd/usage.h"

#include "relayd/relayd_version.h"

namespace relay::relayd {

std::string help_text()
{
    return "Usage: relayd [OPTION]...\n"
           "Owns the serial port of one or more four-channel relay boards, polls each\n"
           "board ten times a second, and shares it with other programs through a\n"
           "control socket per board.\n"
           "\n"
           "Options:\n"
           "  --port N|DEVICE  serial port number as the relay panel counts them (USB\n"
           "                   adapters first), or a device such as ttyUSB0 or\n"
           "                   /dev/ttyUSB0 (default 1)\n"
           "  --address A      board address, a whole number from 0 to 255 (default 1)\n"
           "  --socket PATH    where to serve the board's control socket\n"
           "  --config FILE    the boards from FILE instead of --port, --address and\n"
           "                   --socket (see below)\n"
           "  --system         serve sockets as the system service does, in\n"
           "                   /run/relayd (implied when $RUNTIME_DIRECTORY is set)\n"
           "  --simulate       start a simulated board on a pseudo-terminal for each\n"
           "                   board, in place of its port\n"
           "  --mqtt URL       also put the boards on the MQTT broker at URL,\n"
           "                   mqtt://HOST[:PORT] or mqtts://HOST[:PORT] (default\n"
           "                   ports 1883 and 8883); wins over url in [mqtt]\n"
           "  --http [ADDR:]PORT  serve the boards' web page there (ADDR defaults to\n"
           "                   127.0.0.1); wins over listen in [http]\n"
           "  -h, --help       print this help and exit\n"
           "  --version        print the version and exit\n"
           "\n"
           "A socket goes, unless given, to /run/relayd/DEVICE.sock for the system\n"
           "service and to $XDG_RUNTIME_DIR/relay-panel/DEVICE.sock otherwise, DEVICE\n"
           "being the device's name below /dev with '/' written as '-' (ttyUSB0, pts-3).\n"
           "A socket given elsewhere is also linked there while relayd runs, so that\n"
           "relayctl finds the board from its port.\n"
           "\n"
           "Configuration file:\n"
           "  [board cabinet]\n"
           "  port = /dev/ttyUSB0\n"
           "  address = 1\n"
           "  socket = /run/relayd/cabinet.sock   (optional)\n"
           "  board_id = pump-house             (optional: its Home Assistant ids)\n"
           "  relay2_class = outlet             (optional, relay1 to 4: switch or outlet)\n"
           "  [mqtt]\n"
           "  url = mqtts://broker.lan\n"
           "  user = relayd                     (optional, as the rest)\n"
           "  password_file = /etc/relayd/mqtt.password   (mode 600: first line)\n"
           "  ca_file = /etc/relayd/broker-ca.pem\n"
           "  client_id = relayd-HOST           (each board: CLIENT_ID-BOARD)\n"
           "  topic_prefix = relay-panel\n"
           "  discovery_prefix = homeassistant  (or off)\n"
           "  [http]\n"
           "  listen = 0.0.0.0:8080             (the web page: [ADDR:]PORT)\n"
           "  password_file = /etc/relayd/web.password   (mode 600; needed beyond\n"
           "                                    127.0.0.1 and ::1)\n"
           "  cert_file = /etc/relayd/web.crt   (with key_file: HTTPS)\n"
           "  key_file = /etc/relayd/web.key\n"
           "One [board NAME] section per board. With [mqtt] or --mqtt, each board is\n"
           "published under TOPIC_PREFIX/BOARD once its port opens, BOARD being the\n"
           "section's name (or, from the command line, the adapter's serial number,\n"
           "USB socket or device, and the address), on a connection of its own whose\n"
           "last will sets TOPIC_PREFIX/BOARD/availability to offline.\n"
           "\n"
           "A port that cannot be opened, or goes away, is tried again every second.\n"
           "SIGTERM or SIGINT marks the boards offline on MQTT and disconnects, stops\n"
           "polling, removes the sockets, closes the ports and exits 0.\n"
           "\n"
           "Exit status:\n"
           "  0  stopped by SIGTERM or SIGINT\n"
           "  1  a socket or the web page could not be served, or another program\n"
           "     (the relay panel, another relayd) owns a board's port\n"
           "  2  usage error, a mistake in the configuration file, or MQTT settings\n"
           "     that cannot work (bad URL, password file open to others, no CA file),\n"
           "     or a web page beyond this machine without a password_file\n";
}

std::string version_text() { return std::string("relayd ") + project_version; }

std::string usage_error_text(const std::string& error)
{
    return "relayd: " + error + "\nTry 'relayd --help' for more information.\n";
}

}  // namespace relay::relayd
