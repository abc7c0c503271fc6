#pragma once
// Which discovery messages relayd has put on the broker, kept in a small
// file so that a board taken out of the configuration can be taken out of
// Home Assistant at the next start: its retained messages are replaced by
// empty ones, which is how Home Assistant is told an entity is gone.
//
// Why a file and not a look at the broker's retained messages: a broker
// never says when it has sent the last retained message of a subscription,
// so what is missing can only be guessed after a wait; and it would take
// every device's discovery messages, not only ours, to find ours.
//
// One line per topic: "<board name> <topic>". The board name is the
// board's section name in the configuration; "*" holds topics owed an
// empty message (a board's node or discovery prefix changed, or the empty
// message could not be sent yet).

#include <map>
#include <set>
#include <string>
#include <vector>

namespace relay::mqtt {

class discovery_record {
public:
    // path empty: nothing is remembered and nothing is ever removed.
    // configured: the names of the boards in the configuration now.
    discovery_record(std::string path, std::set<std::string> configured);

    // Topics announced once that no configured board stands for now: those
    // of boards no longer configured, and those a board announces no more.
    std::vector<std::string> stale() const;
    // Empty messages went out on these topics.
    void cleared(const std::vector<std::string>& topics);
    // A board announced these topics (none: discovery is off). Whatever it
    // announced before and no longer does becomes stale.
    void announced(const std::string& board, const std::vector<std::string>& topics);

    // Why the file could not be read or written, once; empty otherwise.
    std::string take_problem();

private:
    void save();
    void drop_empty();

    std::string path;
    std::set<std::string> configured;
    std::map<std::string, std::set<std::string>> topics;  // by board name
    std::string problem;
};

}  // namespace relay::mqtt
