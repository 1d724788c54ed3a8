// TDataXStorage: the updater. It loads an existing file with the reader,
// takes its header values, removes the old header block and the closing
// line, writes a fresh header block, and then accepts new elements as the
// writer does; FinalizeXDataFile saves the file again under its name.

#include <algorithm>
#include <cctype>
#include <string_view>

#include "container/UDataXStorage.h"
#include "platform/FileIO.h"

namespace kwd::container {

namespace {

constexpr int32_t kStateClosed = 0;
constexpr int32_t kStateUpdating = 3;
constexpr int32_t kHeaderBlockLines = 7;  // "<Header>" to "</Header>"

// Whether a line holds nothing but characters up to the blank.
bool isBlankLine(const std::string& line) {
    for (char c : line)
        if (static_cast<unsigned char>(c) > static_cast<unsigned char>(' ')) return false;
    return true;
}

// Whether a line is the file's closing line, blanks around it aside: the
// closing tag of the magic line's name, letter case ignored as the magic
// line's is (a file that began with the alternative magic line may close
// with either name).
bool isClosingLine(const std::string& line) {
    size_t b = 0, e = line.size();
    while (b < e && static_cast<unsigned char>(line[b]) <= static_cast<unsigned char>(' ')) ++b;
    while (e > b && static_cast<unsigned char>(line[e - 1]) <= static_cast<unsigned char>(' ')) --e;
    const std::string_view text(line.data() + b, e - b);
    const auto same = [&text](std::string_view closing) {
        return text.size() == closing.size() &&
               std::equal(text.begin(), text.end(), closing.begin(), [](char x, char y) {
                   return std::tolower(static_cast<unsigned char>(x)) ==
                          std::tolower(static_cast<unsigned char>(y));
               });
    };
    return same(TDataXStorage::kClosingLine) || same("</ZML ZAKO-RIN_Datafile>");
}

}  // namespace

int32_t TDataXStorage::InitXFileUpdater(const std::string& nameXfile) {
    _DataXStreamFilename.clear();
    _DataXFileState = kStateClosed;
    if (!kwd::fileExists(nameXfile)) return -1;
    // Loads the lines (and remembers their text encoding), repairs an older
    // header layout and builds the element index; the path is kept for saving.
    InitXFileReader(nameXfile);

    TDataXInfo header;  // the object's own header record stays as it is
    Collectelements("Header");
    header.ContentInfo = GetTagValueAsString(0, "filetype", "");
    header.Version = GetTagValueAsInt(0, "version", 0);
    header.Remark = GetTagValueAsString(0, "remark", "");
    header.EncryptionLevel = GetTagValueAsInt(0, "encryptionlevel", 0);
    StripElements("Header");

    // The last line is the file's closing line. Empty lines behind it carry
    // nothing; were one of them taken for the closing line, the old closing
    // line would end up in front of the new elements and hide them from
    // every reader. A file that lacks its closing line keeps its last line:
    // it may be the last element's closing tag.
    while (!_DataXStream.empty() && isBlankLine(_DataXStream.back())) _DataXStream.pop_back();
    if (!_DataXStream.empty() && isClosingLine(_DataXStream.back())) _DataXStream.pop_back();

    _DataXFileState = kStateUpdating;
    // The header block goes in behind the magic line and moves the index
    // entries from entry 1 on. The stripped header has left the index, so
    // entry 0 is an element behind the magic line as well and moves too.
    WriteHeaderBlock(header);
    if (_nrElementIndex > 0) {
        TElementIndex& first = _ElementIndex[0];
        if (first.StreamStartPos >= 1) first.StreamStartPos += kHeaderBlockLines;
        if (first.StreamEndPos >= 1) first.StreamEndPos += kHeaderBlockLines;
    }
    _thisElementTag.clear();
    return 1;
}

int32_t TDataXStorage::StripElements(const std::string& _elementname) {
    if (_nrElementIndex == 0) {
        BuildElementIndex();
        if (_nrElementIndex == 0) return -1;
    }
    const auto lineCount = [this] { return int32_t(_DataXStream.size()); };
    int32_t removed = 0;
    for (int32_t k = _nrElementIndex - 1; k >= 0; --k) {
        const TElementIndex entry = _ElementIndex[size_t(k)];
        if (entry.ElementName != _elementname) continue;
        // An element whose closing line was never found stays in place.
        if (entry.StreamStartPos < 0 || entry.StreamEndPos < entry.StreamStartPos ||
            entry.StreamEndPos >= lineCount())
            continue;
        const int32_t count = entry.StreamEndPos - entry.StreamStartPos + 1;
        _DataXStream.erase(_DataXStream.begin() + entry.StreamStartPos,
                           _DataXStream.begin() + entry.StreamEndPos + 1);
        // The removed element leaves the index too, so that a later strip or
        // collection never meets its stale line positions.
        _ElementIndex.erase(_ElementIndex.begin() + k);
        --_nrElementIndex;
        ShiftElementIndex(k, -count);
        ++removed;
    }
    return removed;
}

}  // namespace kwd::container
