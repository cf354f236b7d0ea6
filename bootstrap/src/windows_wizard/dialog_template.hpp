#pragma once

#include <cstdint>
#include <vector>

namespace vantrel {

// The wizard's dialog template, built in memory: a classic template without items.
// The storage is 4-byte aligned, as DialogBoxIndirectParamW requires.
std::vector<std::uint32_t> wizard_dialog_template();

}  // namespace vantrel
