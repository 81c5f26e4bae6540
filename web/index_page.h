#pragma once

#include <string>
#include <vector>

// The settings of the web page that shows a folder of pictures.
struct PageSettings {
    std::string title = "trazplot";  // the page title, as written in the INI file
    int refreshSeconds = 300;        // the page reloads itself after this; 0 for never
    // The folder of the pictures as a relative reference from the page's folder, each name
    // ending in '/' ("../pics/"); empty when the page lies beside them.
    std::string pictureFolder;
};

// What building a page met: the descriptions shown, and the files skipped.
struct PageContents {
    int pictures = 0;                  // descriptions shown
    std::vector<std::string> skipped;  // .json files that are not one of our descriptions
};

// Builds the HTML5 page of every image description (*.json) in the host folder: one figure
// per picture, newest window first, each with its caption, a completeness badge per row and
// an image map of its rows, pick marks and gap bars. Files that are not descriptions of ours
// are skipped and listed in contents. Every text from the descriptions is HTML-escaped; the
// page refers to the pictures by settings.pictureFolder and their file names, percent-encoded
// and HTML-escaped, and fetches nothing else.
std::string BuildIndexPage(const std::string& folder, const PageSettings& settings,
                           PageContents& contents);

// One description as its file holds it.
struct DescriptionText {
    std::string fileName;  // the file's name, without its folder
    std::string text;      // the file's bytes
};

// Builds the page as BuildIndexPage does, from descriptions already read: the ones that are
// descriptions of ours newest window first (ties in the order given), the others listed in
// contents.skipped by their file names, in the order given.
std::string BuildIndexPageFromTexts(const std::vector<DescriptionText>& texts,
                                    const PageSettings& settings, PageContents& contents);

// Returns text with &, <, >, " and ' replaced by their character references.
std::string EscapeHtml(const std::string& text);

// Returns a relative URL path with every byte but letters, digits, '-', '.', '_', '~' and the
// '/' between folder names percent-encoded ("a b#1.gif" gives "a%20b%231.gif").
std::string EncodeUrlPath(const std::string& path);
