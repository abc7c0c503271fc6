#include "mqtt/discovery_record.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace relay::mqtt {
namespace {

constexpr const char* owed = "*";

}  // namespace

discovery_record::discovery_record(std::string path_, std::set<std::string> configured_)
    : path(std::move(path_)), configured(std::move(configured_))
{
    if (path.empty())
        return;
    std::ifstream in(path);
    if (!in) {
        if (errno != ENOENT)
            problem = "cannot read " + path + ": " + std::strerror(errno);
        return;
    }
    std::string line;
    while (std::getline(in, line)) {
        const auto space = line.find(' ');
        if (line.empty() || line[0] == '#' || space == std::string::npos || space + 1 == line.size())
            continue;
        topics[line.substr(0, space)].insert(line.substr(space + 1));
    }
}

std::vector<std::string> discovery_record::stale() const
{
    if (path.empty())
        return {};
    std::set<std::string> kept;
    for (const auto& [board, announced] : topics)
        if (configured.count(board) != 0)
            kept.insert(announced.begin(), announced.end());
    std::set<std::string> found;
    for (const auto& [board, announced] : topics)
        if (configured.count(board) == 0)
            for (const auto& topic : announced)
                if (kept.count(topic) == 0)
                    found.insert(topic);
    return {found.begin(), found.end()};
}

void discovery_record::cleared(const std::vector<std::string>& done)
{
    if (path.empty() || done.empty())
        return;
    for (auto& [board, announced] : topics)
        if (configured.count(board) == 0)
            for (const auto& topic : done)
                announced.erase(topic);
    drop_empty();
    save();
}

void discovery_record::announced(const std::string& board, const std::vector<std::string>& now)
{
    if (path.empty())
        return;
    const std::set<std::string> wanted(now.begin(), now.end());
    const auto it = topics.find(board);
    const std::set<std::string> before = it == topics.end() ? std::set<std::string>() : it->second;
    if (before == wanted)
        return;
    for (const auto& topic : before)
        if (wanted.count(topic) == 0)
            topics[owed].insert(topic);
    topics[board] = wanted;
    drop_empty();
    save();
}

void discovery_record::drop_empty()
{
    for (auto it = topics.begin(); it != topics.end();)
        it = it->second.empty() ? topics.erase(it) : std::next(it);
}

std::string discovery_record::take_problem()
{
    auto told = std::move(problem);
    problem.clear();
    return told;
}

void discovery_record::save()
{
    if (path.empty())
        return;
    const std::filesystem::path file(path);
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    if (error) {
        problem = "cannot make the folder " + file.parent_path().string() + ": " + error.message();
        return;
    }
    // Written aside and renamed over, so that a crash leaves the old file
    // or the new one, never half of one.
    const auto aside = path + ".new";
    {
        std::ofstream out(aside, std::ios::trunc);
        out << "# relayd's Home Assistant discovery messages, by board: those of a board no longer\n"
               "# configured are removed from the broker at the next start. \"*\" marks those owed removal.\n";
        for (const auto& [board, announced] : topics)
            for (const auto& topic : announced)
                out << board << ' ' << topic << '\n';
        out.flush();
        if (!out) {
            problem = "cannot write " + aside + ": " + std::strerror(errno);
            return;
        }
    }
    if (std::rename(aside.c_str(), path.c_str()) != 0)
        problem = "cannot replace " + path + ": " + std::strerror(errno);
}

}  // namespace relay::mqtt
