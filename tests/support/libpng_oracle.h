// libpng's own reading of a PNG, the oracle where the picture library errs:
// a grey colour key below 8 bits is a sample at the picture's own depth,
// which the library compares with the widened sample instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Whether `bytes` is a PNG of grey samples below 8 bits with a tRNS chunk.
bool HasLowGreyColourKey(const std::uint8_t* bytes, std::size_t size);

// Each pixel's alpha as libpng expands it (png_set_expand and
// png_set_tRNS_to_alpha, through its simplified reading); empty when
// libpng cannot read the file.
std::vector<std::uint8_t> AlphaByLibpng(const std::string& path);
