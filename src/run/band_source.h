// The bands of rows a streamed comparison takes from each picture: each
// band held as a picture of that many rows, so that every kernel and
// measure made for pictures takes it as it is.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "image/image.h"
#include "stream/row_reader.h"

// A band of rows of one picture. Its planes hold what the reader delivers
// beside the 24-bit form; read in two steps, its `storedRoom` holds the
// rows as stored (`storedRoomBytes` of them), and `stored` says where they
// are, until they are turned into `image`.
class Band {
public:
    Band(const RowFacts& facts, bool deepSamples, std::int32_t rows, std::size_t storedRoomBytes = 0);
    ~Band();
    Band(const Band&) = delete;
    Band& operator=(const Band&) = delete;

    // The last band may be shorter: the bytes past its payload become the
    // zero tail the kernels rely on.
    void SetRows(std::int32_t rows);
    // Where rows go from row `first` on.
    RowsOut Out(std::int32_t first = 0) const;
    // Rows [from, from + count) of `source`, a band of the same picture
    // (this one too), become rows [0, count) here.
    void CopyRows(const Band& source, std::int32_t from, std::int32_t count);

    Image* image;
    std::unique_ptr<std::uint8_t[]> storedRoom;
    StoredRows stored;
    std::int32_t storedCount = 0;  // rows in `stored` not yet turned

private:
    std::int32_t fullRows;
};

// The bands of one picture in order, `bandRows` new rows each (the last
// may have fewer), read here when asked for or, `ahead`, by a thread of
// its own one band ahead of the one being compared: two pictures then
// take both cores. The reader has started; the bands end with its Finish.
//
// With `carriedRows`, each band begins with up to that many rows of the
// band before it, for a measure that looks beyond a row's neighbours.
// Otherwise, `stored`, a reader with a stored form reads each band in two
// steps (RowReader::StoredForm): the band's stored rows first, turned only
// when Picture asks for them, on the thread that asks.
class BandSource {
public:
    BandSource(RowReader& reader, bool deepSamples, std::int32_t bandRows, bool ahead, std::int32_t carriedRows = 0,
               bool stored = false);
    ~BandSource();
    BandSource(const BandSource&) = delete;
    BandSource& operator=(const BandSource&) = delete;

    // On to the next band; false with `reason` saying why the file is
    // declined.
    bool Advance(const char*& reason);
    // The band Advance reached: its rows as stored (read in two steps),
    // and as a picture.
    const StoredRows& Stored() const { return Current().stored; }
    const Image* Picture();
    // Whether bands read from now on are turned as they are read, on the
    // thread that reads them, or only when Picture asks (at first).
    void TurnAsRead(bool turn) { turnAsRead = turn; }
    // The picture row of row 0 of that band, and how many rows it has.
    std::int32_t Top() const { return nextTop - bandRows - Carried(nextTop - bandRows); }
    std::int32_t Rows() const {
        const std::int32_t top = nextTop - bandRows;
        return std::min(bandRows, height - top) + Carried(top);
    }
    // Done with the band Advance reached: its room may take the one after
    // next.
    void Release();
    // After the last band: what the reader's Finish said.
    const char* Finish();

private:
    // Rows carried into the band whose new rows start at `top`.
    std::int32_t Carried(std::int32_t top) const { return std::min(carriedRows, top); }
    const char* Read(Band& band, const Band& before, std::int32_t top);
    void ReadAhead();
    int CurrentRoom() const;
    const Band& Current() const { return bands[CurrentRoom()]; }

    RowReader& reader;
    const std::int32_t height;
    const std::int32_t bandRows;
    const std::int32_t carriedRows;
    const bool twoSteps;
    std::atomic<bool> turnAsRead{false};
    Band bands[2];
    std::int32_t nextTop = 0;  // the first new row of the band Advance reaches next
    // Shared with the thread, under `lock`.
    std::mutex lock;
    std::condition_variable changed;
    bool ready[2] = {false, false};
    bool stop = false;
    bool done = false;          // the thread has read its last band
    const char* reason = nullptr;
    std::thread thread;
};
