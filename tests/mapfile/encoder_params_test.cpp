// The declared ranges: every end admitted, one step outside refused with a
// message naming the setting as the settings dialog labels it, the first
// bad one in field order.
#include "mapfile/encoder_params.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace rzt2 {
namespace {

TEST(CheckEncoderParams, AdmitsEveryRangeEndAndRefusesOneStepOutsideNamingTheSetting) {
  EXPECT_EQ(CheckEncoderParams({32, 32, std::numeric_limits<int32_t>::min(), 128, 128, 0}), std::nullopt);
  EXPECT_EQ(CheckEncoderParams({512, 512, std::numeric_limits<int32_t>::max(), 1024, 1024, 4}), std::nullopt);
  const struct {
    int32_t EncoderParams::*member;
    const char* name;
    int32_t low, high;
  } ranges[] = {{&EncoderParams::FrameSizeX, "Frames width", 32, 512},
                {&EncoderParams::FrameSizeY, "Frames height", 32, 512},
                {&EncoderParams::MiniFrameSizeX, "Preview width", 128, 1024},
                {&EncoderParams::MiniFrameSizeY, "Preview height", 128, 1024},
                {&EncoderParams::EncoderCode, "RZT2 frames encoder algorithm", 0, 4}};
  for (const auto& range : ranges) {
    for (const int32_t value : {range.low - 1, range.high + 1}) {
      EncoderParams params;
      params.*range.member = value;
      EXPECT_EQ(CheckEncoderParams(params), std::string(range.name) + " is " + std::to_string(value) +
                                                "; it must be between " + std::to_string(range.low) +
                                                " and " + std::to_string(range.high));
    }
  }
  EncoderParams params;
  params.EncoderCode = 7;
  params.MiniFrameSizeX = 2000;
  params.FrameSizeY = 600;
  EXPECT_EQ(CheckEncoderParams(params), "Frames height is 600; it must be between 32 and 512");
}

}  // namespace
}  // namespace rzt2
