// rzt2-render: renders one page of a drawn or complex picture (WMF, EMF,
// PDF, SVG, SVGZ, HEIF, AVIF) from standard input for the converter (the
// conversation is in raster/codecs/render_wire.h). It runs those large C
// libraries in a process of its own so that a crash, a hang or a runaway
// allocation on hostile input ends this process and never the converter; the
// limits below make sure that it ends.
#include <fcntl.h>
#include <malloc.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "raster/codecs/render_wire.h"
#include "render/heif_render.h"
#include "render/metafile_render.h"
#include "render/pdf_render.h"
#include "render/svg_render.h"

#if defined(__SANITIZE_ADDRESS__)
#define RZT2_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RZT2_ADDRESS_SANITIZER 1
#endif
#endif
#ifdef RZT2_ADDRESS_SANITIZER
#include <sanitizer/lsan_interface.h>
#endif

namespace {

using rzt2::Status;

// Room for the libraries themselves and for parsing; the picture's pixels
// come on top once its size is known, up to the allowance the converter
// gives (its memory budget). The address-space limit cannot work
// under AddressSanitizer, which reserves terabytes of shadow memory.
constexpr rlim_t kBaseMemory = rlim_t{1} << 30;
constexpr rlim_t kBytesPerPixel = 16;  // two pages of libwmf's, a surface or bitmap, the reply
#ifdef RZT2_ADDRESS_SANITIZER
constexpr bool kLimitMemory = false;
#else
constexpr bool kLimitMemory = true;
#endif

void LimitMemory(rlim_t bytes) {
  if (!kLimitMemory) return;
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) != 0) return;
  limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? bytes : std::min(bytes, limit.rlim_max);
  setrlimit(RLIMIT_AS, &limit);
}

// Ends this process with its parent, which may die before the request is
// made: then the parent is no longer the one that started us.
bool EndWithParent(pid_t parent) { return ::prctl(PR_SET_PDEATHSIG, SIGKILL) == 0 && ::getppid() == parent; }

void LimitProcess(rlim_t cpuSeconds) {
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  const rlimit cpu{cpuSeconds, cpuSeconds + 1};
  setrlimit(RLIMIT_CPU, &cpu);
  // One malloc arena: threads of the libraries must not each reserve their own.
  mallopt(M_ARENA_MAX, 1);
  LimitMemory(kBaseMemory);
}

bool WriteAll(int fd, const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ssize_t written = write(fd, bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool ReadAll(int fd, std::vector<uint8_t>& out) {
  uint8_t buffer[1 << 16];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    out.insert(out.end(), buffer, buffer + got);
  }
}

bool Reply(int fd, const rzt2::RenderReply& reply) {
  const auto bytes = rzt2::EncodeRenderReply(reply);
  return WriteAll(fd, bytes.data(), bytes.size());
}

template <typename T>
bool ParseNumber(const char* text, T& value) {
  const char* end = text + std::strlen(text);
  const auto [rest, error] = std::from_chars(text, end, value);
  return error == std::errc() && rest == end;
}

struct Renderer {
  Status (*measure)(std::span<const uint8_t> data, const rzt2::RenderRequest& request, rzt2::PageSize& out);
  Status (*render)(std::span<const uint8_t> data, const rzt2::RenderRequest& request,
                   rzt2::RenderedPicture& out);
};

const Renderer* RendererFor(rzt2::RenderedKind kind) {
  using rzt2::RenderedKind;
  static constexpr Renderer kMetafile{rzt2::MeasureMetafile, rzt2::RenderMetafile};
  static constexpr Renderer kPdf{rzt2::MeasurePdf, rzt2::RenderPdf};
  static constexpr Renderer kSvg{rzt2::MeasureSvg, rzt2::RenderSvg};
  static constexpr Renderer kHeif{rzt2::MeasureHeif, rzt2::RenderHeif};
  switch (kind) {
    case RenderedKind::Emf:
    case RenderedKind::Wmf:
      return &kMetafile;
    case RenderedKind::Pdf:
      return &kPdf;
    case RenderedKind::Svg:
    case RenderedKind::Svgz:
      return &kSvg;
    case RenderedKind::Heif:
      return &kHeif;
    case RenderedKind::None:
      break;
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  rzt2::RenderRequest request;
  uint64_t memoryAllowance = 0;
  rlim_t cpuSeconds = 0;
  pid_t parent = 0;
  if (argc != 7 || !ParseNumber(argv[1], request.maxPixels) || !ParseNumber(argv[2], memoryAllowance) ||
      !ParseNumber(argv[3], cpuSeconds) || !ParseNumber(argv[4], parent) ||
      !ParseNumber(argv[5], request.dpi) || !ParseNumber(argv[6], request.page)) {
    return 2;
  }
  if (!EndWithParent(parent)) return 2;
  LimitProcess(cpuSeconds);
#ifdef RZT2_ADDRESS_SANITIZER
  // libwmf never frees the picture of its raster device; the process ends
  // right after it, and a leak report would fail the reply.
  __lsan_disable();
#endif

  // The libraries may print: only the reply goes to the converter.
  const int replyFd = dup(STDOUT_FILENO);
  const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (replyFd < 0 || devNull < 0 || dup2(devNull, STDOUT_FILENO) < 0) return 2;

  std::vector<uint8_t> data;
  if (!ReadAll(STDIN_FILENO, data)) return 2;

  const Renderer* renderer = RendererFor(rzt2::SniffRendered(data));
  if (renderer == nullptr) return Reply(replyFd, {Status::UnknownImageFormat, 0, 0, 0}) ? 0 : 1;
  // Page 0 asks for the page count: measured as the first page.
  const bool countOnly = request.page == 0;
  if (countOnly) request.page = 1;
  rzt2::PageSize size;
  Status status = renderer->measure(data, request, size);
  // A first page too large to draw still tells the count.
  if (countOnly) {
    if (status == Status::TooLarge) status = Status::Ok;
    return Reply(replyFd, {status, 0, 0, size.pages}) ? 0 : 1;
  }
  // Refused from the header, before the libraries allocate any pixel.
  const uint64_t pictureBytes = kBytesPerPixel * size.width * size.height;
  if (status == Status::Ok && pictureBytes > memoryAllowance) status = Status::OverMemoryAllowance;
  rzt2::RenderedPicture picture;
  if (status == Status::Ok) {
    LimitMemory(kBaseMemory + pictureBytes);
    try {
      status = renderer->render(data, request, picture);
    } catch (const std::bad_alloc&) {
      status = Status::OverMemoryAllowance;
    }
    if (status == Status::OutOfMemory) status = Status::OverMemoryAllowance;
  }
  if (status != Status::Ok) return Reply(replyFd, {status, 0, 0, size.pages}) ? 0 : 1;
  if (!Reply(replyFd, {Status::Ok, picture.width, picture.height, size.pages})) return 1;
  // The reply's pixels are little-endian, as this machine's.
  static_assert(std::endian::native == std::endian::little);
  return WriteAll(replyFd, picture.argb.data(), picture.argb.size() * sizeof(uint32_t)) ? 0 : 1;
}
