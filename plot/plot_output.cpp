#include "plot/plot_output.h"

#include <cctype>
#include <cstdio>
#include <memory>

#include "platform/file_handle.h"
#include "platform/host_path.h"
#include "platform/viewer.h"

int WritePlotImage(GdImage image, const std::string& outputPath) {
    if (!image)
        return 0;
    const std::string path = MapHostPath(outputPath);
    gdImageInterlace(image.get(), 1);
    FileHandle out(std::fopen(path.c_str(), "wb"));
    if (!out)
        return 0;
    // Both writers report nothing: a failed write (a full disk) only shows in the stream's
    // error flag or when the buffered rest is flushed on closing.
    if (NamesPng(outputPath))
        gdImagePngEx(image.get(), out.get(), -1);
    else
        gdImageGif(image.get(), out.get());
    const bool written = std::ferror(out.get()) == 0;
    const bool closed = std::fclose(out.release()) == 0;
    image.reset();
    if (written && closed)
        return 1;
    std::remove(path.c_str());
    return 0;
}

bool NamesPng(const std::string& outputPath) {
    static const char EXTENSION[] = ".png";
    const std::size_t length = sizeof EXTENSION - 1;
    if (outputPath.size() < length)
        return false;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = outputPath[outputPath.size() - length + i];
        if (std::tolower(static_cast<unsigned char>(c)) != EXTENSION[i])
            return false;
    }
    return true;
}

void PreviewPlotImage(const std::string& outputPath) { OpenInViewer(MapHostPath(outputPath)); }
