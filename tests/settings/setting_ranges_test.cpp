#include "settings/setting_ranges.h"

#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

namespace rzt2 {
namespace {

TEST(CheckEncoderParams, AdmitsTheDefaultsAndEveryRangeEnd) {
  EXPECT_EQ(CheckEncoderParams(EncoderParams{}), std::nullopt);
  EXPECT_EQ(CheckEncoderParams({32, 32, 0, 128, 128, 0}), std::nullopt);
  EXPECT_EQ(CheckEncoderParams({512, 512, 255, 1024, 1024, 4}), std::nullopt);
}

TEST(CheckEncoderParams, RejectsOneStepOutsideEachRangeNamingTheSetting) {
  struct Case {
    int32_t EncoderParams::*member;
    int32_t value;
    const char* message;
  };
  const Case cases[] = {
      {&EncoderParams::FrameSizeX, 31, "FrameSizeX is 31; it must be between 32 and 512"},
      {&EncoderParams::FrameSizeX, 513, "FrameSizeX is 513; it must be between 32 and 512"},
      {&EncoderParams::FrameSizeY, 31, "FrameSizeY is 31; it must be between 32 and 512"},
      {&EncoderParams::FrameSizeY, 513, "FrameSizeY is 513; it must be between 32 and 512"},
      {&EncoderParams::MiniFrameSizeX, 127,
       "MiniFrameSizeX is 127; it must be between 128 and 1024"},
      {&EncoderParams::MiniFrameSizeX, 1025,
       "MiniFrameSizeX is 1025; it must be between 128 and 1024"},
      {&EncoderParams::MiniFrameSizeY, 127,
       "MiniFrameSizeY is 127; it must be between 128 and 1024"},
      {&EncoderParams::MiniFrameSizeY, 1025,
       "MiniFrameSizeY is 1025; it must be between 128 and 1024"},
      {&EncoderParams::EncoderCode, -1, "EncoderCode is -1; it must be between 0 and 4"},
      {&EncoderParams::EncoderCode, 5, "EncoderCode is 5; it must be between 0 and 4"},
  };
  for (const Case& c : cases) {
    EncoderParams params;
    params.*c.member = c.value;
    EXPECT_EQ(CheckEncoderParams(params), c.message);
  }
}

TEST(CheckEncoderParams, NamesTheFirstBadSettingInFieldOrder) {
  EncoderParams params;
  params.EncoderCode = 7;
  params.MiniFrameSizeX = 2000;
  params.FrameSizeY = 600;
  EXPECT_EQ(CheckEncoderParams(params), "FrameSizeY is 600; it must be between 32 and 512");
}

TEST(CheckEncoderParams, AdmitsAnyZoomLevelsMask) {
  for (int32_t mask :
       {std::numeric_limits<int32_t>::min(), -1, 0, 1, 254, std::numeric_limits<int32_t>::max()}) {
    EncoderParams params;
    params.ZoomLevelsMask = mask;
    EXPECT_EQ(CheckEncoderParams(params), std::nullopt) << mask;
  }
}

}  // namespace
}  // namespace rzt2
