#pragma once

#include <span>

namespace vantrel {

// The wizard's banner: a PNG file (960 x 720, RGBA) compiled into the program's data.
std::span<const unsigned char> banner_png();

}  // namespace vantrel
