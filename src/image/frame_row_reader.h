// A picture the library reads, handed on as rows from its frame. The
// library gives whole pictures only, so its frame is what such a picture
// costs; the other picture of its pair can still come as a stream.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "image/image.h"
#include "stream/row_reader.h"

class FrameRowReader : public RowReader {
public:
    FrameRowReader(std::FILE* file, std::uint64_t maxPixels, bool deepSamples);
    ~FrameRowReader() override;
    FrameRowReader(const FrameRowReader&) = delete;
    FrameRowReader& operator=(const FrameRowReader&) = delete;

    // Reads the whole picture. Declines what the library refuses, leaving
    // the run of whole pictures to say why in its own order, and float
    // samples, which only whole pictures compare.
    const char* Start() override;
    const RowFacts& Facts() const override { return facts; }
    const char* ReadRows(std::uint32_t count, const RowsOut& out) override;
    const char* Finish() override { return nullptr; }

private:
    std::FILE* file;
    std::uint64_t maxPixels;
    bool deepSamples;
    Image* image = nullptr;
    RowFacts facts;
    std::uint32_t nextRow = 0;
};

// Our own row reader for `file`, or where its format is not ours, the
// library's picture as rows.
std::unique_ptr<RowReader> OpenRowReader(std::FILE* file, std::uint64_t maxPixels, bool deepSamples);
