// File names as rzt2 shows them. A name is any bytes but "/" and NUL:
// printed raw, control characters would move the cursor, clear the screen
// or fake lines of output.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rzt2 {

// The text with control characters (C0, DEL, C1), bytes that are not UTF-8
// and "\" written as \xNN and \\, so that the text shows on one line and the
// bytes can be read back from it. Every name rzt2 prints goes through here.
std::string Printable(std::string_view text);

// Whether the text is well-formed UTF-8 (no overlong forms, no surrogates).
bool IsUtf8(std::string_view text);

// A file name as member key of a JSON object. JSON holds only Unicode text:
// a name that is not UTF-8 shows with U+FFFD in place of its bad bytes (the
// object is dumped with the replacing error handler), and its bytes follow
// as numbers in key + "Bytes".
template <typename Json>
void PutName(Json& object, const std::string& key, const std::string& name) {
  object[key] = name;
  if (!IsUtf8(name)) object[key + "Bytes"] = std::vector<uint8_t>(name.begin(), name.end());
}

// The name as "file", its bytes in "fileBytes".
template <typename Json>
void PutFileName(Json& object, const std::string& name) {
  PutName(object, "file", name);
}

}  // namespace rzt2
