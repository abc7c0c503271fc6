#include "attach/owner_client.h"

#include "attach/connect_words.h"
#include "core/still_listed.h"
#include "host/port_holders.h"
#include "service/client_connection.h"
#include "service/request.h"
#include "service/socket_probe.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <utility>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace relay {
namespace {

// The id of the client's own status request; commands carry numbers.
const std::string status_id = "\"board\"";

std::optional<owner_client::ticket> ticket_of(const std::string& id)
{
    owner_client::ticket t = 0;
    const auto* end = id.data() + id.size();
    const auto [at, error] = std::from_chars(id.data(), end, t);
    if (error != std::errc() || at != end)
        return std::nullopt;
    return t;
}

}  // namespace

owner_client::owner_client(io_loop& loop, std::string socket_path) : loop(loop), path(std::move(socket_path)) {}

owner_client::~owner_client()
{
    for (const auto& [id, timer] : waiting)
        loop.remove_timer(timer);
}

template <typename Call>
void owner_client::tell(Call call)
{
    for_each_still_listed(listeners, call);
}

void owner_client::add_listener(listener* l)
{
    if (std::find(listeners.begin(), listeners.end(), l) == listeners.end())
        listeners.push_back(l);
}

void owner_client::remove_listener(listener* l)
{
    listeners.erase(std::remove(listeners.begin(), listeners.end(), l), listeners.end());
}

void owner_client::attach()
{
    if (stage_ != attach_stage::idle)
        return;
    stage_ = attach_stage::waiting;
    attempts_ = 0;
    told_why.clear();
    why_ = "Looking for the board's owner at " + path + ".";
    try_attach();
}

void owner_client::detach()
{
    if (stage_ == attach_stage::idle)
        return;
    lose("Detached from the board's owner.", false);
}

void owner_client::try_attach()
{
    drop_connection();
    ++attempts_;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        lose(connect_failure_words(path, ENAMETOOLONG), true);
        return;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        lose(connect_failure_words(path, errno), true);
        return;
    }
    // A Unix socket connects at once or not at all: a full backlog says
    // EAGAIN rather than leaving the connection in progress.
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        lose(connect_failure_words(path, error), true);
        return;
    }
    connected(fd);
}

void owner_client::connected(int fd)
{
    ucred peer{};
    socklen_t size = sizeof peer;
    owner_ = {};
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.pid > 0) {
        owner_.pid = peer.pid;
        owner_.program = program_of(peer.pid);
    }
    owner_.words = describe_server(owner_.pid, owner_.program);
    why_ = "Waiting for " + owner_.words + " to answer at " + path + ".";

    const auto g = ++generation;
    reader = line_reader(max_owner_line_bytes);
    turned_away.clear();
    broken.clear();
    asking_status = false;
    connection = std::make_unique<client_connection>(loop, fd);
    connection->on_received = [this, g](const std::string& bytes) { received(g, bytes); };
    // An owner that will send nothing more serves no watch, whether or not
    // it would still read.
    connection->on_input_finished = [this, g] {
        if (g == generation)
            owner_left();
    };
    connection->on_finished = [this, g] {
        if (g == generation)
            owner_left();
    };
    silence.start_once(first_event_wait);
    write(request_line(command_kind::watch, 0, {}));
    ask_status();
}

void owner_client::received(std::uint64_t g, const std::string& bytes)
{
    if (g != generation)
        return;
    for (const auto& item : reader.feed(bytes)) {
        if (g != generation)
            return;  // dropped while a listener was told
        if (!item.too_long)
            handle_line(item.line);
    }
}

void owner_client::handle_line(const std::string& line)
{
    const auto parsed = read_owner_line(line);
    if (const auto* event = std::get_if<owner_state_event>(&parsed))
        handle_state(event->relays, event->link);
    else if (const auto* reply = std::get_if<owner_reply>(&parsed))
        handle_reply(*reply);
}

void owner_client::handle_state(const relay_states& relays, link_condition link)
{
    const auto g = generation;
    if (stage_ == attach_stage::waiting) {
        silence.stop();
        stage_ = attach_stage::attached;
        why_.clear();
        told_why.clear();
        tell([&](listener& l) { l.attached(owner_); });
        if (g != generation)
            return;
    }
    set_relays(relays);
    if (g != generation)
        return;
    set_link(link);
    if (g != generation)
        return;
    // A status asked while the board was silent has no port to give.
    if (board_.port.empty() && link_ == link_condition::answering && !asking_status)
        ask_status();
}

void owner_client::handle_reply(const owner_reply& reply)
{
    if (reply.id == status_id) {
        asking_status = false;
        if (reply.ok && reply.facts)
            set_facts(*reply.facts);
        return;
    }
    if (reply.id.empty()) {
        if (!reply.ok)
            turned_away = reply.error;
        return;
    }
    const auto id = ticket_of(reply.id);
    if (!id || waiting.count(*id) == 0)
        return;  // not ours, or told already
    const auto g = generation;
    if (reply.ok && reply.facts)
        set_facts(*reply.facts);
    if (g != generation || waiting.count(*id) == 0)
        return;
    finish(*id, reply.ok ? owner_answer{true, reply_code::port, {}} : owner_answer{false, reply.code, reply.error});
}

owner_client::ticket owner_client::send(command_kind kind, int relay)
{
    const auto id = next_ticket++;
    if (kind == command_kind::watch) {
        refuse_later(id, reply_code::usage, "This client watches the board already; watch is not a command.");
        return id;
    }
    if (stage_ != attach_stage::attached || !connection || !broken.empty()) {
        refuse_later(id, reply_code::port, "Not attached to the board's owner. " + (broken.empty() ? why_ : broken));
        return id;
    }
    waiting[id] = loop.add_timer(owner_reply_wait, std::chrono::nanoseconds::zero(), [this, id] {
        const auto it = waiting.find(id);
        if (it == waiting.end())
            return;
        it->second = 0;
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(owner_reply_wait).count();
        finish(id, {false, reply_code::timeout,
                    owner_.words + " gave no answer within " + std::to_string(seconds) + " s."});
    });
    write(request_line(kind, relay, std::to_string(id)));
    return id;
}

void owner_client::write(const std::string& line)
{
    if (!connection || !broken.empty())
        return;
    if (!connection->write(line))
        broken = owner_.words + " closed the connection.";
    else if (connection->bytes_to_write() > max_unsent_bytes)
        broken = owner_.words + " stopped reading what this client sends.";
    else
        return;
    // Not from inside send(): its caller hears the end on a later turn.
    later.start_once(std::chrono::nanoseconds::zero());
}

void owner_client::ask_status()
{
    asking_status = true;
    write(request_line(command_kind::status, 0, status_id));
}

void owner_client::owner_left()
{
    lose(turned_away.empty() ? owner_.words + " stopped serving the board at " + path + "."
                             : owner_.words + " turned this client away: " + turned_away,
         true);
}

void owner_client::owner_silent()
{
    lose(owner_.words + " took the connection at " + path + " but sends nothing.", true);
}

void owner_client::lose(const std::string& why, bool try_again)
{
    drop_connection();
    silence.stop();
    const bool was_attached = stage_ == attach_stage::attached;
    stage_ = try_again ? attach_stage::waiting : attach_stage::idle;
    if (try_again)
        retry.start_once(attach_retry_period);
    else
        retry.stop();
    const bool news = was_attached || why != told_why;
    why_ = why;
    if (news)
        told_why = why;
    asking_status = false;

    std::vector<ticket> ended;
    for (const auto& [id, timer] : waiting) {
        loop.remove_timer(timer);
        ended.push_back(id);
    }
    waiting.clear();
    const auto g = generation;
    if (news)
        tell([&](listener& l) { l.detached(why); });
    // A listener that attached again meanwhile has the news of that.
    if (g == generation) {
        set_relays(all_unknown);
        set_link(link_condition::lost);
        set_facts({});
    }
    const owner_answer gone{false, reply_code::port,
                            try_again ? "The board's owner went away before it answered: " + why
                                      : "Detached from the board's owner before it answered."};
    for (const auto id : ended)
        tell([&](listener& l) { l.command_finished(id, gone); });
}

void owner_client::drop_connection()
{
    ++generation;
    broken.clear();
    if (!connection)
        return;
    connection->abort();
    spent.push_back(std::move(connection));
    later.start_once(std::chrono::nanoseconds::zero());
}

void owner_client::finish(ticket id, const owner_answer& answer)
{
    const auto it = waiting.find(id);
    if (it == waiting.end())
        return;
    if (it->second != 0)
        loop.remove_timer(it->second);
    waiting.erase(it);
    tell([&](listener& l) { l.command_finished(id, answer); });
}

void owner_client::refuse_later(ticket id, reply_code code, const std::string& words)
{
    refusals.push_back({id, {false, code, words}});
    later.start_once(std::chrono::nanoseconds::zero());
}

void owner_client::run_later()
{
    spent.clear();
    if (!broken.empty() && stage_ != attach_stage::idle) {
        const auto why = broken;
        lose(why, true);
    }
    auto told = std::move(refusals);
    refusals.clear();
    for (const auto& r : told)
        tell([&](listener& l) { l.command_finished(r.id, r.answer); });
}

void owner_client::set_relays(const relay_states& relays)
{
    if (relays == relays_)
        return;
    relays_ = relays;
    tell([&](listener& l) { l.relays_changed(relays); });
}

void owner_client::set_link(link_condition link)
{
    if (link == link_)
        return;
    link_ = link;
    tell([&](listener& l) { l.link_changed(link); });
}

void owner_client::set_facts(const board_facts& facts)
{
    if (facts.port == board_.port && facts.address == board_.address)
        return;
    board_ = facts;
    tell([&](listener& l) { l.board_facts_changed(facts); });
}

}  // namespace relay
