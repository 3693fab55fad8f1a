// How wide a line of text is drawn in a picture, estimated on the wide side so that a text
// placed by it fits in the common sans-serif fonts (DejaVu Sans, the widest of them, Arial,
// Helvetica, Liberation Sans, Lato): a character counts at least 0.65 of the font size, a
// capital 0.82, the mathematical signs 0.84, and a wide one (m, w, M, W, %, @) or one outside
// ASCII 1.05 (its UTF-8 continuation bytes count nothing); a bold text a tenth more again.
#pragma once

#include <algorithm>
#include <cmath>
#include <string_view>

namespace empricer {

inline double textWidth(std::string_view text, double fontSize, bool bold = false) {
  double ems = 0.0;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) == 0x80) continue;  // inside a UTF-8 character
    if (byte >= 0x80 || std::string_view("mwMW%@").find(c) != std::string_view::npos) {
      ems += 1.05;
    } else if (std::string_view("+=<>~#^&").find(c) != std::string_view::npos) {
      ems += 0.84;
    } else if (c >= 'A' && c <= 'Z') {
      ems += 0.82;
    } else {
      ems += 0.65;
    }
  }
  return ems * fontSize * (bold ? 1.11 : 1.0);
}

// The largest font size up to `largest`, in steps of 1 / `stepsPerPoint` points, at which
// `text` is at most `room` wide; no smaller than `smallest` (where the text is wider at it).
inline double fittingFontSize(std::string_view text, double room, bool bold, double smallest,
                              double largest, double stepsPerPoint = 1.0) {
  const double fits = room / textWidth(text, 1.0, bold);
  return std::clamp(std::floor(fits * stepsPerPoint) / stepsPerPoint, smallest, largest);
}

}  // namespace empricer
