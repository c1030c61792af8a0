// Writes the unprotect fuzz target's seeds into a folder:
//   write_unprotect_seeds fuzz/seeds/srtp_unprotect_fuzz
#include "tests/transport/srtp/unprotect_seeds.h"

#include <cstdio>
#include <fstream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    for (const unprotect_records::Seed& seed : unprotect_records::UnprotectSeeds()) {
        std::ofstream file(std::string(argv[1]) + "/" + seed.name, std::ios::binary);
        file.write(reinterpret_cast<const char*>(seed.input.data()), static_cast<std::streamsize>(seed.input.size()));
        if (!file) {
            std::fprintf(stderr, "cannot write %s\n", seed.name.c_str());
            return 1;
        }
    }
    return 0;
}
