// The capture engine's log texts and the names it gives to filters and
// frames, as GBK bytes.
#pragma once

namespace capture_texts {

inline constexpr const char* kLoop = "Loop %d";
inline constexpr const char* kInitCaptureGraphBuilder = "InitCaptureGraphBuilder";
inline constexpr const char* kCoCreateInstance = "CoCreateInstance";
inline constexpr const char* kSetFiltergraph = "SetFiltergraph";
inline constexpr const char* kEnumDevice = "EnumDevice";
inline constexpr const char* kInitVideoSize = "InitVideoSize";
inline constexpr const char* kInitGrapbber = "InitGrapbber";
inline constexpr const char* kFindInterface = "FindInterface";
inline constexpr const char* kInnerCreateReturn = "InnerCreate return";
inline constexpr const char* kGrabberSetMediaType = "InitGrapbberSetMediaType";
inline constexpr const char* kGrabberAddFilter = "InitGrapbberAddFilter";
inline constexpr const char* kGrabberGetOutPin = "InitGrapbber GetOutPin";
inline constexpr const char* kGrabberGetInPin = "InitGrapbber GetInPin";
inline constexpr const char* kGrabberConnect = "InitGrapbber Connect";
inline constexpr const char* kGrabberGetConnectedMediaType = "InitGrapbber GetConnectedMediaType";

inline constexpr const char* kDeviceName = "%s";
inline constexpr const char* kDeviceInvalid = "%s,Invalid";
inline constexpr const char* kDeviceBindToObject = "%s,BindToObject";
inline constexpr const char* kDeviceAddFilter = "%s,AddFilter";
// A chosen camera that could not be built; the camera before it is back.
inline constexpr const char* kSelectFailed = "SelectDevice %s failed,back to %s";

inline constexpr const char* kCaptureFilterName = "Capture Filter";
inline constexpr const char* kGrabberFilterName = "Grabber";

// "视频调节": the caption of the camera's property frame.
inline constexpr const char* kPropertyFrameCaption = "\xCA\xD3\xC6\xB5\xB5\xF7\xBD\xDA";

}  // namespace capture_texts
