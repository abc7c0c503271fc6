#include "core/relay_state.h"

namespace relay {

relay_state state_of_status(std::uint8_t status)
{
    if (status == status_on)
        return relay_state::on;
    if (status == status_off)
        return relay_state::off;
    return relay_state::unknown;
}

relay_statuses statuses_of(const relay_states& states)
{
    relay_statuses statuses{};
    for (std::size_t i = 0; i < states.size(); ++i)
        statuses[i] = states[i] == relay_state::on ? status_on : states[i] == relay_state::off ? status_off : 0;
    return statuses;
}

}  // namespace relay
