#include "cli/printable.h"

#include <cstdint>

namespace rzt2 {

namespace {

// The length of the well-formed UTF-8 sequence that text starts with, or 0.
size_t SequenceLength(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(0);
  if (lead < 0x80) return 1;
  // The second byte's range excludes overlong forms, surrogates and values over U+10FFFF.
  size_t length = 0;
  uint8_t low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

void AppendEscaped(std::string& out, std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char c : bytes) {
    const auto b = static_cast<uint8_t>(c);
    out += "\\x";
    out += kHex[b >> 4];
    out += kHex[b & 0xF];
  }
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const size_t length = SequenceLength(text);
    const std::string_view piece = text.substr(0, length == 0 ? 1 : length);
    const auto lead = static_cast<uint8_t>(piece[0]);
    const bool c1Control = length == 2 && lead == 0xC2 && static_cast<uint8_t>(piece[1]) < 0xA0;
    if (length == 0 || lead < 0x20 || lead == 0x7F || c1Control) {
      AppendEscaped(out, piece);
    } else if (lead == '\\') {
      out += "\\\\";
    } else {
      out += piece;
    }
    text.remove_prefix(piece.size());
  }
  return out;
}

bool IsUtf8(std::string_view text) {
  while (!text.empty()) {
    const size_t length = SequenceLength(text);
    if (length == 0) return false;
    text.remove_prefix(length);
  }
  return true;
}

}  // namespace rzt2
