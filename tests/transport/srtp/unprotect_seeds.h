// The unprotect fuzz target's seeds (fuzz/seeds/srtp_unprotect_fuzz), made
// from the records' room keys, and what the unprotector must say to each
// record. tests/transport/srtp/write_unprotect_seeds writes them; a test
// checks that the stored ones are still these bytes, so a change to the key
// derivation or the protected layout shows there first.
#pragma once

#include "transport/srtp/unprotector.h"

#include <cstdint>
#include <string>
#include <vector>

namespace unprotect_records {

struct Seed {
    std::string name;
    std::vector<uint8_t> input;
    std::vector<srtp::Verdict> verdicts;
};

std::vector<Seed> UnprotectSeeds();

}  // namespace unprotect_records
