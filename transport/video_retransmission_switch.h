// Whether video sessions opened from now on track gaps in what they receive,
// ask for lost packets with NACKs, keep the history of what they sent and
// resend from it when asked. On in the engine; a benchmark turns it off in
// its own process to measure what that work costs. Picture loss indications
// are not affected.
#pragma once

namespace transmission {

void EnableVideoRetransmission(bool on);
bool VideoRetransmissionEnabled();

}  // namespace transmission
