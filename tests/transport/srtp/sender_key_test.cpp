// HKDF-SHA256 against RFC 5869's cases, and the sender keys derived with it.
#include "transport/srtp/hkdf_sha256.h"
#include "transport/srtp/sender_key.h"

#include <gtest/gtest.h>

#include <numeric>
#include <set>
#include <string>

namespace {
using namespace srtp;

std::string Hex(std::span<const uint8_t> bytes) {
    std::string text;
    for (uint8_t byte : bytes) text += "0123456789abcdef"[byte >> 4], text += "0123456789abcdef"[byte & 15];
    return text;
}

std::vector<uint8_t> Ascending(uint8_t first, size_t count) {
    std::vector<uint8_t> bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

TEST(HkdfSha256, MatchesTheRfcTestCases) {
    struct Case {
        std::vector<uint8_t> ikm, salt, info;
        std::string prk, okm;
    };
    const Case cases[] = {
        {std::vector<uint8_t>(22, 0x0b), Ascending(0x00, 13), Ascending(0xf0, 10),
         "077709362c2e32df0ddc3f0dc47bba6390b6c73bb50f9c3122ec844ad7c2b3e5",
         "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865"},
        {Ascending(0x00, 80), Ascending(0x60, 80), Ascending(0xb0, 80),
         "06a6b88c5853361a06104c9ceb35b45cef760014904671014a193f40c15fc244",
         "b11e398dc80327a1c8e7f78c596a49344f012eda2d4efad8a050cc4c19afa97c59045a99cac7827271cb41c65e590e09da3275600c2f0"
         "9b8367793a9aca3db71cc30c58179ec3e87c14c01d5c1f3434f1d87"},
        {std::vector<uint8_t>(22, 0x0b),
         {},
         {},
         "19ef24a32c717b167f33a91d6f648bdf96596776afdb6377ac434c1c293ccb04",
         "8da4e775a563c18f715f802a063c5a31b8a11f5c5ee1879ec3454e5f3c738d2d9d201395faa4b61a96c8"},
    };
    for (const Case& c : cases) {
        const PseudoRandomKey prk = HkdfSha256Extract(c.salt, c.ikm);
        EXPECT_EQ(Hex(prk), c.prk);
        std::vector<uint8_t> okm(c.okm.size() / 2);
        ASSERT_TRUE(HkdfSha256Expand(prk, c.info, okm));
        EXPECT_EQ(Hex(okm), c.okm);
    }
    std::vector<uint8_t> tooLong(kHkdfSha256MaxOutputBytes + 1, 0xAA);
    EXPECT_FALSE(HkdfSha256Expand({}, {}, tooLong));
    EXPECT_EQ(tooLong, std::vector<uint8_t>(kHkdfSha256MaxOutputBytes + 1, 0xAA)) << "nothing written";
}

// Computed apart from this code (Python's hmac and hashlib) from the
// documented info layout: a changed layout fails here before it splits rooms.
TEST(SenderKey, FollowsTheDocumentedLayout) {
    const std::vector<uint8_t> secret = Ascending(0x20, 32);
    const uint8_t roomId[] = {'r', 'o', 'o', 'm', '-', '4', '2'};
    const std::optional<SenderKey> key = DeriveSenderKey({secret, roomId, 7}, -3, KeyMedium::kVideo);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->epoch, 7u);
    EXPECT_EQ(Hex(key->masterKey), "cca755ad8ce896c69cf7667a0e1f0c9f");
    EXPECT_EQ(Hex(key->masterSalt), "83c31920d286babab8136738");
}

TEST(SenderKey, NoTwoSendersMediaEpochsOrRoomsShareAKeyOrSalt) {
    const std::vector<uint8_t> secrets[] = {std::vector<uint8_t>(kMinRoomSecretBytes, 1),
                                            std::vector<uint8_t>(kMinRoomSecretBytes, 2)};
    const std::vector<uint8_t> rooms[] = {{1, 2}, {1, 2, 0}, {}};
    std::set<std::array<uint8_t, kMasterKeyBytes>> keys;
    std::set<std::array<uint8_t, kMasterSaltBytes>> salts;
    size_t derived = 0;
    for (const auto& secret : secrets)
        for (const auto& room : rooms)
            for (uint32_t epoch : {0u, 1u, 256u})
                for (int32_t user : {0, 1, 256, -1})
                    for (KeyMedium medium : {KeyMedium::kVoice, KeyMedium::kVideo}) {
                        const std::optional<SenderKey> key = DeriveSenderKey({secret, room, epoch}, user, medium);
                        ASSERT_TRUE(key);
                        keys.insert(key->masterKey);
                        salts.insert(key->masterSalt);
                        ++derived;
                    }
    EXPECT_EQ(keys.size(), derived);
    EXPECT_EQ(salts.size(), derived);
    EXPECT_FALSE(DeriveSenderKey({std::vector<uint8_t>(kMinRoomSecretBytes - 1, 1), {}, 1}, 1, KeyMedium::kVoice));
    EXPECT_FALSE(DeriveSenderKey({secrets[0], std::vector<uint8_t>(kMaxRoomIdBytes + 1, 1), 1}, 1, KeyMedium::kVoice));
    EXPECT_TRUE(DeriveSenderKey({secrets[0], std::vector<uint8_t>(kMaxRoomIdBytes, 1), 1}, 1, KeyMedium::kVoice));
}

}  // namespace
