#include "raster/resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "raster/pyramid.h"

namespace rzt2 {

// Halving until a factor below 2 is left for the cubic filter keeps the
// cost per destination pixel bounded, and makes reductions by powers of two
// plain copies of a reduction.
int ReductionLevel(const Rect& destination, const Rect& source) {
  if (destination.width <= 0 || destination.height <= 0) return 0;
  double factor =
      std::min(double(source.width) / destination.width, double(source.height) / destination.height);
  int k = 0;
  while (factor >= 2.0 && k < 30) {
    factor /= 2.0;
    ++k;
  }
  return k;
}

namespace {

// Catmull-Rom: interpolating (weight 1 at 0, 0 at the other integers), so
// an unscaled draw returns the source pixels.
float CubicWeight(double x) {
  x = std::fabs(x);
  if (x < 1.0) return static_cast<float>((1.5 * x - 2.5) * x * x + 1.0);
  if (x < 2.0) return static_cast<float>(((-0.5 * x + 2.5) * x - 4.0) * x + 2.0);
  return 0.0f;
}

// The filter of one axis: for each destination index drawn, a window of
// source indexes with normalized weights, and the fraction of the
// destination pixel that the picture covers.
struct AxisPlan {
  int32_t dstBegin = 0;
  int32_t dstEnd = 0;
  int32_t srcMin = 0;
  int32_t srcMax = -1;
  int32_t taps = 0;  // weights per destination index
  std::vector<int32_t> first;
  std::vector<float> weights;
  std::vector<float> coverage;
};

struct AxisGeometry {
  int32_t dstPos;  // destination rectangle start and length
  int32_t dstLen;
  int32_t targetLen;   // size of the target along this axis
  int32_t srcPos;      // source rectangle start, in picture pixels
  double ratio;        // picture pixels per destination pixel
  int32_t pictureLen;  // picture size along this axis
  int32_t levelLen;    // size of the reduction filtered from
  double levelScale;   // picture pixels per reduction pixel
};

// Positions are computed from the global destination index so that
// frames drawn one by one reproduce a single large draw exactly; with
// integer ratios and power-of-two level scales every value is exact.
void PlanAxis(const AxisGeometry& g, AxisPlan& plan) {
  const auto begin = std::max(g.dstPos, 0);
  const auto end = static_cast<int32_t>(std::min<int64_t>(int64_t{g.dstPos} + g.dstLen, g.targetLen));
  const double r = std::max(1.0, g.ratio / g.levelScale);
  // Unscaled from a reduction on its own grid: the filter picks one pixel.
  const bool onGrid = g.ratio == g.levelScale && std::fmod(g.srcPos, g.levelScale) == 0.0;
  const double support = onGrid ? 0.5 : 2.0 * r;
  plan.taps = onGrid ? 1 : static_cast<int32_t>(std::ceil(2.0 * support)) + 1;
  plan.dstBegin = end;
  plan.dstEnd = end;
  for (int32_t i = begin; i < end; ++i) {
    const double u0 = g.srcPos + (i - g.dstPos) * g.ratio;
    const double cover = (std::min(u0 + g.ratio, double(g.pictureLen)) - std::max(u0, 0.0)) / g.ratio;
    if (cover <= 0.0) {
      if (plan.dstBegin != end) break;  // past the picture's far edge
      continue;
    }
    if (plan.dstBegin == end) plan.dstBegin = i;
    plan.dstEnd = i + 1;
    const double center = (g.srcPos + (i - g.dstPos + 0.5) * g.ratio) / g.levelScale;
    const auto lo = static_cast<int32_t>(std::floor(center - 0.5 - support)) + 1;
    const auto hi = static_cast<int32_t>(std::ceil(center - 0.5 + support)) - 1;
    const int32_t firstIndex = std::clamp(lo, 0, g.levelLen - 1);
    const size_t base = plan.weights.size();
    plan.weights.resize(base + static_cast<size_t>(plan.taps), 0.0f);
    float sum = 0.0f;
    for (int32_t j = lo; j <= hi; ++j) {
      const float w = CubicWeight((j + 0.5 - center) / r);
      plan.weights[base + static_cast<size_t>(std::clamp(j, 0, g.levelLen - 1) - firstIndex)] += w;
      sum += w;
    }
    for (size_t t = 0; t < static_cast<size_t>(plan.taps); ++t) plan.weights[base + t] /= sum;
    plan.first.push_back(firstIndex);
    plan.coverage.push_back(static_cast<float>(std::min(cover, 1.0)));
    plan.srcMin = plan.first.size() == 1 ? firstIndex : std::min(plan.srcMin, firstIndex);
    plan.srcMax = std::max(plan.srcMax, std::min(std::max(hi, firstIndex), g.levelLen - 1));
  }
}

// Reads rows of the picture or of one of its reductions as premultiplied
// floats, four per pixel (b, g, r, a).
class SourceRows {
 public:
  SourceRows(const Bitmap& picture, const PremulImage* level) : picture_(picture), level_(level) {}
  int32_t Width() const { return level_ ? level_->width : picture_.Width(); }
  int32_t Height() const { return level_ ? level_->height : picture_.Height(); }

  void Fetch(int32_t y, int32_t x0, int32_t count, std::vector<uint32_t>& scratch, float* out) const {
    const uint32_t* pixels = scratch.data();
    if (level_) {
      level_->ReadArgb(x0, y, count, scratch.data());
    } else {
      picture_.ReadArgb(x0, y, count, scratch.data());
      std::transform(scratch.begin(), scratch.begin() + count, scratch.begin(), Premultiply);
    }
    for (int32_t x = 0; x < count; ++x) {
      for (int c = 0; c < 4; ++c) *out++ = static_cast<float>((pixels[x] >> (8 * c)) & 255);
    }
  }

 private:
  const Bitmap& picture_;
  const PremulImage* level_;
};

// Whether every pixel of an ARGB row is opaque; a whole row at a time, so
// that the loop vectorizes.
bool IsOpaque(const uint32_t* row, size_t count) {
  uint32_t all = 0xFFFFFFFF;
  for (size_t x = 0; x < count; ++x) all &= row[x];
  return AlphaOf(all) == 255;
}

uint8_t ToByte(float v) { return static_cast<uint8_t>(std::lrint(std::clamp(v, 0.0f, 255.0f))); }

// Source-over of a premultiplied colour (b, g, r, a in 0..255) scaled by
// the covered fraction, onto one target pixel.
void CompositePremultiplied(const float* src, float cover, PixelFormat format, uint8_t* dst) {
  const float sa = std::clamp(src[3], 0.0f, 255.0f) * cover;
  const float keep = 1.0f - sa / 255.0f;
  float color[3];
  // Not std::clamp: cubic ringing can take alpha below 0, where its bounds
  // would be reversed, which is undefined (libstdc++ answers as this does,
  // libc++ with 0).
  for (int c = 0; c < 3; ++c) color[c] = std::min(std::max(src[c], 0.0f), src[3]) * cover;
  if (format == PixelFormat::Rgb24) {
    for (int c = 0; c < 3; ++c) dst[c] = ToByte(color[c] + static_cast<float>(dst[c]) * keep);
    return;
  }
  const float da = dst[3];
  const float outA = sa + da * keep;
  if (outA <= 0.0f) {
    dst[0] = dst[1] = dst[2] = dst[3] = 0;
    return;
  }
  for (int c = 0; c < 3; ++c) {
    dst[c] = ToByte((color[c] + static_cast<float>(dst[c]) * da / 255.0f * keep) * 255.0f / outA);
  }
  dst[3] = ToByte(outA);
}

void CompositePixel(uint32_t argb, PixelFormat format, uint8_t* dst) {
  const uint32_t a = AlphaOf(argb);
  if (a == 255 || (format == PixelFormat::Argb32 && dst[3] == 0)) {
    dst[0] = static_cast<uint8_t>(BlueOf(argb));
    dst[1] = static_cast<uint8_t>(GreenOf(argb));
    dst[2] = static_cast<uint8_t>(RedOf(argb));
    if (format == PixelFormat::Argb32) dst[3] = static_cast<uint8_t>(a);
    return;
  }
  if (a == 0) return;
  const uint32_t p = Premultiply(argb);
  const float src[4] = {float(BlueOf(p)), float(GreenOf(p)), float(RedOf(p)), float(a)};
  CompositePremultiplied(src, 1.0f, format, dst);
}

}  // namespace

// Equal sizes: the picture's pixels, copied (or composited, where they are
// not opaque) without filtering.
void FilteredDraw::Copy(const Bitmap& picture, int32_t targetWidth, int32_t targetHeight, const Rect& d,
                        const Rect& s) {
  const int64_t dx0 = std::max<int64_t>({int64_t{d.x}, 0, int64_t{d.x} - s.x});
  const int64_t dy0 = std::max<int64_t>({int64_t{d.y}, 0, int64_t{d.y} - s.y});
  const int64_t dx1 =
      std::min<int64_t>({int64_t{d.x} + d.width, targetWidth, int64_t{d.x} - s.x + picture.Width()});
  const int64_t dy1 =
      std::min<int64_t>({int64_t{d.y} + d.height, targetHeight, int64_t{d.y} - s.y + picture.Height()});
  if (dx0 >= dx1 || dy0 >= dy1) return;
  kind_ = Kind::Copy;
  x0_ = static_cast<int32_t>(dx0);
  x1_ = static_cast<int32_t>(dx1);
  y0_ = static_cast<int32_t>(dy0);
  y1_ = static_cast<int32_t>(dy1);
  const auto count = static_cast<size_t>(x1_ - x0_);
  pixels_.resize(count * static_cast<size_t>(y1_ - y0_));
  copyRows_.resize(static_cast<size_t>(y1_ - y0_));
  for (int32_t y = y0_; y < y1_; ++y) {
    uint32_t* row = pixels_.data() + static_cast<size_t>(y - y0_) * count;
    picture.ReadArgb(static_cast<int32_t>(dx0 - d.x + s.x), static_cast<int32_t>(int64_t{y} - d.y + s.y),
                     x1_ - x0_, row);
    copyRows_[static_cast<size_t>(y - y0_)] = IsOpaque(row, count);
  }
}

Status FilteredDraw::Filter(const Bitmap& picture, int32_t targetWidth, int32_t targetHeight, const Rect& d,
                            const Rect& s) {
  const double ratioX = double(s.width) / d.width;
  const double ratioY = double(s.height) / d.height;
  const int k = ReductionLevel(d, s);
  const PremulImage* level = nullptr;
  if (k > 0) {
    if (const Status status = picture.Reductions().Level(k, level); status != Status::Ok) return status;
  }
  const SourceRows rows(picture, level);
  const double levelScale = std::ldexp(1.0, k);

  AxisPlan px, py;
  PlanAxis({d.x, d.width, targetWidth, s.x, ratioX, picture.Width(), rows.Width(), levelScale}, px);
  PlanAxis({d.y, d.height, targetHeight, s.y, ratioY, picture.Height(), rows.Height(), levelScale}, py);
  if (px.dstBegin >= px.dstEnd || py.dstBegin >= py.dstEnd) return Status::Ok;
  x0_ = px.dstBegin;
  x1_ = px.dstEnd;
  y0_ = py.dstBegin;
  y1_ = py.dstEnd;
  coverX_ = std::move(px.coverage);
  coverY_ = std::move(py.coverage);
  const auto columns = static_cast<size_t>(x1_ - x0_);

  // A reduction drawn on its own grid: every destination pixel is one
  // reduction pixel, which is what the filter gives with its single unit weight.
  if (level != nullptr && px.taps == 1 && py.taps == 1) {
    kind_ = Kind::Reduction;
    pixels_.resize(columns * static_cast<size_t>(y1_ - y0_));
    copyRows_.resize(static_cast<size_t>(y1_ - y0_));
    const bool coversRows = std::all_of(coverX_.begin(), coverX_.end(), [](float c) { return c == 1.0f; });
    const int32_t firstColumn = px.first.front();
    std::vector<uint32_t> in(static_cast<size_t>(px.first.back() - firstColumn + 1));
    for (size_t row = 0; row < coverY_.size(); ++row) {
      level->ReadArgb(firstColumn, py.first[row], static_cast<int32_t>(in.size()), in.data());
      uint32_t* out = pixels_.data() + row * columns;
      for (size_t i = 0; i < columns; ++i) out[i] = in[static_cast<size_t>(px.first[i] - firstColumn)];
      copyRows_[row] = coversRows && coverY_[row] == 1.0f && IsOpaque(out, columns);
    }
    return Status::Ok;
  }

  // Horizontal pass over the source rows the vertical filter needs.
  kind_ = Kind::Filtered;
  const auto srcCount = px.srcMax - px.srcMin + 1;
  std::vector<float> across(static_cast<size_t>(py.srcMax - py.srcMin + 1) * columns * 4);
  std::vector<float> line(static_cast<size_t>(srcCount) * 4);
  std::vector<uint32_t> scratch(static_cast<size_t>(srcCount));
  const auto taps = static_cast<size_t>(px.taps);
  for (int32_t y = py.srcMin; y <= py.srcMax; ++y) {
    rows.Fetch(y, px.srcMin, srcCount, scratch, line.data());
    float* out = across.data() + static_cast<size_t>(y - py.srcMin) * columns * 4;
    for (size_t i = 0; i < columns; ++i, out += 4) {
      const float* w = px.weights.data() + i * taps;
      const float* in = line.data() + static_cast<size_t>(px.first[i] - px.srcMin) * 4;
      const size_t n = std::min(taps, static_cast<size_t>(px.srcMax - px.first[i] + 1));
      float acc[4] = {0, 0, 0, 0};
      for (size_t t = 0; t < n; ++t, in += 4) {
        for (int c = 0; c < 4; ++c) acc[c] += w[t] * in[c];
      }
      std::copy(acc, acc + 4, out);
    }
  }

  // Vertical pass.
  colors_.resize(columns * static_cast<size_t>(y1_ - y0_) * 4);
  float* out = colors_.data();
  const auto vtaps = static_cast<size_t>(py.taps);
  for (size_t row = 0; row < coverY_.size(); ++row) {
    const float* w = py.weights.data() + row * vtaps;
    const size_t n = std::min(vtaps, static_cast<size_t>(py.srcMax - py.first[row] + 1));
    const float* base = across.data() + static_cast<size_t>(py.first[row] - py.srcMin) * columns * 4;
    for (size_t i = 0; i < columns; ++i, out += 4) {
      float acc[4] = {0, 0, 0, 0};
      const float* in = base + i * 4;
      for (size_t t = 0; t < n; ++t, in += columns * 4) {
        for (int c = 0; c < 4; ++c) acc[c] += w[t] * in[c];
      }
      std::copy(acc, acc + 4, out);
    }
  }
  return Status::Ok;
}

Status FilteredDraw::Prepare(const Bitmap& picture, int32_t targetWidth, int32_t targetHeight, const Rect& d,
                             const Rect& s) {
  kind_ = Kind::Nothing;
  if (d.width < 0 || d.height < 0 || s.width < 0 || s.height < 0) return Status::InvalidParameter;
  if (d.width == 0 || d.height == 0 || s.width == 0 || s.height == 0) return Status::Ok;
  // Plans, rows and the picture's halved copies all take memory.
  return GuardMemory([&] {
    if (d.width == s.width && d.height == s.height) {
      Copy(picture, targetWidth, targetHeight, d, s);
      return Status::Ok;
    }
    return Filter(picture, targetWidth, targetHeight, d, s);
  });
}

void FilteredDraw::Composite(Bitmap& target) const {
  const int bpp = BytesPerPixel(target.Format());
  const auto columns = static_cast<size_t>(x1_ - x0_);
  for (int32_t y = y0_; kind_ != Kind::Nothing && y < y1_; ++y) {
    const auto row = static_cast<size_t>(y - y0_);
    uint8_t* out = target.MutableRow(y) + static_cast<size_t>(x0_) * static_cast<size_t>(bpp);
    if (kind_ != Kind::Filtered && copyRows_[row] && target.Format() == PixelFormat::Argb32) {
      std::memcpy(out, pixels_.data() + row * columns, 4 * columns);
      continue;
    }
    switch (kind_) {
      case Kind::Copy:
        for (size_t x = 0; x < columns; ++x, out += bpp) {
          CompositePixel(pixels_[row * columns + x], target.Format(), out);
        }
        break;
      case Kind::Reduction:
        for (size_t i = 0; i < columns; ++i, out += bpp) {
          const uint32_t p = pixels_[row * columns + i];
          const float cover = coverX_[i] * coverY_[row];
          if (cover == 1.0f && AlphaOf(p) == 255) {
            std::memcpy(out, &p, static_cast<size_t>(bpp));
            continue;
          }
          const float premul[4] = {float(BlueOf(p)), float(GreenOf(p)), float(RedOf(p)), float(AlphaOf(p))};
          CompositePremultiplied(premul, cover, target.Format(), out);
        }
        break;
      case Kind::Filtered:
        for (size_t i = 0; i < columns; ++i, out += bpp) {
          CompositePremultiplied(colors_.data() + (row * columns + i) * 4, coverX_[i] * coverY_[row],
                                 target.Format(), out);
        }
        break;
      case Kind::Nothing:
        break;
    }
  }
}

bool FilteredDraw::Replaces(int32_t targetWidth, int32_t targetHeight) const {
  return (kind_ == Kind::Copy || kind_ == Kind::Reduction) && x0_ == 0 && y0_ == 0 && x1_ == targetWidth &&
         y1_ == targetHeight && std::all_of(copyRows_.begin(), copyRows_.end(), [](bool row) { return row; });
}

Status DrawPicture(const Bitmap& picture, Bitmap& target, const Rect& d, const Rect& s) {
  if (target.Format() == PixelFormat::Indexed8) return Status::NotImplemented;
  FilteredDraw draw;
  const Status status = draw.Prepare(picture, target.Width(), target.Height(), d, s);
  if (status == Status::Ok) draw.Composite(target);
  return status;
}

}  // namespace rzt2
