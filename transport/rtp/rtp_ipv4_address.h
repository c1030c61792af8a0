// An IPv4 address and UDP port, both in host byte order (a.b.c.d is
// (a<<24)|(b<<16)|(c<<8)|d).
#pragma once

#include <cstdint>

namespace rtp {

class RTPIPv4Address {
public:
    constexpr RTPIPv4Address(uint32_t ip = 0, uint16_t port = 0) : ip_(ip), port_(port) {}

    constexpr uint32_t GetIP() const { return ip_; }
    constexpr uint16_t GetPort() const { return port_; }
    void SetIP(uint32_t ip) { ip_ = ip; }
    void SetPort(uint16_t port) { port_ = port; }

    friend constexpr bool operator==(const RTPIPv4Address&, const RTPIPv4Address&) = default;

private:
    uint32_t ip_;
    uint16_t port_;
};

}  // namespace rtp
