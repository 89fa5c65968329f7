// File names as rzt2 shows them. A name is any bytes but "/" and NUL:
// printed raw, control characters would move the cursor, clear the screen
// or fake lines of output.
#pragma once

#include <string>
#include <string_view>

namespace rzt2 {

// The text with control characters (C0, DEL, C1), bytes that are not UTF-8
// and "\" written as \xNN and \\, so that the text shows on one line and the
// bytes can be read back from it. Every name rzt2 prints goes through here.
std::string Printable(std::string_view text);

// Whether the text is well-formed UTF-8 (no overlong forms, no surrogates).
bool IsUtf8(std::string_view text);

}  // namespace rzt2
