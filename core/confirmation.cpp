#include "core/confirmation.h"

namespace relay {

confirmation::verdict confirmation::frame_after_send(const relay_statuses& reported)
{
    seen = reported;
    if (confirms(sent, reported))
        return verdict::confirmed;
    return ++refusals >= frames_before_refusal ? verdict::refused : verdict::waiting;
}

}  // namespace relay
