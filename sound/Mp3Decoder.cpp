// The music decoder on libmpg123: open, the full scan, exact seeks by the
// frame index, and reads clamped to the scanned length.
#include "Mp3Decoder.h"

#include "FSoundErrors.h"

#include <mpg123.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// Decodes with this synthesis routine where the library has it (every
// x86-64 CPU runs it), else the portable one: never a routine chosen by the
// CPU's features, whose rounding differs from machine to machine.
const char *const kSynthesis[] = {"x86-64", "generic"};

// True when the file exists and its first byte can be read (a folder or a
// file without read permission cannot).
bool IsReadableFile(const char *name)
{
    std::FILE *file = std::fopen(name, "rb");
    if (!file)
        return false;
    std::fgetc(file);
    const bool readable = !std::ferror(file);
    std::fclose(file);
    return readable;
}

mpg123_handle *NewHandle()
{
    static const bool initialised = (mpg123_init() == MPG123_OK); // a no-op on current versions
    (void)initialised;
    for (const char *synthesis : kSynthesis) {
        int error = MPG123_OK;
        if (mpg123_handle *handle = mpg123_new(synthesis, &error))
            return handle;
    }
    int error = MPG123_OK;
    return mpg123_new(nullptr, &error);
}

// Frames that a seek decodes and drops before its target, at the least and
// when the frames cannot be read.
constexpr int kMinPreframes = 2;
constexpr int kMaxPreframes = 32;
constexpr int kNoReservoir = -2; // a frame of Layer I or II

// Frame starts lie at most this far apart in a stream (the largest frame,
// free format at a low rate, is smaller).
constexpr off_t kMaxFrameBytes = 4096;
// Frames in a row that a stream has at least somewhere (or all its frames).
constexpr size_t kMinRun = 8;

// The scan searches the whole file for frames, so it finds a few false ones
// in any large file. A stream has frames that follow one another; this is
// true when some kMinRun frames in a row lie no further apart than a frame.
bool LooksLikeAStream(const off_t *offsets, size_t count, off_t step)
{
    if (step != 1 || count < 2)
        return count > 0;
    size_t run = 1, longest = 1;
    for (size_t i = 1; i < count; ++i) {
        run = offsets[i] - offsets[i - 1] <= kMaxFrameBytes ? run + 1 : 1;
        longest = std::max(longest, run);
    }
    return longest >= std::min(count, kMinRun);
}

} // namespace

// The file, read through a buffer: the library reads a frame in two small
// reads, and byte by byte while it searches for the next frame in garbage,
// which would otherwise be one system call each.
struct Mp3File
{
    int descriptor = -1;
    off_t size = 0;
    off_t position = 0;
    off_t bufferStart = 0;
    size_t buffered = 0;
    unsigned char buffer[65536];

    ~Mp3File()
    {
        if (descriptor >= 0)
            close(descriptor);
    }

    bool Open(const char *name)
    {
        descriptor = open(name, O_RDONLY | O_CLOEXEC);
        if (descriptor < 0)
            return false;
        size = lseek(descriptor, 0, SEEK_END);
        return size >= 0;
    }

    static ssize_t read(void *handle, void *to, size_t bytes)
    {
        Mp3File &file = *static_cast<Mp3File *>(handle);
        unsigned char *out = static_cast<unsigned char *>(to);
        size_t done = 0;
        while (done < bytes) {
            if (file.position >= file.bufferStart && file.position < file.bufferStart + static_cast<off_t>(file.buffered)) {
                const size_t at = static_cast<size_t>(file.position - file.bufferStart);
                const size_t n = std::min(bytes - done, file.buffered - at);
                std::memcpy(out + done, file.buffer + at, n);
                done += n;
                file.position += static_cast<off_t>(n);
                continue;
            }
            const ssize_t got = pread(file.descriptor, file.buffer, sizeof file.buffer, file.position);
            if (got <= 0)
                return done > 0 || got == 0 ? static_cast<ssize_t>(done) : -1;
            file.bufferStart = file.position;
            file.buffered = static_cast<size_t>(got);
        }
        return static_cast<ssize_t>(done);
    }

    static off_t seek(void *handle, off_t offset, int whence)
    {
        Mp3File &file = *static_cast<Mp3File *>(handle);
        const off_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? file.position : file.size;
        if (base + offset < 0)
            return -1;
        return file.position = base + offset;
    }

    // `bytes` bytes at `offset` (the side information of a frame).
    bool ReadAt(off_t offset, unsigned char *to, size_t bytes) const
    {
        return pread(descriptor, to, bytes, offset) == static_cast<ssize_t>(bytes);
    }
};

// Layer III frames take part of their data from earlier frames (the bit
// reservoir, up to 511 bytes back). This counts the frames before `frame`
// whose data it reaches into; kNoReservoir for Layers I and II, -1 when the
// frames cannot be read.
int Mp3Decoder::reservoirFrames(int64_t frame) const
{
    const std::vector<off_t> &index = frameIndex;
    if (step != 1 || frame < 0 || frame >= static_cast<int64_t>(index.size()))
        return -1;
    // Where frame k's side information ends and how far back its data
    // begins: 1, or 0 for a frame of another layer, -1 when unreadable.
    bool mpeg1 = true;
    const auto layout = [&](int64_t k, int &sideEnd, int &reach) {
        unsigned char bytes[8];
        if (!file->ReadAt(index[k], bytes, sizeof bytes) || bytes[0] != 0xff || (bytes[1] & 0xe0) != 0xe0)
            return -1;
        if (((bytes[1] >> 1) & 3) != 1)
            return 0;
        mpeg1 = ((bytes[1] >> 3) & 3) == 3;
        const bool mono = ((bytes[3] >> 6) & 3) == 3;
        const int start = (bytes[1] & 1) ? 4 : 6; // a CRC follows the header when the bit is 0
        reach = mpeg1 ? (bytes[start] << 1 | bytes[start + 1] >> 7) : bytes[start];
        sideEnd = start + (mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
        return 1;
    };
    int sideEnd = 0, reach = 0;
    const int kind = layout(frame, sideEnd, reach);
    if (kind <= 0)
        return kind < 0 ? -1 : kNoReservoir;
    int back = 0;
    for (int64_t k = frame - 1; k >= 0 && reach > 0 && back < kMaxPreframes; --k, ++back) {
        int ownReach = 0;
        if (layout(k, sideEnd, ownReach) < 0)
            return -1;
        reach -= static_cast<int>(index[k + 1] - index[k]) - sideEnd;
    }
    // MPEG-2 and 2.5 frames are half as long: one more for the margin.
    return mpeg1 ? back : back + 1;
}

// Frames to decode and drop before the frame that holds `frame`'s first
// sample (that frame or one of the next two, by the encoder's delay), so
// that it and the frame before it, whose overlap it adds, have all their
// data. The margin covers what the count from the side information misses
// (measured: up to two frames more, three for MPEG-2).
int Mp3Decoder::preframesFor(int64_t frame) const
{
    int needed = kMinPreframes;
    const int64_t delayFrames = (1152 + samplesPerFrame - 1) / samplesPerFrame;
    for (int64_t k = frame - 1; k <= frame + delayFrames; ++k) {
        const int reservoir = reservoirFrames(k);
        if (reservoir != kNoReservoir)
            needed = std::max(needed, reservoir < 0 ? kMaxPreframes / 4 : reservoir + 3);
    }
    return std::min(needed, kMaxPreframes);
}

bool Mp3Decoder::openHandle(const char *name, long rate)
{
    handle = NewHandle();
    if (!handle)
        return false;
    file = std::make_unique<Mp3File>();
    if (!file->Open(name) ||
        mpg123_replace_reader_handle(handle, Mp3File::read, Mp3File::seek, nullptr) != MPG123_OK)
        return false;
    // Gapless; tags are skipped, not parsed (a big picture costs nothing);
    // a rate change inside the file is resampled to the first rate.
    mpg123_param(handle, MPG123_FLAGS,
                 MPG123_GAPLESS | MPG123_QUIET | MPG123_SKIP_ID3V2 | MPG123_AUTO_RESAMPLE, 0.0);
    mpg123_param(handle, MPG123_RESYNC_LIMIT, -1, 0.0); // search on to the end of the file
    mpg123_param(handle, MPG123_INDEX_SIZE, -4096, 0.0); // one entry for every frame
    mpg123_format_none(handle);
    if (rate > 0) {
        mpg123_format(handle, rate, MPG123_STEREO, MPG123_ENC_FLOAT_32);
    } else {
        const long *rates = nullptr;
        size_t count = 0;
        mpg123_rates(&rates, &count);
        for (size_t i = 0; i < count; ++i)
            mpg123_format(handle, rates[i], MPG123_STEREO, MPG123_ENC_FLOAT_32);
    }
    return mpg123_open_handle(handle, file.get()) == MPG123_OK;
}

std::unique_ptr<Mp3Decoder> Mp3Decoder::Open(const char *name, int &error)
{
    if (!name || !IsReadableFile(name)) {
        error = FMOD_ERR_FILE_NOTFOUND;
        return nullptr;
    }
    std::unique_ptr<Mp3Decoder> decoder(new Mp3Decoder);
    decoder->fileName.assign(name, name + std::strlen(name) + 1);
    if (!decoder->openHandle(name, 0)) {
        error = decoder->handle ? FMOD_ERR_FILE_FORMAT : FMOD_ERR_MEMORY;
        return nullptr;
    }
    mpg123_handle *handle = decoder->handle;
    // The first frame's rate is the track's: fix the format to it.
    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_getformat(handle, &rate, &channels, &encoding) != MPG123_OK || rate <= 0) {
        error = FMOD_ERR_FILE_FORMAT; // not one decodable frame
        return nullptr;
    }
    mpg123_format_none(handle);
    mpg123_format(handle, rate, MPG123_STEREO, MPG123_ENC_FLOAT_32);
    // The full scan: the exact length and every frame in the index.
    off_t *offsets = nullptr;
    off_t step = 0;
    size_t fill = 0;
    if (mpg123_scan(handle) != MPG123_OK || mpg123_index(handle, &offsets, &step, &fill) != MPG123_OK) {
        error = FMOD_ERR_FILE_FORMAT;
        return nullptr;
    }
    const off_t length = mpg123_length(handle);
    if (length <= 0 || !LooksLikeAStream(offsets, fill, step)) {
        error = FMOD_ERR_FILE_FORMAT;
        return nullptr;
    }
    decoder->sampleRate = rate;
    decoder->sampleCount = length;
    decoder->samplesPerFrame = std::max(mpg123_spf(handle), 1);
    decoder->step = step > 0 ? step : 1;
    decoder->frameIndex.assign(offsets, offsets + fill);
    decoder->seek(0);
    return decoder;
}

std::unique_ptr<Mp3Decoder> Mp3Decoder::twin() const
{
    // A scan of its own (it is quick) leaves the twin in the very state of
    // this decoder; the settings that the scan fixes (such as trimming that
    // a damaged file's info tag cannot support) are then the same.
    int error = 0;
    std::unique_ptr<Mp3Decoder> twin = Open(fileName.data(), error);
    if (twin && (twin->sampleRate != sampleRate || twin->sampleCount != sampleCount))
        return nullptr; // another file under the name
    return twin;
}

Mp3Decoder::~Mp3Decoder()
{
    if (handle)
        mpg123_delete(handle); // before the file it reads
}

void Mp3Decoder::seek(int64_t sample)
{
    samplePosition = std::clamp<int64_t>(sample, 0, sampleCount);
    mpg123_param(handle, MPG123_PREFRAMES, preframesFor(samplePosition / samplesPerFrame), 0.0);
    exhausted = mpg123_seek(handle, static_cast<off_t>(samplePosition), SEEK_SET) < 0;
}

int Mp3Decoder::read(float *out, int frames)
{
    frames = std::max(frames, 0);
    const int inside = static_cast<int>(std::clamp<int64_t>(sampleCount - samplePosition, 0, frames));
    int filled = 0;
    int idle = 0; // reads in a row that brought nothing
    while (!exhausted && filled < inside) {
        size_t bytes = 0;
        const int result = mpg123_read(handle, reinterpret_cast<unsigned char *>(out + 2 * filled),
                                       static_cast<size_t>(inside - filled) * 2 * sizeof(float), &bytes);
        const int got = static_cast<int>(bytes / (2 * sizeof(float)));
        filled += got;
        idle = got > 0 ? 0 : idle + 1;
        if ((result != MPG123_OK && result != MPG123_NEW_FORMAT) || idle > 8)
            exhausted = true; // the end of the data, or a stream that breaks off
    }
    std::fill(out + 2 * filled, out + 2 * static_cast<size_t>(frames), 0.0f);
    samplePosition += inside;
    return inside;
}
