// tavolin-room: a video chat room of several players on this machine, each
// engine loaded from libtavolin.so and run the way a game client runs it.
// See --help.
#include "tools/room/room_demo.h"
#include "tools/room/room_options.h"

#include <iostream>

int main(int argc, char** argv) {
    std::string error;
    const auto options = room::ParseRoomOptions(argc, argv, &error);
    if (!options) {
        std::cerr << error << '\n' << room::RoomUsage(argv[0]);
        return 2;
    }
    if (options->help) {
        std::cout << room::RoomUsage(argv[0]);
        return 0;
    }
    return room::RunRoomDemo(*options, std::cout, std::cerr);
}
