# The one version of the library, its tools and its packages. SOVERSION moves
# only when a host built against an older header could no longer load it.
set(TAVOLIN_VERSION 1.0.0)
set(TAVOLIN_SOVERSION 1)
