#pragma once
#include <QString>

#include <array>

// The emoticon palette's twelve pages and their files under "\顔文字データ\".
namespace hm::emoticons {

struct PageInfo {
    const char* caption;
    const char* box;       // name of the page's text box
    const char* readName;  // file read on opening
    const char* writeName; // file written on closing (the same file: names compare without case)
    const char* insertButton;
    const char* pasteButton;
    const char* favouriteButton; // nullptr on the favourites page
};

constexpr int kPageCount = 12;
constexpr int kFavouritesPage = 11;
extern const std::array<PageInfo, kPageCount> kPages;

// Real path of a page file, through the program's one path resolver.
QString PagePath(const char* name);

// The text of a page file (CP932, any line end); empty when it is missing or cannot be read.
QString ReadPage(int page);
// Replaces the page's write file with text (LF line ends become CR LF) through a temporary
// file. False when it could not be written; the old file is then untouched.
bool WritePage(int page, const QString& text);

} // namespace hm::emoticons
