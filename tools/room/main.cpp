// tavolin-room: a video chat room of several players on this machine, each
// engine loaded from libtavolin.so and run the way a game client runs it.
// See --help.
#include "tools/common/command_line.h"
#include "tools/room/room_demo.h"
#include "tools/room/room_options.h"
#include "tools/room/stop_signal.h"

#include <unistd.h>

#include <filesystem>
#include <iostream>

namespace {
// The out directory must be usable before the room starts, not found
// unwritable after it ran. Empty when it is.
std::string OutDirectoryProblem(const std::string& directory) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) return "cannot create it: " + error.message();
    if (access(directory.c_str(), W_OK | X_OK) != 0) return "cannot write in it";
    return {};
}
}  // namespace

int main(int argc, char** argv) {
    room::RoomOptions options;
    if (const auto status = room::ReadRoomOptions(argc, argv, &options)) return *status;
    const std::string problem = OutDirectoryProblem(options.outDirectory);
    if (!problem.empty())
        return tools::CommandLineError("tavolin-room", "--out " + options.outDirectory + ": " + problem);
    room::CatchStopSignals();
    return room::RunRoomDemo(options, std::cout, std::cerr);
}
