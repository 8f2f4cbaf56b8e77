// Throughput of the difference kernels over picture-sized buffers, beside
// memcpy of the same number of bytes: a kernel reads two buffers and writes
// one, memcpy reads one and writes one, so "bytes processed" counts the
// bytes of one input for both and the ratio shows how close the kernel
// comes to memory speed.
#include <benchmark/benchmark.h>

#include <cstring>

#include "diff/diff_kernels.h"
#include "image/image.h"

namespace {

using Kernel = bool (*)(const std::uint8_t*, const std::uint8_t*, std::uint8_t*,
                        std::size_t);

struct Buffers {
    Image* a;
    Image* b;
    Image* out;
    std::size_t payload;

    Buffers(int width, int height)
        : a(CreateImage(width, height)),
          b(CreateImage(width, height)),
          out(CreateImage(width, height)),
          payload(ImagePayloadSize(width, height)) {
        // Near-equal content with a sparse difference: the kernels have no
        // early exit, so the content does not change the work done.
        for (std::size_t i = 0; i < payload; ++i) {
            a->pixels[i] = static_cast<std::uint8_t>(i * 7u);
            b->pixels[i] = static_cast<std::uint8_t>(i * 7u + (i % 4099 == 0 ? 1u : 0u));
        }
        std::memset(out->pixels, 0, payload);
    }
    ~Buffers() {
        DestroyImage(a);
        DestroyImage(b);
        DestroyImage(out);
    }
};

void RunKernel(benchmark::State& state, Kernel kernel) {
    Buffers buffers(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const std::size_t blocks = DiffBlockCount(buffers.payload);
    for (auto _ : state) {
        bool differ = kernel(buffers.a->pixels, buffers.b->pixels, buffers.out->pixels, blocks);
        benchmark::DoNotOptimize(differ);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(buffers.payload));
}

void BM_Memcpy(benchmark::State& state) {
    Buffers buffers(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        std::memcpy(buffers.out->pixels, buffers.a->pixels, buffers.payload);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(buffers.payload));
}

// The decision alone, as a run without a difference picture makes it.
void BM_CompareBlocks(benchmark::State& state) {
    Buffers buffers(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const std::size_t blocks = DiffBlockCount(buffers.payload);
    for (auto _ : state) {
        bool differ = CompareBlocks(buffers.a->pixels, buffers.b->pixels, blocks);
        benchmark::DoNotOptimize(differ);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(buffers.payload));
}

void BM_DiffAbsDelta(benchmark::State& state) { RunKernel(state, DiffAbsDelta); }
void BM_DiffXor(benchmark::State& state) { RunKernel(state, DiffXor); }
void BM_DiffAbsDelta_scalar(benchmark::State& state) { RunKernel(state, DiffAbsDelta_scalar); }
void BM_DiffXor_scalar(benchmark::State& state) { RunKernel(state, DiffXor_scalar); }

void PictureSizes(benchmark::internal::Benchmark* bench) {
    bench->ArgNames({"w", "h"});
    bench->Args({1920, 1080});
    bench->Args({3840, 2160});
    bench->Args({7680, 4320});
    bench->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_Memcpy)->Apply(PictureSizes);
BENCHMARK(BM_CompareBlocks)->Apply(PictureSizes);
BENCHMARK(BM_DiffAbsDelta)->Apply(PictureSizes);
BENCHMARK(BM_DiffXor)->Apply(PictureSizes);
BENCHMARK(BM_DiffAbsDelta_scalar)->Apply(PictureSizes);
BENCHMARK(BM_DiffXor_scalar)->Apply(PictureSizes);

BENCHMARK_MAIN();
