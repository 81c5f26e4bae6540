#include "archive/segment_reader.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <system_error>

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

// Converts n stored samples of type Stored into floats, in order.
template <typename Stored>
void DecodeSamples(const unsigned char* __restrict bytes, float* __restrict destination,
                   std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        destination[i] = static_cast<float>(LoadLittleEndian<Stored>(bytes + i * sizeof(Stored)));
}

bool IsKnownDatatype(int datatype) {
    return datatype == 0 || datatype == 1 || datatype == 2 || datatype == 3 || datatype == 5;
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

FileHandle OpenSegmentFile(const std::string& dataDir, const std::string& cpath) {
    std::string windowsPath = dataDir;
    if (windowsPath.empty() || windowsPath.back() != '\\')
        windowsPath += '\\';
    windowsPath += cpath;
    const std::string hostPath = MapHostPath(windowsPath);

    // A folder opens fine for reading on Linux and then fails every read; a FIFO or device
    // could block the run. Only regular files are segment files.
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::status(hostPath, error)))
        return FileHandle();
    // A read-only stdio stream takes no lock, so the acquisition system keeps writing.
    return FileHandle(std::fopen(hostPath.c_str(), "rb"));
}

void ReadSegmentSamples(std::FILE* file, long long byteOffset, float* destination, int count,
                        int datatype) {
    if (file == nullptr || destination == nullptr || byteOffset < 0 || count <= 0)
        return;
    // Bytes of an unknown encoding would be read only to be thrown away.
    if (!IsKnownDatatype(datatype))
        return;
    if (byteOffset > static_cast<long long>(std::numeric_limits<off_t>::max()))
        return;

    const std::size_t width = static_cast<std::size_t>(SampleWidth(datatype));
    const std::size_t wanted = static_cast<std::size_t>(count) * width;
    // One read into a buffer of exactly the size asked for; a window too large to hold is
    // left as zeros rather than ending the run.
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[wanted]);
    if (!buffer)
        return;
    if (fseeko(file, static_cast<off_t>(byteOffset), SEEK_SET) != 0)
        return;
    const std::size_t received = std::fread(buffer.get(), 1, wanted, file);
    // A trailing partial sample is not a sample.
    const std::size_t n = received / width;

    switch (datatype) {
        case 0:
            DecodeSamples<std::int8_t>(buffer.get(), destination, n);
            break;
        case 1:
            DecodeSamples<std::int16_t>(buffer.get(), destination, n);
            break;
        case 2:
            DecodeSamples<std::int32_t>(buffer.get(), destination, n);
            break;
        case 3:
            if constexpr (HOST_LITTLE_ENDIAN)
                std::memcpy(destination, buffer.get(), n * sizeof(float));
            else
                DecodeSamples<float>(buffer.get(), destination, n);
            break;
        case 5:
            DecodeSamples<std::uint16_t>(buffer.get(), destination, n);
            break;
        default:
            break;
    }
}
