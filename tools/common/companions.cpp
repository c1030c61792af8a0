#include "tools/common/companions.h"

#include <climits>
#include <cstdlib>
#include <filesystem>

namespace tools {
namespace {
std::string RealPath(const char* path) {
    char resolved[PATH_MAX];
    return realpath(path, resolved) ? resolved : "";
}

// The folder of the running program, without the final '/'.
std::string ProgramFolder() {
    const std::string program = RealPath("/proc/self/exe");
    return program.substr(0, program.rfind('/'));
}

bool RunsFromBuildTree() {
    const std::string buildTree = RealPath(TAVOLIN_BUILD_TREE);
    const std::string folder = ProgramFolder();
    return !buildTree.empty() && folder.compare(0, buildTree.size(), buildTree) == 0 &&
           (folder.size() == buildTree.size() || folder[buildTree.size()] == '/');
}
}  // namespace

std::string DefaultLibraryPath() {
    if (RunsFromBuildTree()) return TAVOLIN_BUILT_LIBRARY;
    return (std::filesystem::path(ProgramFolder()) / TAVOLIN_INSTALLED_LIBRARY_FROM_BINDIR).lexically_normal();
}

std::string DefaultAddrdPath() {
    return RunsFromBuildTree() ? TAVOLIN_BUILT_ADDRD : ProgramFolder() + "/tavolin-addrd";
}

}  // namespace tools
