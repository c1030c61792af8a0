#include "codec/codec_library.h"
#include "codec/video_enc.h"

#include <xvid.h>

void InitCodecLibrary() {
    xvid_gbl_init_t init{};
    init.version = codec::kLibraryVersion;
    init.cpu_flags = codec::kLibraryCpuFlags;
    init.debug = 0;
    xvid_global(nullptr, XVID_GBL_INIT, &init, nullptr);
}
