// Signatures: the leading bytes that mark a picture format. A signature is
// one or two runs of bytes, each at its offset (or anywhere in a stretch
// from it), that must all be there. Header-only, so that the render helper
// program shares them too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace rzt2 {

struct SignatureBytes {
  size_t offset = 0;
  std::string_view bytes;  // empty: matches anything
  size_t within = 0;       // the bytes may start up to this far past offset
};

// The bytes of a string literal, NULs included, at offset.
template <size_t N>
constexpr SignatureBytes At(size_t offset, const char (&bytes)[N]) {
  return {offset, std::string_view(bytes, N - 1)};
}

// The bytes starting anywhere from offset to offset + within.
template <size_t N>
constexpr SignatureBytes Within(size_t offset, size_t within, const char (&bytes)[N]) {
  return {offset, std::string_view(bytes, N - 1), within};
}

class Signature {
 public:
  constexpr Signature(SignatureBytes first, SignatureBytes second = {}) : first_(first), second_(second) {}

  constexpr bool Matches(std::span<const uint8_t> data) const {
    return Holds(data, first_) && Holds(data, second_);
  }

 private:
  static constexpr bool Holds(std::span<const uint8_t> data, const SignatureBytes& run) {
    for (size_t start = run.offset; start <= run.offset + run.within; ++start) {
      if (HoldsAt(data, run.bytes, start)) return true;
    }
    return false;
  }
  static constexpr bool HoldsAt(std::span<const uint8_t> data, std::string_view bytes, size_t offset) {
    if (data.size() < offset || data.size() - offset < bytes.size()) return false;
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (data[offset + i] != static_cast<uint8_t>(bytes[i])) return false;
    }
    return true;
  }

  SignatureBytes first_;
  SignatureBytes second_;
};

constexpr bool MatchesAny(std::span<const Signature> signatures, std::span<const uint8_t> data) {
  for (const Signature& signature : signatures) {
    if (signature.Matches(data)) return true;
  }
  return false;
}

}  // namespace rzt2
