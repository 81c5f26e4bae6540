#include "plot/plot_output.h"

#include <cctype>
#include <cstdio>
#include <memory>

#include "platform/atomic_file.h"
#include "platform/host_path.h"
#include "platform/viewer.h"

int WritePlotImage(GdImage image, const std::string& outputPath) {
    if (!image)
        return 0;
    gdImageInterlace(image.get(), 1);
    // Written beside the target and renamed over it only when whole: a failed or killed write
    // keeps the earlier picture, and runs writing the same name never mix their bytes.
    AtomicFile out(MapHostPath(outputPath));
    if (!out.IsOpen())
        return 0;
    // Both writers report nothing: a failed write (a full disk) only shows in the stream's
    // error flag or when the buffered rest is flushed on committing.
    if (NamesPng(outputPath))
        gdImagePngEx(image.get(), out.Stream(), -1);
    else
        gdImageGif(image.get(), out.Stream());
    image.reset();
    return out.Commit() ? 1 : 0;
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
