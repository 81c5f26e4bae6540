// Fuzzes the web page's reading of image descriptions: JSON text of any shape, held in memory,
// one to three files of it. The last input byte chooses how many files; the texts come from the
// front, the last one taking what is left, so a plain description file is a seed as it is.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "web/index_page.h"

namespace {

// The elements the page is made of; any other '<' would have come from a description.
const char* const PAGE_TAGS[] = {
    "!DOCTYPE",    "html",    "/html",  "head", "/head", "meta", "title",
    "/title",      "style",   "/style", "body", "/body", "h1",   "/h1",
    "figure",      "/figure", "img",    "map",  "/map",  "area", "figcaption",
    "/figcaption", "div",     "/div",   "span", "/span"};

bool StartsPageTag(const std::string& page, std::size_t at) {
    for (const char* tag : PAGE_TAGS) {
        const std::string name(tag);
        if (page.compare(at + 1, name.size(), name) == 0) {
            const std::size_t after = at + 1 + name.size();
            if (after < page.size() && (page[after] == ' ' || page[after] == '>'))
                return true;
        }
    }
    return false;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    const int files = provider.ConsumeIntegralInRange(1, 3);
    std::vector<DescriptionText> texts;
    for (int i = 0; i < files; ++i) {
        const std::string name = "d" + std::to_string(i) + ".json";
        texts.push_back(DescriptionText{name, i + 1 < files
                                                  ? provider.ConsumeRandomLengthString()
                                                  : provider.ConsumeRemainingBytesAsString()});
    }
    PageSettings settings;
    settings.title = "<title & \"quotes\">";
    settings.pictureFolder = "../pics/";

    PageContents contents;
    const std::string page = BuildIndexPageFromTexts(texts, settings, contents);
    FUZZ_CHECK(contents.pictures >= 0 && contents.pictures <= files);
    FUZZ_CHECK(contents.pictures + static_cast<int>(contents.skipped.size()) == files);
    FUZZ_CHECK(Count(page, "<figure>") == static_cast<std::size_t>(contents.pictures));
    FUZZ_CHECK(page.rfind("<!DOCTYPE html>\n<html lang=\"en\">\n", 0) == 0);
    const std::string ending = "</body>\n</html>\n";
    FUZZ_CHECK(page.size() >= ending.size() &&
               page.compare(page.size() - ending.size(), ending.size(), ending) == 0);
    // Every text of a description is escaped: no element of the page comes from one.
    for (std::size_t at = page.find('<'); at != std::string::npos; at = page.find('<', at + 1))
        FUZZ_CHECK(StartsPageTag(page, at));

    // The page depends on the texts alone.
    PageContents again;
    FUZZ_CHECK(BuildIndexPageFromTexts(texts, settings, again) == page);
    FUZZ_CHECK(again.skipped == contents.skipped);
    return 0;
}
