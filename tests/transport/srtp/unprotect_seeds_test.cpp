// The fuzz target's stored seeds are the bytes the current code makes, and
// every record gets the verdict it was made for.
#include "tests/transport/srtp/unprotect_records.h"
#include "tests/transport/srtp/unprotect_seeds.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {
using namespace unprotect_records;

TEST(UnprotectSeeds, AreStoredAsMadeAndOpenAsIntended) {
    for (const Seed& seed : UnprotectSeeds()) {
        SCOPED_TRACE(seed.name);
        std::ifstream file(std::string(TAVOLIN_UNPROTECT_SEEDS) + "/" + seed.name, std::ios::binary);
        const std::vector<uint8_t> stored{std::istreambuf_iterator<char>(file), {}};
        EXPECT_EQ(stored, seed.input) << "write them anew with write_unprotect_seeds, if the change is meant";
        std::vector<srtp::Verdict> verdicts;
        OpenRecords(seed.input, [&](srtp::PacketKind, auto, srtp::Unprotected result, auto) {
            verdicts.push_back(result.verdict);
        });
        EXPECT_EQ(verdicts, seed.verdicts);
    }
}

}  // namespace
