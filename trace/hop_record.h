// What the hop trace records, as a host reads it back from the library: the
// public header's hop records and the two functions that start the trace and
// take its records.
#pragma once

#include <tavolin/tavolin.h>
