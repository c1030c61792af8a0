#include "transport/video_retransmission_switch.h"

#include <atomic>

namespace transmission {
namespace {
std::atomic<bool> enabled{true};
}

void EnableVideoRetransmission(bool on) { enabled.store(on); }
bool VideoRetransmissionEnabled() { return enabled.load(); }

}  // namespace transmission
