// Prints the port bases a transmission draws, in a process of its own: the
// peers test runs it twice to see that each process draws its own.
#include "tests/transport/transport_test_support.h"

#include <cstdio>

int main() {
    transport_testing::TestWindow window;
    CTavolinTransmission transmission;
    if (transmission.Create(window.Handle(), transport_testing::TestMessages(nullptr)) != 1) return 1;
    std::printf("%u %u\n", transmission.GetLocalAudioPort(), transmission.GetLocalVideoPort());
    transmission.Destroy();
    return 0;
}
