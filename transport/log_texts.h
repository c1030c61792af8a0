// Log texts of the transmission, GBK bytes (code page 936). Their UTF-8
// meaning is checked by the tests through iconv.
#pragma once

namespace transport_log {
// "人满了": the peer table is full.
inline constexpr char kPeerTableFull[] = "\xC8\xCB\xC2\xFA\xC1\xCB";
inline constexpr char kRemoveUnknownUser[] = "CTavolinTransmission::RemoveUser failed,can not find user";
// "收到rehi": the voice hello was answered.
inline constexpr char kVoiceHelloAnswered[] =
    "\xCA\xD5\xB5\xBD"
    "rehi";
// "Zephra：尝试使用局域网IP地址通信": switching a peer to its LAN address.
inline constexpr char kSwitchToLocalAddress[] =
    "Zephra\xA3\xBA\xB3\xA2\xCA\xD4\xCA\xB9\xD3\xC3\xBE\xD6\xD3\xF2\xCD\xF8"
    "IP"
    "\xB5\xD8\xD6\xB7\xCD\xA8\xD0\xC5";
}  // namespace transport_log
