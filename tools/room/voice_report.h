// The voice figures of a room run: a table on the terminal and the "voice"
// member of stats.json.
#pragma once

#include "testbed/measurement/voice_analysis.h"

#include <ostream>
#include <string>

namespace room {

void PrintVoiceReport(const VoiceReport& report, std::ostream& out);
// {"pairs": [...]}
std::string VoiceJson(const VoiceReport& report);

// objectJson (one JSON object) with `"name": valueJson` added as its last member.
std::string WithMember(const std::string& objectJson, const std::string& name, const std::string& valueJson);

}  // namespace room
