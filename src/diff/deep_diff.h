// The comparison beyond the 24-bit forms: alpha, 16-bit and float samples,
// for two pictures of equal size already brought to one precision
// (MatchSamples). Row by row, so that the rows that agree, nearly all of
// them in most pairs, pass at memcmp speed.
#pragma once

#include <cstdint>
#include <vector>

#include "image/image.h"

class DeepPair {
public:
    DeepPair(const Image* a, const Image* b);

    // Whether anything beyond the 24-bit forms takes part.
    bool Active() const { return active; }
    // Whether the alphas take part (either picture stores transparency).
    bool AlphaTakesPart() const { return a->storesAlpha || b->storesAlpha; }
    Samples ComparedSamples() const { return samples; }

    bool RowsEqual(std::int32_t y) const;
    // How much pixel (x, y) differs beyond its 24-bit form, in 8-bit units:
    // 0 when its samples agree bit for bit, otherwise at least 1. For
    // 16-bit samples the largest difference's high byte; for floats the
    // largest |a - b| clamped to [0, 1] and scaled to 255 (NaN and infinite
    // differences count as 255).
    int PixelDelta(std::int32_t x, std::int32_t y) const;
    // Whether any sample of pixel (x, y) beyond its 24-bit form differs by
    // more than `tolerance` 8-bit levels: alpha by more than that many,
    // 16-bit samples by more than tolerance * 257, floats by more than
    // tolerance / 255 (NaN and infinite differences always).
    bool PixelBeyond(std::int32_t x, std::int32_t y, int tolerance) const;

private:
    const std::uint8_t* AlphaRow(const Image* image, std::int32_t y) const;
    const std::uint8_t* DeepRow(const Image* image, std::int32_t y) const;

    const Image* a;
    const Image* b;
    // Deep planes take part only where both pictures hold the same kind
    // (MatchSamples sees to that); otherwise the 8-bit forms and alphas do.
    Samples samples;
    bool active;
    std::size_t deepRowBytes;
    // The alpha row of a picture that has no alpha plane: all opaque.
    std::vector<std::uint8_t> opaqueRow;
};

// Whether any pixel differs beyond its 24-bit form.
bool DeepDiffer(const DeepPair& pair, std::int32_t height);
