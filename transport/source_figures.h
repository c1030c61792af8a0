// A peer's figures as the RTP layer keeps them in its source entry, in the
// units a host reads: our reception of its source, its report about ours,
// and the round trip of RFC 3550 6.4.1. Call with the data-access lock held.
#pragma once

#include "transport/peer_statistics.h"
#include "transport/rtp/rtp_source_data.h"

namespace source_figures {

// Seconds, from the last report about us that answered one of our sender
// reports (LSR not 0); 0 when there is none. `receiveTime`-based, on the
// session's clock, as the report's arrival time is.
double RoundTripSeconds(const rtp::RTPSourceData& source);

// Sets the reception, peer report and round-trip fields; timestampUnit is
// the medium's seconds per RTP tick.
void Fill(const rtp::RTPSourceData& source, double timestampUnit, MediumTransportStatistics* out);

}  // namespace source_figures
