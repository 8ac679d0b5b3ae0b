#include "controller/FriendlyError.h"

#include <utility>

namespace tessaly {

std::string FriendlyError::detailsOrSummary() const
{
    if (!details.empty())
        return details;
    return title + "\n\n" + advice;
}

FriendlyError FriendlyError::loginItemFailed(std::string reason)
{
    return FriendlyError {
        "Couldn’t change “Launch at login”.",
        "Make sure your autostart folder (~/.config/autostart) can be written, then try again.",
        std::move(reason),
    };
}

} // namespace tessaly
