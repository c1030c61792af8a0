// Camera names as the device enumeration reads them: "Description", or
// "FriendlyName" when that cannot be read. Shared by the capture engine and
// the stand-alone device enumerator.
#pragma once

#include "platform/media/media_interfaces.h"

#include <climits>

// Opens the device's property bag and reads its name into `name`.
HRESULT ReadDeviceName(media::IMoniker* device, media::VARIANT* name);

// Calls the sink with every camera's name, in order, from the enumerator's
// current position; cameras without a readable name are skipped.
void ReportDeviceNames(media::IEnumMoniker* cameras, ITavolinDeviceNameSink* sink);

// Counts the cameras with a readable name from the enumerator's current
// position, stopping once `limit` are found.
int CountNamedDevices(media::IEnumMoniker* cameras, int limit = INT_MAX);

// The system device enumerator and from it the enumerator of cameras
// (null when there is no camera).
HRESULT CreateSystemDeviceEnum(media::ICreateDevEnum** system);
HRESULT CreateCameraEnumerator(media::ICreateDevEnum* system, media::IEnumMoniker** cameras);
