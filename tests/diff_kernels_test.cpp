// The vector kernels against their scalar twins, and CreateDiffImage's
// answer, on buffers that honour the Image padding contract.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <random>
#include <vector>

#include "diff/colour_delta.h"
#include "diff/diff_image.h"
#include "diff/diff_kernels.h"
#include "support/guarded_memory.h"

namespace {

using Kernel = bool (*)(const std::uint8_t*, const std::uint8_t*, std::uint8_t*, std::size_t);

struct KernelPair {
    const char* name;
    Kernel vector;
    Kernel scalar;
};

// The kernels the tool runs (the vector ones, unless the build forces the
// scalar twins) against the scalar twins.
std::vector<KernelPair> Kernels() {
    return {{"AbsDelta", DiffAbsDelta, DiffAbsDelta_scalar}, {"Xor", DiffXor, DiffXor_scalar}};
}

// A picture of exactly `payload` bytes (as 1 x payload/3 pixels would have,
// but any byte count is allowed here) with random contents.
struct Buffers {
    explicit Buffers(std::size_t payloadBytes) : payload(payloadBytes) {
        // CreateImage takes pixels; round the byte count up to whole pixels
        // and use the rest of the payload as if it were tail.
        const auto pixels = static_cast<std::int32_t>((payloadBytes + 2) / 3);
        a = CreateImage(pixels, 1);
        b = CreateImage(pixels, 1);
        vectorOut = CreateImage(pixels, 1);
        scalarOut = CreateImage(pixels, 1);
        size = ImageBufferSize(pixels, 1);
        for (Image* image : {a, b}) {
            std::memset(image->pixels, 0, size);
        }
    }
    ~Buffers() {
        for (Image* image : {a, b, vectorOut, scalarOut}) {
            DestroyImage(image);
        }
    }
    Buffers(const Buffers&) = delete;
    Buffers& operator=(const Buffers&) = delete;

    std::size_t Blocks() const { return DiffBlockCount(payload); }

    std::size_t payload;
    std::size_t size = 0;
    Image* a;
    Image* b;
    Image* vectorOut;
    Image* scalarOut;
};

// Runs both twins and checks they agree on every output byte and the answer.
bool RunBoth(const KernelPair& kernel, Buffers& buffers) {
    std::memset(buffers.vectorOut->pixels, 0xAA, buffers.size);
    std::memset(buffers.scalarOut->pixels, 0x55, buffers.size);
    const bool vectorDiffers = kernel.vector(buffers.a->pixels, buffers.b->pixels,
                                             buffers.vectorOut->pixels, buffers.Blocks());
    const bool scalarDiffers = kernel.scalar(buffers.a->pixels, buffers.b->pixels,
                                             buffers.scalarOut->pixels, buffers.Blocks());
    EXPECT_EQ(vectorDiffers, scalarDiffers) << kernel.name << " payload " << buffers.payload;
    // The compare-only kernel and its twin decide the same, writing nothing.
    EXPECT_EQ(CompareBlocks(buffers.a->pixels, buffers.b->pixels, buffers.Blocks()), scalarDiffers)
        << "payload " << buffers.payload;
    EXPECT_EQ(CompareBlocks_scalar(buffers.a->pixels, buffers.b->pixels, buffers.Blocks()),
              scalarDiffers)
        << "payload " << buffers.payload;
    const std::size_t written = buffers.Blocks() * 16;
    EXPECT_EQ(std::memcmp(buffers.vectorOut->pixels, buffers.scalarOut->pixels, written), 0)
        << kernel.name << " payload " << buffers.payload;
    return vectorDiffers;
}

std::vector<std::size_t> Sizes() {
    std::vector<std::size_t> sizes;
    for (std::size_t n = 1; n <= 260; ++n) {
        sizes.push_back(n);  // every payload size modulo 16, and around 128 and 256
    }
    for (std::size_t n : {1024u, 3840u, 4096u * 3u, 65536u * 3u + 7u}) {
        sizes.push_back(n);
    }
    return sizes;
}

TEST(DiffKernels, MatchScalarTwinsOnRandomData) {
    std::mt19937 random(20261207);
    for (const KernelPair& kernel : Kernels()) {
        for (std::size_t payload : Sizes()) {
            Buffers buffers(payload);
            for (std::size_t i = 0; i < payload; ++i) {
                buffers.a->pixels[i] = static_cast<std::uint8_t>(random());
                buffers.b->pixels[i] = static_cast<std::uint8_t>(random());
            }
            RunBoth(kernel, buffers);
            std::memcpy(buffers.b->pixels, buffers.a->pixels, payload);
            EXPECT_FALSE(RunBoth(kernel, buffers)) << kernel.name << " equal, payload " << payload;
        }
    }
}

// Outputs of 16 MiB and more are written with streaming stores: the same
// answers and bytes must come out on both sides of that size.
TEST(DiffKernels, LargeOutputsMatchScalarTwins) {
    std::mt19937 random(16);
    const std::size_t streaming = std::size_t{16} << 20;
    for (const KernelPair& kernel : Kernels()) {
        for (std::size_t payload : {streaming - 17, streaming + 5}) {
            Buffers buffers(payload);
            for (std::size_t i = 0; i < payload; ++i) {
                buffers.a->pixels[i] = static_cast<std::uint8_t>(random());
            }
            std::memcpy(buffers.b->pixels, buffers.a->pixels, payload);
            EXPECT_FALSE(RunBoth(kernel, buffers)) << kernel.name << " payload " << payload;
            for (std::size_t at : {std::size_t{0}, payload / 2, payload - 1}) {
                buffers.b->pixels[at] ^= 0x80;
                EXPECT_TRUE(RunBoth(kernel, buffers)) << kernel.name << " byte " << at;
                buffers.b->pixels[at] ^= 0x80;
            }
            for (std::size_t i = 0; i < payload; i += 4099) {
                buffers.b->pixels[i] = static_cast<std::uint8_t>(random());
            }
            RunBoth(kernel, buffers);
        }
    }
}

TEST(DiffKernels, StayWithinTheirBlocks) {
    std::mt19937 random(4096);
    const std::size_t streaming = std::size_t{1} << 20;
    for (const KernelPair& kernel : Kernels()) {
        for (const std::size_t blocks : {std::size_t{1}, std::size_t{2}, std::size_t{7},
                                         std::size_t{8}, std::size_t{255}, std::size_t{256},
                                         std::size_t{257}, std::size_t{1000}, streaming + 1}) {
            GuardedBytes a(blocks * 16);
            GuardedBytes b(blocks * 16);
            GuardedBytes out(blocks * 16);
            for (std::size_t i = 0; i < blocks * 16; i += 61) {
                a.data[i] = static_cast<std::uint8_t>(1 + random() % 255);
            }
            EXPECT_TRUE(kernel.vector(a.data, b.data, out.data, blocks)) << kernel.name;
            EXPECT_FALSE(kernel.vector(a.data, a.data, out.data, blocks)) << kernel.name;
            EXPECT_TRUE(CompareBlocks(a.data, b.data, blocks));
            EXPECT_FALSE(CompareBlocks(b.data, b.data, blocks));
        }
    }
}

TEST(DiffKernels, OneDifferingByteAnywhereIsFound) {
    std::mt19937 random(7);
    for (const KernelPair& kernel : Kernels()) {
        for (std::size_t payload : {3u, 16u, 17u, 127u, 128u, 300u}) {
            Buffers buffers(payload);
            for (std::size_t i = 0; i < payload; ++i) {
                buffers.a->pixels[i] = buffers.b->pixels[i] = static_cast<std::uint8_t>(random());
            }
            for (std::size_t at = 0; at < payload; ++at) {
                const std::uint8_t saved = buffers.b->pixels[at];
                buffers.b->pixels[at] = static_cast<std::uint8_t>(saved + 1 + random() % 255);
                EXPECT_TRUE(RunBoth(kernel, buffers)) << kernel.name << " byte " << at;
                buffers.b->pixels[at] = saved;
            }
        }
    }
}

TEST(DiffKernels, EveryByteLargerByOneDiffers) {
    for (const KernelPair& kernel : Kernels()) {
        for (std::size_t payload : {3u, 48u, 1000u, 4096u * 3u}) {
            Buffers buffers(payload);
            for (std::size_t i = 0; i < payload; ++i) {
                buffers.a->pixels[i] = static_cast<std::uint8_t>(i * 7);
                buffers.b->pixels[i] = static_cast<std::uint8_t>(i * 7 + 1);
            }
            EXPECT_TRUE(RunBoth(kernel, buffers)) << kernel.name << " payload " << payload;
        }
    }
}

TEST(DiffKernels, ExtremeByteValues) {
    Buffers buffers(16);
    const std::uint8_t a[4] = {10, 250, 0x0F, 0};
    const std::uint8_t b[4] = {250, 10, 0xF0, 255};
    std::memcpy(buffers.a->pixels, a, 4);
    std::memcpy(buffers.b->pixels, b, 4);
    for (const KernelPair& kernel : Kernels()) {
        RunBoth(kernel, buffers);
        const std::uint8_t* out = buffers.vectorOut->pixels;
        if (std::string(kernel.name) == "AbsDelta") {
            EXPECT_EQ(out[0], 240);
            EXPECT_EQ(out[1], 240);
            EXPECT_EQ(out[3], 255);
        } else {
            EXPECT_EQ(out[2], 0xFF);
            EXPECT_EQ(out[3], 0xFF);
        }
    }
}

TEST(DiffKernels, ZeroBlocksWriteNothingAndFindNothing) {
    std::uint8_t untouched[16];
    std::memset(untouched, 0x5A, sizeof untouched);
    for (const KernelPair& kernel : Kernels()) {
        EXPECT_FALSE(kernel.vector(untouched, untouched, untouched, 0));
        EXPECT_FALSE(kernel.scalar(untouched, untouched, untouched, 0));
    }
    EXPECT_EQ(untouched[0], 0x5A);
}

// The tolerance kernel reads packed rows: any size, any alignment, nothing
// past the end (guarded), and the same answer as its twin for every
// tolerance around the largest difference.
TEST(BytesWithin, MatchesItsScalarTwinAndReadsNoFurther) {
    std::mt19937 random(5);
    for (std::size_t size = 0; size < 300; size += 1 + size / 8) {
        for (int round = 0; round < 20; ++round) {
            GuardedBytes a(size);
            GuardedBytes b(size);
            int largest = 0;
            for (std::size_t i = 0; i < size; ++i) {
                a.data[i] = static_cast<std::uint8_t>(random());
                // Mostly close, now and then far: both answers occur.
                const int step = random() % 16 == 0 ? static_cast<int>(random() % 256) : static_cast<int>(random() % 5);
                b.data[i] = static_cast<std::uint8_t>(std::min(255, a.data[i] + step));
                largest = std::max(largest, b.data[i] - a.data[i]);
            }
            for (const int tolerance : {0, largest - 1, largest, largest + 1, 255}) {
                if (tolerance < 0 || tolerance > 255) {
                    continue;
                }
                const auto limit = static_cast<std::uint8_t>(tolerance);
                EXPECT_EQ(BytesWithin(a.data, b.data, size, limit), BytesWithin_scalar(a.data, b.data, size, limit))
                    << "size " << size << " tolerance " << tolerance;
                EXPECT_EQ(BytesWithin(b.data, a.data, size, limit), tolerance >= largest);
            }
        }
    }
}

// Rows of every width around the 16-pixel groups, differing nowhere, in
// one pixel, sparsely or everywhere, read up to a guard page.
TEST(MeasureRow, MatchesItsScalarTwinAndReadsNoFurther) {
    std::mt19937 random(11);
    std::vector<std::int32_t> widths;
    for (std::int32_t width = 0; width <= 70; ++width) {
        widths.push_back(width);
    }
    widths.insert(widths.end(), {255, 256, 1000, 3840});
    for (const std::int32_t width : widths) {
        const std::size_t size = 3 * static_cast<std::size_t>(width);
        for (const unsigned share : {0u, 1u, 10u, 100u, 1000u}) {
            GuardedBytes a(size);
            GuardedBytes b(size);
            for (std::size_t i = 0; i < size; ++i) {
                a.data[i] = b.data[i] = static_cast<std::uint8_t>(random());
            }
            // share / 1000 of the pixels, and with share 1 exactly one.
            for (std::int32_t x = 0; x < width; ++x) {
                const bool hit = share == 1 ? x == width / 2 : random() % 1000 < share;
                if (hit) {
                    const std::size_t at = 3 * static_cast<std::size_t>(x) + random() % 3;
                    b.data[at] = static_cast<std::uint8_t>(a.data[at] + 1 + random() % 255);
                }
            }
            const RowDifference vector = MeasureRow(a.data, b.data, width);
            const RowDifference scalar = MeasureRow_scalar(a.data, b.data, width);
            SCOPED_TRACE("width " + std::to_string(width) + " share " + std::to_string(share));
            EXPECT_EQ(vector.pixels, scalar.pixels);
            EXPECT_EQ(vector.largestDelta, scalar.largestDelta);
            if (scalar.pixels != 0) {
                EXPECT_EQ(vector.first, scalar.first);
                EXPECT_EQ(vector.last, scalar.last);
            }
            if (share == 1 && width > 0) {
                EXPECT_EQ(vector.pixels, 1u);
                EXPECT_EQ(vector.first, width / 2);
                EXPECT_EQ(vector.last, width / 2);
            }
            if (share == 1000) {
                EXPECT_EQ(vector.pixels, static_cast<std::uint32_t>(width));
            }
        }
    }
}

TEST(CreateDiffImage, EqualPicturesGiveNoDifferencePicture) {
    for (const DiffMode mode : {DiffMode::AbsDelta, DiffMode::Xor}) {
        for (const auto& size : std::vector<std::pair<int, int>>{{1, 1}, {0, 0}, {5, 7}, {128, 2}}) {
            Image* a = CreateImage(size.first, size.second);
            Image* b = CreateImage(size.first, size.second);
            const std::size_t payload = ImagePayloadSize(size.first, size.second);
            for (std::size_t i = 0; i < payload; ++i) {
                a->pixels[i] = b->pixels[i] = static_cast<std::uint8_t>(i);
            }
            EXPECT_EQ(CreateDiffImage(a, b, mode), nullptr);
            DestroyImage(a);
            DestroyImage(b);
        }
    }
}

TEST(CreateDiffImage, OnePixelDifferenceHasAZeroTail) {
    Image* a = CreateImage(1, 1);
    Image* b = CreateImage(1, 1);
    const std::uint8_t pixelA[3] = {1, 2, 3};
    const std::uint8_t pixelB[3] = {3, 2, 1};
    std::memcpy(a->pixels, pixelA, 3);
    std::memcpy(b->pixels, pixelB, 3);
    Image* diff = CreateDiffImage(a, b, DiffMode::AbsDelta);
    ASSERT_NE(diff, nullptr);
    EXPECT_EQ(diff->width, 1);
    EXPECT_EQ(diff->height, 1);
    EXPECT_EQ(diff->pixels[0], 2);
    EXPECT_EQ(diff->pixels[1], 0);
    EXPECT_EQ(diff->pixels[2], 2);
    for (std::size_t i = 3; i < kImageAlignment; ++i) {
        EXPECT_EQ(diff->pixels[i], 0) << "tail byte " << i;
    }
    DestroyImage(a);
    DestroyImage(b);
    DestroyImage(diff);
}

TEST(CreateDiffImage, DeepPlanesTakePartOnlyWhereBothPicturesHoldThem) {
    // A 16-bit picture against an 8-bit one that was not matched to it:
    // the 8-bit forms decide, and the missing plane is never read.
    Image* deep = CreateImage(4, 3);
    Image* flat = CreateImage(4, 3);
    const std::size_t payload = ImagePayloadSize(4, 3);
    std::memset(deep->pixels, 9, payload);
    std::memset(flat->pixels, 9, payload);
    deep->samples = Samples::Bits16;
    deep->deep = AllocatePlane(DeepPlaneSize(4, 3, Samples::Bits16));
    std::memset(deep->deep, 0x77, DeepPlaneSize(4, 3, Samples::Bits16));
    EXPECT_EQ(CreateDiffImage(deep, flat, DiffMode::AbsDelta), nullptr);
    EXPECT_FALSE(ImagesDiffer(flat, deep));
    EXPECT_EQ(MeasureDifference(deep, flat).differingPixels, 0u);
    DestroyImage(deep);
    DestroyImage(flat);
}

}  // namespace

// The colour-difference kernel against its scalar twin: random channel
// differences at random thresholds, and each difference right at the
// threshold's edge (limit = its own ΔE: not beyond; one less: beyond).
// The whole-pixel measure must agree with both for opaque pixels.
TEST(YiqBeyond, MatchesItsScalarTwinOnRandomDataAndAtTheEdge) {
    std::mt19937 random(11);
    constexpr std::size_t kCount = 4099;  // not a whole number of batches
    std::vector<std::int16_t> red(kCount + kYiqBatch), green(kCount + kYiqBatch), blue(kCount + kYiqBatch);
    std::vector<Rgba> a(kCount), b(kCount);
    for (std::size_t n = 0; n < kCount; ++n) {
        // Extremes often: the products and sums must stay exact there.
        const auto sample = [&] {
            const unsigned pick = random() % 8;
            return static_cast<std::uint8_t>(pick == 0 ? 0 : pick == 1 ? 255 : random() % 256);
        };
        const std::uint8_t pa[3] = {sample(), sample(), sample()};
        const std::uint8_t pb[3] = {sample(), sample(), sample()};
        a[n] = PackRgba(pa, 255);
        b[n] = PackRgba(pb, 255);
        blue[n] = static_cast<std::int16_t>(pa[0] - pb[0]);
        green[n] = static_cast<std::int16_t>(pa[1] - pb[1]);
        red[n] = static_cast<std::int16_t>(pa[2] - pb[2]);
    }
    const ChannelDifferences d{red.data(), green.data(), blue.data()};
    std::vector<std::uint8_t> vector(kCount + kYiqBatch), scalar(kCount + kYiqBatch);
    for (const double threshold : {0.0, 0.01, 0.05, 0.1, 0.3, 0.7, 1.0}) {
        const std::int64_t limit = YiqLimit(threshold);
        YiqBeyond(d, kCount, limit, vector.data());
        YiqBeyond_scalar(d, kCount, limit, scalar.data());
        for (std::size_t n = 0; n < kCount; ++n) {
            ASSERT_EQ(vector[n], scalar[n]) << "threshold " << threshold << ", pixel " << n;
            ASSERT_EQ(scalar[n], YiqDelta(a[n], b[n]) > limit ? 1 : 0) << "threshold " << threshold;
        }
    }
    for (std::size_t n = 0; n < kCount; n += 7) {
        const std::int64_t delta = YiqDelta(a[n], b[n]);
        for (const std::int64_t limit : {delta - 1, delta}) {
            YiqBeyond(d, kCount, limit, vector.data());
            YiqBeyond_scalar(d, kCount, limit, scalar.data());
            ASSERT_EQ(vector[n], limit < delta ? 1 : 0) << "pixel " << n << " at ΔE " << delta;
            ASSERT_EQ(scalar[n], vector[n]);
        }
    }
    EXPECT_EQ(YiqLimit(1.0), 35215 * 4096) << "the largest ΔE, in 1/4096 units";
}

// Blending over white: fully transparent pixels are white whatever their
// colour, and a half-transparent black is a grey.
TEST(YiqDelta, BlendsOverWhiteByAlpha) {
    const std::uint8_t black[3] = {0, 0, 0};
    const std::uint8_t white[3] = {255, 255, 255};
    EXPECT_EQ(YiqDelta(PackRgba(black, 0), PackRgba(white, 255)), 0);
    EXPECT_EQ(YiqDelta(PackRgba(black, 0), PackRgba(white, 0)), 0);
    EXPECT_GT(YiqDelta(PackRgba(black, 128), PackRgba(white, 255)), 0);
    EXPECT_LT(YiqDelta(PackRgba(black, 128), PackRgba(white, 255)), YiqDelta(PackRgba(black, 255), PackRgba(white, 255)));
    EXPECT_EQ(Brightness(PackRgba(black, 0)), Brightness(PackRgba(white, 255)));
}
