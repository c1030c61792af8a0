// Error codes of the RTP layer: 0 is success, every failure a distinct
// negative value, so callers can react to one cause (a busy port) and treat
// the rest as fatal.
#pragma once

namespace rtp {

constexpr int kErrorNotCreated = -1;
constexpr int kErrorAlreadyCreated = -2;
constexpr int kErrorInvalidParameter = -3;
constexpr int kErrorPortBaseNotEven = -4;
constexpr int kErrorCannotCreateSocket = -5;
// A busy port: the caller may draw another port base and try again.
constexpr int kErrorCannotBindRTPSocket = -6;
constexpr int kErrorCannotBindRTCPSocket = -7;
constexpr int kErrorCannotSetSocketOption = -8;
constexpr int kErrorCannotCreateWakeup = -9;
constexpr int kErrorCannotStartThread = -10;
constexpr int kErrorPacketTooBig = -11;
constexpr int kErrorMaximumPacketSizeTooSmall = -12;
constexpr int kErrorInvalidAddress = -13;
constexpr int kErrorAlreadyInDestinationList = -14;
constexpr int kErrorNotInDestinationList = -15;
constexpr int kErrorReasonTooLong = -16;
constexpr int kErrorPollFailed = -17;
constexpr int kErrorPollThreadRunning = -18;
constexpr int kErrorFeedbackTooSoon = -19;
constexpr int kErrorTransformRefused = -20;

// Short English description of an error code, for log texts and tests.
const char* RTPErrorText(int error);

}  // namespace rtp
