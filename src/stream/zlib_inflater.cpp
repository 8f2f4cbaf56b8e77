#include "stream/zlib_inflater.h"

#include <isa-l/igzip_lib.h>
#include <libdeflate.h>

#include <new>

#include "common/simd.h"

#if GLIMRA_X86
#include <immintrin.h>

namespace {

// ISA-L's AVX-512 and AVX2 decoders return with the upper halves of the
// vector registers in use. Until they are cleared every SSE instruction
// that follows (our unfiltering, all of it) pays for the mixed state:
// the rows took twice as long to unfilter after ISA-L as after libdeflate.
__attribute__((target("avx"))) void ClearUpperVectorHalves() {
    // vzeroupper: the upper 128 bits of every YMM/ZMM register become 0
    _mm256_zeroupper();
}

void LeaveVectorStateClean() {
    if (ProcessorHasAvx()) {
        ClearUpperVectorHalves();
    }
}

}  // namespace
#else
namespace {
void LeaveVectorStateClean() {}
}  // namespace
#endif

bool ZlibHeaderValid(std::uint8_t cmf, std::uint8_t flg) {
    const bool checked = (static_cast<unsigned>(cmf) * 256 + flg) % 31 == 0;
    return (cmf & 0x0F) == 8 && (cmf >> 4) <= 7 && checked && (flg & 0x20) == 0;
}

ZlibInflater::ZlibInflater() : state(new (std::nothrow) inflate_state) {
    if (state != nullptr) {
        // Raw deflate: the header is checked in Give, and the Adler-32 of
        // what is made is summed by libdeflate, twice as fast as ISA-L's
        // own (an eighth of a large screenshot's inflating time).
        isal_inflate_init(state.get());
        state->crc_flag = ISAL_DEFLATE;
    }
}

ZlibInflater::~ZlibInflater() = default;

void ZlibInflater::Give(const std::uint8_t* bytes, std::size_t size) {
    if (!headerChecked) {
        headerChecked = true;
        broken = size < 2 || !ZlibHeaderValid(bytes[0], bytes[1]);
        if (broken) {
            return;
        }
        bytes += 2;
        size -= 2;
    }
    state->next_in = const_cast<std::uint8_t*>(bytes);
    state->avail_in = static_cast<std::uint32_t>(size);
}

bool ZlibInflater::NeedsInput() const { return state->avail_in == 0 && !ended && !broken; }

std::size_t ZlibInflater::Inflate(std::uint8_t* out, std::size_t room) {
    if (ended || broken || room == 0) {
        return 0;
    }
    state->next_out = out;
    state->avail_out = static_cast<std::uint32_t>(room);
    int result = isal_inflate(state.get());
    LeaveVectorStateClean();
    const std::size_t made = room - state->avail_out;
    adler = static_cast<std::uint32_t>(libdeflate_adler32(adler, out, made));
    if (result >= 0 && state->block_state == ISAL_BLOCK_FINISH && state->crc_flag == ISAL_DEFLATE) {
        // The last block is done: ISA-L reads the trailer from where the
        // deflate data ended (its bit buffer, then the input) and holds it
        // against our sum; a trailer not all given yet, in the calls after.
        state->crc = adler;
        state->crc_flag = ISAL_ZLIB_NO_HDR_VER;
        state->block_state = ISAL_CHECKSUM_CHECK;
        result = isal_inflate(state.get());
    }
    broken = result < 0;
    ended = !broken && state->block_state == ISAL_BLOCK_FINISH;
    return made;
}

std::size_t ZlibInflater::BytesBeyondEnd() const {
    // ISA-L reads ahead into its bit buffer: those bytes were given too.
    return state->avail_in + static_cast<std::size_t>(state->read_in_length) / 8;
}
