#include "platform/winsock.h"

#include <ifaddrs.h>
#include <net/if.h>

bool GetOwnHostAddress(in_addr* address) {
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) return false;
    const sockaddr_in* loopback = nullptr;
    const sockaddr_in* found = nullptr;
    for (const ifaddrs* entry = interfaces; entry && !found; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !(entry->ifa_flags & IFF_UP)) continue;
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (!(entry->ifa_flags & IFF_LOOPBACK))
            found = ipv4;
        else if (!loopback)
            loopback = ipv4;
    }
    if (!found) found = loopback;
    if (found) *address = found->sin_addr;
    freeifaddrs(interfaces);
    return found != nullptr;
}
