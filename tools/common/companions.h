// Where a tool finds the library and the other tools: those of the build tree
// it was built in while it runs from there, the installed ones (beside it in
// the same prefix) once installed.
#pragma once

#include <string>

namespace tools {

// The library to load: the built one, or PREFIX/LIBDIR/libtavolin.so.N.
std::string DefaultLibraryPath();
// tavolin-addrd: the built one, or the one in the same folder as this tool.
std::string DefaultAddrdPath();

}  // namespace tools
