#include "transport/rtp/rtp_errors.h"

namespace rtp {

const char* RTPErrorText(int error) {
    switch (error) {
        case 0: return "no error";
        case kErrorNotCreated: return "session not created";
        case kErrorAlreadyCreated: return "session already created";
        case kErrorInvalidParameter: return "invalid parameter";
        case kErrorPortBaseNotEven: return "port base is not even";
        case kErrorCannotCreateSocket: return "cannot create socket";
        case kErrorCannotBindRTPSocket: return "cannot bind RTP socket";
        case kErrorCannotBindRTCPSocket: return "cannot bind RTCP socket";
        case kErrorCannotSetSocketOption: return "cannot set socket option";
        case kErrorCannotCreateWakeup: return "cannot create wake-up descriptor";
        case kErrorCannotStartThread: return "cannot start poll thread";
        case kErrorPacketTooBig: return "packet larger than the maximum packet size";
        case kErrorMaximumPacketSizeTooSmall: return "maximum packet size too small";
        case kErrorInvalidAddress: return "invalid address";
        case kErrorAlreadyInDestinationList: return "address already in destination list";
        case kErrorNotInDestinationList: return "address not in destination list";
        case kErrorReasonTooLong: return "BYE reason too long";
        case kErrorPollFailed: return "waiting on the sockets failed";
        case kErrorPollThreadRunning: return "the poll thread is running";
        case kErrorFeedbackTooSoon: return "feedback to that address sent too recently";
        case kErrorTransformRefused: return "the send transform refused the packet";
        default: return "unknown error";
    }
}

}  // namespace rtp
