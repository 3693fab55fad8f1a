// The texts of an SVG picture that may be drawn outside it: each text's extent estimated at
// 0.65 of its font size a character (a tenth more in bold), which the common sans-serif fonts
// stay within for lower-case letters, digits and punctuation, and placed by its anchor.
#pragma once

#include <string>
#include <vector>

namespace empricer {

namespace picture {

// The value of attribute `name` in the tag `tag`, or "" when it has none.
inline std::string attribute(const std::string& tag, const std::string& name) {
  const std::string key = " " + name + "=\"";
  const std::size_t at = tag.find(key);
  if (at == std::string::npos) return "";
  const std::size_t from = at + key.size();
  return tag.substr(from, tag.find('"', from) - from);
}

// The number of characters a text shows: an entity counts one, a UTF-8 character one.
inline double shownCharacters(const std::string& text) {
  double count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&') i = text.find(';', i);
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++count;
  }
  return count;
}

}  // namespace picture

// Each text (unrotated) whose estimated box leaves the picture's width or height, with where it
// would reach; none for a picture whose texts all fit.
inline std::vector<std::string> textsOutside(const std::string& svg) {
  using picture::attribute;
  const std::string root = svg.substr(svg.find("<svg"), svg.find('>', svg.find("<svg")));
  const double width = std::stod(attribute(root, "width"));
  const double height = std::stod(attribute(root, "height"));
  const double rootSize = std::stod(attribute(root, "font-size"));
  std::vector<std::string> outside;
  for (std::size_t at = svg.find("<text "); at != std::string::npos;
       at = svg.find("<text ", at + 1)) {
    const std::size_t open = svg.find('>', at);
    const std::string tag = svg.substr(at, open - at);
    const std::string text = svg.substr(open + 1, svg.find("</text>", open) - open - 1);
    if (!attribute(tag, "transform").empty()) continue;
    const std::string size = attribute(tag, "font-size");
    const double fontSize = size.empty() ? rootSize : std::stod(size);
    const double bold = attribute(tag, "font-weight") == "bold" ? 1.1 : 1.0;
    const double extent = picture::shownCharacters(text) * 0.65 * fontSize * bold;
    const std::string anchor = attribute(tag, "text-anchor");
    const double x = std::stod(attribute(tag, "x"));
    const double y = std::stod(attribute(tag, "y"));
    const double left = anchor == "end" ? x - extent : anchor == "middle" ? x - extent / 2 : x;
    if (left < 0 || left + extent > width || y - fontSize < 0 || y > height) {
      outside.push_back(text + " (from " + std::to_string(left) + " to " +
                        std::to_string(left + extent) + " of " + std::to_string(width) +
                        ", at " + std::to_string(y) + " of " + std::to_string(height) + ")");
    }
  }
  return outside;
}

}  // namespace empricer
