# Helpers shared by the codec tests, the codec fuzz targets and the codec
# benchmark. Sets CODEC_TEST_SUPPORT_SOURCES.
set(CODEC_TEST_SUPPORT_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/counting_packet_releaser.cpp
  ${CMAKE_CURRENT_LIST_DIR}/engine_policy_encoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/synthetic_video.cpp
  ${CMAKE_CURRENT_LIST_DIR}/video_fragments.cpp
)
