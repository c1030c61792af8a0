// The keys this process has protected with. A Protector starts every
// stream's packet index afresh, so a second Protector with a key the process
// used before could repeat a (key, SSRC, index) and with it the GCM
// keystream. Only fingerprints are kept (SHA-256 of key and salt), never
// released: a key once used stays used. Any thread.
#pragma once

#include "transport/srtp/sender_key.h"

namespace srtp {

// True the first time for a key; false ever after.
bool ClaimKeyForProtecting(const SenderKey& key);

}  // namespace srtp
