// TDataXStorage: object life, the writer and the routines that reader and
// writer share (line list, element index, header block).

#include "container/UDataXStorage.h"

#include <algorithm>
#include <charconv>

#include "platform/DateTime.h"
#include "platform/FileIO.h"
#include "platform/MessageSink.h"
#include "platform/RegionalSettings.h"

namespace kwd::container {

namespace {

constexpr int32_t kStateClosed = 0;
constexpr int32_t kStateWriting = 2;
constexpr int32_t kStateUpdating = 3;

const std::string kTagIndent = "     ";
const std::string kElementIndent = "  ";

std::string intText(int32_t value) {
    char buf[16];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, res.ptr);
}

}  // namespace

TDataXStorage::TDataXStorage() = default;

TDataXStorage::~TDataXStorage() = default;

// ---- shared -----------------------------------------------------------------

void TDataXStorage::Add2Stream(const std::string& s) {
    if (_ClosingLinePending) {
        // A failed save left the closing line behind; it moves to the end again.
        _DataXStream.pop_back();
        --_DataXStreamPointer;
        _ClosingLinePending = false;
    }
    _DataXStream.push_back(s);
    ++_DataXStreamPointer;
}

void TDataXStorage::AppendClosingLine() {
    if (!_ClosingLinePending) Add2Stream(kClosingLine);
    _ClosingLinePending = true;
}

int32_t TDataXStorage::LineCountOfStream() const { return int32_t(_DataXStream.size()); }

bool TDataXStorage::AtLastLine() const { return _DataXStreamPointer >= LineCountOfStream() - 1; }

void TDataXStorage::ShiftElementIndex(int32_t first, int32_t delta) {
    for (int32_t k = std::max(first, 0); k < _nrElementIndex; ++k) {
        TElementIndex& entry = _ElementIndex[size_t(k)];
        // An unset position (-1) stays unset.
        if (entry.StreamStartPos >= 0) entry.StreamStartPos += delta;
        if (entry.StreamEndPos >= 0) entry.StreamEndPos += delta;
    }
}

void TDataXStorage::WriteHeaderBlock(const TDataXInfo& header) {
    const std::string revision = kwd::regional::dateTimeText(kwd::nowLocal());
    const std::vector<std::string> lines = {
        "<Header>",
        "<filetype>" + header.ContentInfo + "</filetype>",
        "<version>" + intText(header.Version) + "</version>",
        "<revisiondate>" + revision + "</revisiondate>",
        "<remark>" + header.Remark + "</remark>",
        "<encryptionlevel>" + intText(header.EncryptionLevel) + "</encryptionlevel>",
        "</Header>",
    };
    const size_t at = std::min<size_t>(1, _DataXStream.size());
    _DataXStream.insert(_DataXStream.begin() + std::ptrdiff_t(at), lines.begin(), lines.end());
    ShiftElementIndex(1, int32_t(lines.size()));
}

TElement& TDataXStorage::OpenElement() {
    if (_Elements.size() < 2) _Elements.resize(2);
    return _Elements[1];
}

// ---- writer -----------------------------------------------------------------

void TDataXStorage::SetDataXFileMetadata(const TDataXInfo& metadata) { _headerdata = metadata; }

int32_t TDataXStorage::InitXFileWriter(const std::string& nameXfile) {
    _DataXStreamFilename.clear();
    _DataXFileState = kStateClosed;
    if (_headerdata.ContentInfo.empty()) {
        kwd::showMessage(
            "XFILE: You have not specified metadata for the file. Use SetDataXFileMetadata()");
        return -1;
    }
    _ClosingLinePending = false;
    _DataXStream.clear();
    _DataXStreamFilename = nameXfile;
    _DataXStreamPointer = 0;
    _DataXFileState = kStateWriting;
    _DataXEncoding = TDataXTextEncoding::Ansi;
    Add2Stream(kMagicLine);
    WriteHeaderBlock(_headerdata);
    _thisElementTag.clear();
    return 1;
}

void TDataXStorage::InitNewElement(const std::string& elementtag) {
    _thisElementTag = elementtag;
    TElement& element = OpenElement();
    element.Tags.clear();
    element.NrTags = 0;
}

int32_t TDataXStorage::StoreTag(TDataXData record) {
    if (_thisElementTag.empty()) return -1;
    TElement& element = OpenElement();
    element.NrTags = std::min(element.NrTags + 1, kMaxTags);
    const auto slot = size_t(element.NrTags - 1);
    if (element.Tags.size() <= slot)
        element.Tags.push_back(std::move(record));
    else
        element.Tags[slot] = std::move(record);  // beyond the 100th: the last one wins
    return element.NrTags;
}

int32_t TDataXStorage::AddTagAsString(const std::string& tagname, const std::string& tagvalue) {
    TDataXData record;
    record.Tag = tagname;
    record.Data = tagvalue;
    record.TagType = kTagPlain;
    return StoreTag(std::move(record));
}

int32_t TDataXStorage::AddTagAsInt(const std::string& tagname, int32_t tagvalue) {
    return AddTagAsString(tagname, intText(tagvalue));
}

int32_t TDataXStorage::AddTagAsFloat(const std::string& tagname, float tagvalue) {
    return AddTagAsString(tagname, FormatFloat5(tagvalue));
}

int32_t TDataXStorage::AddTagAsBool(const std::string& tagname, bool tagvalue) {
    return AddTagAsString(tagname, tagvalue ? "1" : "0");
}

int32_t TDataXStorage::AddTagAsFloatCollection(const std::string& tagname, int32_t ListCount,
                                               std::span<const float> FloatCollection) {
    const size_t count = std::min(size_t(std::max(ListCount, 0)), FloatCollection.size());
    std::string text;
    for (size_t k = 0; k < count; ++k) text += FormatFloat5(FloatCollection[k]) + ",";
    if (!text.empty()) text.pop_back();
    return AddTagAsString(tagname, text);
}

int32_t TDataXStorage::AddTagAsStringCollection(const std::string& tagname, int32_t ListCount,
                                                std::span<const std::string> StringCollection) {
    const size_t count = std::min(size_t(std::max(ListCount, 0)), StringCollection.size());
    std::string text;
    for (size_t k = 0; k < count; ++k) text += StringCollection[k] + ",";
    if (!text.empty()) text.pop_back();
    return AddTagAsString(tagname, text);
}

int32_t TDataXStorage::FinalizeElement() {
    if (_thisElementTag.empty()) {
        kwd::showMessage("XFile: No open element to write to file");
        return -1;
    }
    if (_DataXFileState != kStateWriting && _DataXFileState != kStateUpdating) return -2;
    TElement& element = OpenElement();
    if (element.NrTags == 0) {
        kwd::showMessage("XFILE: Element " + _thisElementTag + " has no attribute tags");
        return -3;
    }
    Add2Stream(kElementIndent + "<" + _thisElementTag + ">");
    for (int32_t k = 0; k < element.NrTags; ++k) {
        TDataXData& tag = element.Tags[size_t(k)];
        switch (tag.TagType) {
            case kTagPlain:
                Add2Stream(kTagIndent + "<" + tag.Tag + "> " + tag.Data + " </" +
                           FirstWord(tag.Tag) + ">");
                break;
            case kTagMatrix:
            case kTagBitmap:
            case kTagSparse3D:
                Add2Stream(kTagIndent + "<" + tag.Tag + ">");
                if (tag.DataLines)
                    for (const std::string& line : *tag.DataLines) Add2Stream(kTagIndent + line);
                Add2Stream(kTagIndent + "</" + FirstWord(tag.Tag) + ">");
                tag.DataLines.reset();
                break;
            default:
                break;
        }
    }
    Add2Stream(kElementIndent + "</" + FirstWord(_thisElementTag) + ">");
    _thisElementTag.clear();
    element.Tags.clear();
    element.NrTags = 0;
    return 0;
}

void TDataXStorage::FinalizeXDataFile() {
    // Only a file being written or updated is saved; a loaded file is never
    // written back with a second closing line.
    if (_DataXFileState != kStateWriting && _DataXFileState != kStateUpdating) return;
    AppendClosingLine();
    kwd::writeWholeFile(_DataXStreamFilename, EncodeTextLines(_DataXStream, _DataXEncoding));
    _ClosingLinePending = false;
    _DataXFileState = kStateClosed;
    _DataXStreamFilename.clear();
}

void TDataXStorage::FinalizeXDataFile2List(std::vector<std::string>& List) {
    if (_DataXFileState != kStateWriting && _DataXFileState != kStateUpdating) return;
    AppendClosingLine();
    _ClosingLinePending = false;
    _DataXFileState = kStateClosed;
    List = _DataXStream;
    _DataXStreamFilename.clear();
}

}  // namespace kwd::container
