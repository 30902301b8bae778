#pragma once
// Work on a file that may not answer, run beside the caller with a limit on
// how long the caller waits for it.

#include <functional>
#include <memory>
#include <optional>

namespace files {

// How long a choice or a control waits for its asset to be read and decoded.
// A well-formed asset within the size limit takes a fraction of this; a file
// on a stalled network share or a decoder at its work limit is refused.
constexpr int AssetTimeoutMs = 5000;

// Runs `work` on a thread of its own and waits at most `timeoutMs` for it to
// end. On the user-interface thread the event loop keeps turning meanwhile,
// so the windows repaint and answer the window manager, while user input is
// held back until the wait is over. Returns false when the time ran out or
// the thread could not start; `work` then runs on unobserved and whatever it
// produces is dropped. Its thread is detached, so the end of the program
// never waits for it.
bool runDetached(std::function<void()> work, int timeoutMs);

// The result of `work`, or nothing when it did not end in time or threw.
template <typename T>
std::optional<T> runWithDeadline(std::function<T()> work, int timeoutMs = AssetTimeoutMs)
{
    // Shared with the thread, which may outlive this call.
    auto slot = std::make_shared<std::optional<T>>();
    const bool ended = runDetached(
        [slot, work = std::move(work)] {
            try {
                *slot = work();
            } catch (...) {
                // Out of memory or any other failure refuses the asset.
            }
        },
        timeoutMs);
    if (!ended)
        return std::nullopt;
    return std::move(*slot);
}

} // namespace files
