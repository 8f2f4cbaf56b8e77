#include "run/band_source.h"

#include <algorithm>
#include <cstring>
#include <new>

Band::Band(const RowFacts& facts, bool deepSamples, std::int32_t rows, std::size_t storedRoomBytes)
    : image(CreateImage(static_cast<std::int32_t>(facts.width), rows)), fullRows(rows) {
    const auto width = static_cast<std::int32_t>(facts.width);
    image->storesAlpha = deepSamples && facts.transparency;
    if (facts.alphaRows) {
        image->alpha = static_cast<std::uint8_t*>(AllocatePlane(AlphaPlaneSize(width, rows)));
    }
    if (facts.wide) {
        image->samples = Samples::Bits16;
        image->deep = AllocatePlane(DeepPlaneSize(width, rows, Samples::Bits16));
    }
    if (storedRoomBytes > 0) {
        storedRoom.reset(new (std::nothrow) std::uint8_t[storedRoomBytes]);
    }
    if ((facts.alphaRows && image->alpha == nullptr) || (facts.wide && image->deep == nullptr) ||
        (storedRoomBytes > 0 && storedRoom == nullptr)) {
        DestroyImage(image);
        FailOutOfMemory(width, rows);
    }
}

Band::~Band() {
    image->height = fullRows;
    DestroyImage(image);
}

void Band::SetRows(std::int32_t rows) {
    image->height = rows;
    const std::size_t payload = ImagePayloadSize(image->width, rows);
    std::memset(image->pixels + payload, 0, ImageBufferSize(image->width, rows) - payload);
}

RowsOut Band::Out(std::int32_t first) const {
    const auto width = static_cast<std::size_t>(image->width);
    const auto row = static_cast<std::size_t>(first);
    RowsOut out;
    out.pixels = image->pixels + row * width * 3;
    out.pixelStride = width * 3;
    out.alpha = image->alpha == nullptr ? nullptr : image->alpha + row * width;
    out.alphaStride = width;
    out.wide = image->deep == nullptr ? nullptr : static_cast<std::uint16_t*>(image->deep) + row * width * 4;
    out.wideStride = width * 4;
    return out;
}

void Band::CopyRows(const Band& source, std::int32_t from, std::int32_t count) {
    const RowsOut to = Out(0);
    const RowsOut in = source.Out(from);
    const auto rows = static_cast<std::size_t>(count);
    // The source may be this band: memmove.
    std::memmove(to.pixels, in.pixels, rows * to.pixelStride);
    if (to.alpha != nullptr) {
        std::memmove(to.alpha, in.alpha, rows * to.alphaStride);
    }
    if (to.wide != nullptr) {
        std::memmove(to.wide, in.wide, rows * to.wideStride * sizeof(std::uint16_t));
    }
}

namespace {

// What a band's stored rows need, where it is read in two steps.
std::size_t RoomBytes(const RowReader& reader, bool twoSteps, std::int32_t rows) {
    return twoSteps ? reader.StoredRoomBytes(static_cast<std::uint32_t>(rows)) : 0;
}

}  // namespace

BandSource::BandSource(RowReader& rowReader, bool deepSamples, std::int32_t rows, bool ahead, std::int32_t carried,
                       bool stored)
    : reader(rowReader), height(static_cast<std::int32_t>(rowReader.Facts().height)), bandRows(rows),
      carriedRows(carried), twoSteps(stored && carried == 0 && rowReader.StoredForm() != 0),
      bands{Band(rowReader.Facts(), deepSamples, rows + carried, RoomBytes(rowReader, twoSteps, rows)),
            Band(rowReader.Facts(), deepSamples, ahead ? rows + carried : 1,
                 RoomBytes(rowReader, twoSteps && ahead, rows))} {
    if (ahead) {
        thread = std::thread([this] { ReadAhead(); });
    }
}

BandSource::~BandSource() {
    if (thread.joinable()) {
        {
            const std::lock_guard<std::mutex> hold(lock);
            stop = true;
        }
        changed.notify_all();
        thread.join();
    }
}

// `before` holds the band before, which may be `band` itself.
const char* BandSource::Read(Band& band, const Band& before, std::int32_t top) {
    const std::int32_t carried = Carried(top);
    if (carried > 0) {
        band.CopyRows(before, before.image->height - carried, carried);
    }
    const std::int32_t rows = std::min(bandRows, height - top);
    if (twoSteps) {
        const bool turn = turnAsRead;
        if (turn) {
            band.SetRows(rows);
        }
        const RowsOut out = band.Out();
        band.storedCount = turn ? 0 : rows;
        return reader.ReadStoredRows(static_cast<std::uint32_t>(rows), band.storedRoom.get(), band.stored,
                                     turn ? &out : nullptr);
    }
    band.SetRows(carried + rows);
    return reader.ReadRows(static_cast<std::uint32_t>(rows), band.Out(carried));
}

// Band k goes into room k % 2 once the comparison has released it.
void BandSource::ReadAhead() {
    int room = 0;
    for (std::int32_t top = 0; top < height; top += bandRows, room ^= 1) {
        {
            std::unique_lock<std::mutex> hold(lock);
            changed.wait(hold, [&] { return stop || !ready[room]; });
            if (stop) {
                return;
            }
        }
        const char* why = Read(bands[room], bands[room ^ 1], top);
        {
            const std::lock_guard<std::mutex> hold(lock);
            ready[room] = why == nullptr;
            reason = why;
        }
        changed.notify_all();
        if (why != nullptr) {
            return;
        }
    }
    const char* why = reader.Finish();
    {
        const std::lock_guard<std::mutex> hold(lock);
        reason = why;
        done = true;
    }
    changed.notify_all();
}

bool BandSource::Advance(const char*& why) {
    const std::int32_t top = nextTop;
    nextTop += bandRows;
    if (!thread.joinable()) {
        why = Read(bands[0], bands[0], top);
        return why == nullptr;
    }
    const int room = CurrentRoom();
    std::unique_lock<std::mutex> hold(lock);
    changed.wait(hold, [&] { return ready[room] || reason != nullptr; });
    why = ready[room] ? nullptr : reason;
    return ready[room];
}

// Stored rows are turned here, once, on the thread that wants them.
const Image* BandSource::Picture() {
    Band& band = bands[CurrentRoom()];
    if (band.storedCount > 0) {
        band.SetRows(band.storedCount);
        reader.ConvertStoredRows(band.stored, static_cast<std::uint32_t>(band.storedCount), band.Out());
        band.storedCount = 0;
    }
    return band.image;
}

// The room of the band Advance reached.
int BandSource::CurrentRoom() const {
    return thread.joinable() ? static_cast<int>(((nextTop - bandRows) / bandRows) % 2) : 0;
}

void BandSource::Release() {
    if (!thread.joinable()) {
        return;
    }
    const int room = CurrentRoom();
    {
        const std::lock_guard<std::mutex> hold(lock);
        ready[room] = false;
    }
    changed.notify_all();
}

const char* BandSource::Finish() {
    if (!thread.joinable()) {
        return reader.Finish();
    }
    std::unique_lock<std::mutex> hold(lock);
    changed.wait(hold, [&] { return done || reason != nullptr; });
    return reason;
}
