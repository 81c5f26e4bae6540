#include "archive/segment_reader.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#include "platform/file_handle.h"
#include "platform/host_path.h"

namespace {

constexpr bool HOST_LITTLE_ENDIAN = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

// The unsigned integer of a stored sample's size, used to assemble it byte by byte.
template <std::size_t Size>
struct UnsignedOfSize;
template <>
struct UnsignedOfSize<2> {
    using Type = std::uint16_t;
};
template <>
struct UnsignedOfSize<4> {
    using Type = std::uint32_t;
};

// Reads one little-endian value of type Stored from bytes. On a little-endian host this is
// a plain load, which lets the decode loops below vectorise.
template <typename Stored>
Stored LoadLittleEndian(const unsigned char* bytes) {
    Stored value;
    if constexpr (HOST_LITTLE_ENDIAN || sizeof(Stored) == 1) {
        std::memcpy(&value, bytes, sizeof value);
    } else {
        using Unsigned = typename UnsignedOfSize<sizeof(Stored)>::Type;
        Unsigned assembled = 0;
        for (std::size_t i = sizeof(Stored); i-- > 0;)
            assembled = static_cast<Unsigned>((assembled << 8) | bytes[i]);
        std::memcpy(&value, &assembled, sizeof value);
    }
    return value;
}

// Samples converted per step of DecodeInPlace.
constexpr std::size_t DECODE_BLOCK = 64;

// Converts n stored samples of type Stored into floats in place. The read that brought them
// filled m floats of destination (n <= m), its samples placed from byte first = m x (4 -
// width) on, so that narrow samples occupy the end of those floats. Sample i goes to float
// i: each block is copied out before its floats are written, and the floats of samples
// 0 .. i - 1 end at byte 4 i <= first + i x width, so no float lands on a stored sample
// still to be converted.
template <typename Stored>
void DecodeInPlace(float* destination, std::size_t first, std::size_t n) {
    unsigned char* bytes = reinterpret_cast<unsigned char*>(destination);
    std::size_t i = 0;
    if constexpr (sizeof(Stored) == sizeof(float)) {
        // Each float replaces its own stored sample (first is 0): a plain vectorised loop.
        for (; i < n; ++i) {
            const float value =
                static_cast<float>(LoadLittleEndian<Stored>(bytes + i * sizeof(Stored)));
            std::memcpy(destination + i, &value, sizeof value);
        }
        return;
    }
    // Whole blocks are copied out with a size known here, which the compiler turns into a
    // few vector moves before a vectorised conversion.
    for (; i + DECODE_BLOCK <= n; i += DECODE_BLOCK) {
        unsigned char stored[DECODE_BLOCK * sizeof(Stored)];
        std::memcpy(stored, bytes + first + i * sizeof(Stored), sizeof stored);
        for (std::size_t j = 0; j < DECODE_BLOCK; ++j) {
            const float value =
                static_cast<float>(LoadLittleEndian<Stored>(stored + j * sizeof(Stored)));
            std::memcpy(destination + i + j, &value, sizeof value);
        }
    }
    for (; i < n; ++i) {
        const float value =
            static_cast<float>(LoadLittleEndian<Stored>(bytes + first + i * sizeof(Stored)));
        std::memcpy(destination + i, &value, sizeof value);
    }
}

// Returns how many whole samples of width bytes the file holds from byteOffset on, at most
// count. A stream whose end cannot be found is asked for all count.
std::size_t SamplesAvailable(std::FILE* file, long long byteOffset, std::size_t count,
                             std::size_t width) {
    const long long size = StreamFileSize(file);
    if (size < 0)
        return count;
    if (size <= byteOffset)
        return 0;
    const auto available = static_cast<unsigned long long>(size - byteOffset) / width;
    return available < count ? static_cast<std::size_t>(available) : count;
}

bool IsKnownDatatype(int datatype) {
    return datatype == 0 || datatype == 1 || datatype == 2 || datatype == 3 || datatype == 5;
}

// True when a path has a ".." component, with either separator.
bool ClimbsUp(const std::string& path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of("\\/", start);
        if (end == std::string::npos)
            end = path.size();
        if (end - start == 2 && path.compare(start, 2, "..") == 0)
            return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

int SampleWidth(int datatype) {
    switch (datatype) {
        case 0:
            return 1;
        case 1:
        case 5:
            return 2;
        default:
            return 4;
    }
}

FileHandle OpenSegmentFile(const std::string& dataDir, const std::string& cpath,
                           HostPathMapper* mapper) {
    // Segment files lie under the data directory; a catalogue path that climbs out of it
    // names no segment file.
    if (ClimbsUp(cpath))
        return FileHandle();
    std::string windowsPath = dataDir;
    if (windowsPath.empty() || windowsPath.back() != '\\')
        windowsPath += '\\';
    windowsPath += cpath;
    const std::string hostPath =
        mapper != nullptr ? mapper->Map(windowsPath) : MapHostPath(windowsPath);

    // A folder opens fine for reading on Linux and then fails every read; a FIFO or device
    // could block the run. Only regular files are segment files.
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::status(hostPath, error)))
        return FileHandle();
    // A read-only stdio stream takes no lock, so the acquisition system keeps writing.
    FileHandle file(std::fopen(hostPath.c_str(), "rb"));
    // A segment is read with a single call at its offset, which a stream buffer would only
    // split.
    if (file)
        std::setvbuf(file.get(), nullptr, _IONBF, 0);
    return file;
}

int ReadSegmentSamples(std::FILE* file, long long byteOffset, float* destination, int count,
                       int datatype) {
    if (file == nullptr || destination == nullptr || byteOffset < 0 || count <= 0)
        return 0;
    // Bytes of an unknown encoding would be read only to be thrown away.
    if (!IsKnownDatatype(datatype))
        return 0;
    if (byteOffset > static_cast<long long>(std::numeric_limits<off_t>::max()))
        return 0;

    const std::size_t width = static_cast<std::size_t>(SampleWidth(datatype));
    const std::size_t wanted =
        SamplesAvailable(file, byteOffset, static_cast<std::size_t>(count), width);
    if (wanted == 0)
        return 0;
    // One read straight into the destination, without a buffer of its own: samples as wide
    // as a float overlay their floats, narrower ones are read into the end of the floats
    // they become and converted forward (see DecodeInPlace). Floats beyond the samples the
    // file holds are not touched.
    const std::size_t first = wanted * (sizeof(float) - width);
    unsigned char* bytes = reinterpret_cast<unsigned char*>(destination);
    const std::size_t received = ReadStreamAt(file, byteOffset, bytes + first, wanted * width);
    // A trailing partial sample is not a sample.
    const std::size_t n = received / width;

    switch (datatype) {
        case 0:
            DecodeInPlace<std::int8_t>(destination, first, n);
            break;
        case 1:
            DecodeInPlace<std::int16_t>(destination, first, n);
            break;
        case 2:
            DecodeInPlace<std::int32_t>(destination, first, n);
            break;
        case 3:
            // Floats already lie in place on a little-endian host.
            if constexpr (!HOST_LITTLE_ENDIAN)
                DecodeInPlace<float>(destination, first, n);
            break;
        case 5:
            DecodeInPlace<std::uint16_t>(destination, first, n);
            break;
        default:
            break;
    }
    // A read that ended early (the file shrank since its size was taken, or failed) left
    // stray bytes among the floats it should have filled; they become the zeros the caller
    // put there.
    if (n < wanted)
        std::memset(destination + n, 0, (wanted - n) * sizeof(float));
    return static_cast<int>(n);
}
