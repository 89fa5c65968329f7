// Signatures: the leading bytes that mark a picture format. A signature is
// one or two runs of bytes, each at its offset, that must all be there.
// Header-only, so that the metafile helper program shares them too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace rzt2 {

struct SignatureBytes {
  size_t offset = 0;
  std::string_view bytes;  // empty: matches anything
};

// The bytes of a string literal, NULs included, at offset.
template <size_t N>
constexpr SignatureBytes At(size_t offset, const char (&bytes)[N]) {
  return {offset, std::string_view(bytes, N - 1)};
}

class Signature {
 public:
  constexpr Signature(SignatureBytes first, SignatureBytes second = {}) : first_(first), second_(second) {}

  constexpr bool Matches(std::span<const uint8_t> data) const {
    return Holds(data, first_) && Holds(data, second_);
  }

 private:
  static constexpr bool Holds(std::span<const uint8_t> data, const SignatureBytes& run) {
    if (data.size() < run.offset || data.size() - run.offset < run.bytes.size()) return false;
    for (size_t i = 0; i < run.bytes.size(); ++i) {
      if (data[run.offset + i] != static_cast<uint8_t>(run.bytes[i])) return false;
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
