#include "engine/log_texts.h"
#include "tests/support/gbk.h"

#include <gtest/gtest.h>

using testing_support::Gbk;

TEST(EngineLogTexts, AreTheGbkBytesOfTheirWording) {
    const std::pair<const char*, const char*> texts[] = {
        {engine_log::kCreateStart, "Zephra：开始创建引擎(%d)。"},
        {engine_log::kRtpCreateFailed, "Zephra：RTP引擎创建失败。"},
        {engine_log::kWindowFailed, "Zephra：无法创建视频消息窗口。"},
        {engine_log::kCreateException, "Create Zephra exeption"},
        {engine_log::kDestroyAudioEngine, "m_AudioEngine.Destroy()"},
        {engine_log::kDestroyTransmission, "m_Transmission.Destroy();"},
        {engine_log::kDestroyStopCapture, " m_CapZephra.StopCapture();"},
        {engine_log::kDestroyAudioCodec, " m_AudioCodecEngine.Destroy();"},
        {engine_log::kDestroyVideoCodec, "m_VideoCodecEngine.Destroy();"},
        {engine_log::kDestroyVideoEnc, "m_VideoEnc.Close();"},
        {engine_log::kDestroyed, "Zephra：引擎已经销毁：%d。"},
        {engine_log::kDestroyException, "Zephra：销毁Zephra异常：%d。"},
        {engine_log::kTransmissionAddUserFailed, "m_Transmission.AddUser failed: %d"},
        {engine_log::kAddUserException, "Zephra Adduser exeption"},
        {engine_log::kAudioPortUnknownUser, "CTavolinEngineImpl::SetUserAudioPort error,can not find user: %d"},
        {engine_log::kVideoPortUnknownUser, "CTavolinEngineImpl::SetUserVideoPort error,can not find user: %d"},
        {engine_log::kAudioPortTaken, "CTavolinEngineImpl::SetUserAudioPort error,目标玩家已经端口: %d"},
        {engine_log::kVideoPortTaken, "CTavolinEngineImpl::SetUserVideoPort error,目标玩家已经有端口: %d"},
        {engine_log::kTransmissionAudioPortFailed, "m_Transmission.SetUserAudioPort failed: %d"},
        {engine_log::kTransmissionVideoPortFailed, "m_Transmission.SetUserVideoPort failed: %d"},
        {engine_log::kRemoveClear, "m_UserArray[i].Clear"},
        {engine_log::kRemoveTransmission, "m_Transmission.RemoveUser"},
        {engine_log::kRemoveAudioEngine, "m_AudioEngine.RemoveUser"},
        {engine_log::kRemoveUserException, "Zephra, remove user error!"},
        {engine_log::kRequestPublicIp, "Zephra:  Request Public ip"},
        {engine_log::kLocalIp, "Local IP:%s"},
        {engine_log::kRelayFailedOver, "relay server %s failed (%s), allocating on the next one"},
        {engine_log::kRelayFailed, "relay server %s failed (%s), no server left"},
    };
    for (const auto& [bytes, wording] : texts) EXPECT_EQ(Gbk(wording), bytes) << wording;
}
