// The voice figures of a room run: a table on the terminal and the "voice"
// member of stats.json.
#pragma once

#include "testbed/measurement/voice_analysis.h"
#include "tools/room/json_value.h"

#include <ostream>

namespace room {

void PrintVoiceReport(const VoiceReport& report, std::ostream& out);
// {"pairs": [...]}
JsonValue VoiceJson(const VoiceReport& report);

}  // namespace room
