// TDataXStorage: the reader (loading, older header repair, element index, tag
// records, element collection, getters) and the header check.

#include <algorithm>
#include <cctype>
#include <string_view>

#include "container/UDataXStorage.h"
#include "platform/FileIO.h"
#include "platform/KwdError.h"

namespace kwd::container {

namespace {

constexpr int32_t kStateClosed = 0;
constexpr int32_t kStateReading = 1;
constexpr int32_t kStateMissingOrShort = -1;
constexpr int32_t kStateNoMagicLine = -2;
constexpr int32_t kStateNoSingleHeader = -3;
// Bytes looked at for the magic line before a large file is read whole.
constexpr size_t kHeaderPeekBytes = 4096;

// Whether line begins with text, ignoring letter case.
bool startsWithNoCase(const std::string& line, const std::string& text) {
    if (line.size() < text.size()) return false;
    for (size_t k = 0; k < text.size(); ++k) {
        if (std::tolower(static_cast<unsigned char>(line[k])) !=
            std::tolower(static_cast<unsigned char>(text[k])))
            return false;
    }
    return true;
}

// Whether a record read by GetNextTagData closes the named element or tag. The
// writer closes with the first word of a name; a closing line that repeats the
// whole name is accepted as well.
bool isClosingRecord(const std::string& tag, const std::string& name, const std::string& first) {
    if (tag.empty() || tag.front() != '/') return false;
    const std::string_view rest = std::string_view(tag).substr(1);
    return rest == name || rest == first;
}

// Stores a record in the next tag slot of an element (beyond the 100th the
// last slot is overwritten).
void storeRecord(TElement& element, const TDataXData& record) {
    element.NrTags = std::min(element.NrTags + 1, TDataXStorage::kMaxTags);
    const auto slot = size_t(element.NrTags - 1);
    if (element.Tags.size() <= slot)
        element.Tags.push_back(record);
    else
        element.Tags[slot] = record;
}

// The "defaultValue" of a sparse-matrix tag as the number it is: the text
// between its quotes, blanks included (the writer pads an integer default to
// three characters, "  5"), read as a float, so that a default with a
// fraction keeps it. An attribute without quotes is read as the other
// attributes are; a missing one gives -1.
float sparseDefault(const std::string& tagname) {
    const std::string key = " defaultValue=\"";
    const size_t at = tagname.find(key);
    if (at != std::string::npos) {
        const size_t start = at + key.size();
        const size_t end = tagname.find('"', start);
        if (end != std::string::npos)
            return TDataXStorage::ReadFloatText(std::string_view(tagname).substr(start, end - start));
    }
    return TDataXStorage::ReadFloatText(TDataXStorage::GetAttributeValue(tagname, "defaultValue"));
}

}  // namespace

// ---- loading ------------------------------------------------------------------

void TDataXStorage::LoadLines(const std::string& path) {
    TDataXTextEncoding encoding = TDataXTextEncoding::Ansi;
    std::vector<std::string> lines = DecodeTextLines(kwd::readWholeFile(path), encoding);
    _DataXStream = std::move(lines);
    _DataXEncoding = encoding;
    _ClosingLinePending = false;
}

void TDataXStorage::ClearElements() {
    _Elements.clear();  // frees every slot's DataLines
    _nrElements = 0;
}

int32_t TDataXStorage::InitXFileReader(const std::string& nameXfile) {
    _DataXStreamFilename = nameXfile;
    _DataXFileState = kStateClosed;
    if (!kwd::fileExists(nameXfile)) return -1;
    LoadLines(nameXfile);
    ClearElements();
    _DataXFileState = kStateReading;
    RepairLegacyHeader();
    BuildElementIndex();
    _DataXStreamPointer = 0;
    _ElementMustExist = false;
    return 1;
}

void TDataXStorage::RepairLegacyHeader() {
    if (_DataXStream.size() < 5 || ExtractTagName(_DataXStream[1]) == "Header") return;
    _DataXStream.insert(_DataXStream.begin() + 1, "<Header>");
    const size_t closeAt =
        (_DataXStream.size() > 6 && ExtractTagName(_DataXStream[6]) == "encryptionlevel") ? 7 : 6;
    _DataXStream.insert(_DataXStream.begin() + std::ptrdiff_t(closeAt), "</Header>");
}

// ---- reading lines and tags -----------------------------------------------------

std::string TDataXStorage::ReadFromStream() {
    if (_DataXStreamPointer < 0 || _DataXStreamPointer >= LineCountOfStream()) return {};
    return _DataXStream[size_t(_DataXStreamPointer++)];
}

int32_t TDataXStorage::BuildElementIndex() {
    if (_DataXFileState != kStateReading) return -1;
    _ElementIndex.clear();
    _nrElementIndex = 0;
    _DataXStreamPointer = std::min(1, LineCountOfStream());  // the magic line is never looked at
    TDataXData record;
    // The last line (normally the closing line of the file) is never read.
    while (!AtLastLine()) {
        const int32_t lineIndex = _DataXStreamPointer;
        const std::string name = ExtractTagName(ReadFromStream());
        if (!name.empty()) {
            _ElementIndex.push_back({name, lineIndex, -1});
            ++_nrElementIndex;
            const std::string first = FirstWord(name);
            bool closed = false;
            do {
                GetNextTagData(record);
                closed = isClosingRecord(record.Tag, name, first);
            } while (!closed && !AtLastLine());
            if (closed) _ElementIndex.back().StreamEndPos = _DataXStreamPointer - 1;
        }
        if (_nrElementIndex >= kMaxElements) break;
    }
    return _nrElementIndex;
}

TDataXData& TDataXStorage::GetNextTagData(TDataXData& XData) {
    // Compression, LineCount and the Value fields keep what the record held.
    XData.Tag.clear();
    XData.Data.clear();
    XData.DimI = XData.dimJ = XData.dimK = 0;
    XData.DataLines.reset();
    XData.DataStartStreamPos = XData.DataEndStreamPos = -1;
    if (_DataXFileState != kStateReading) return XData;

    std::string line = ReadFromStream();
    if (line.empty()) return XData;  // an empty line gives an empty record
    std::string name = ExtractTagName(line);
    while (name.empty()) {
        if (AtLastLine()) return XData;
        line = ReadFromStream();
        if (line.empty()) return XData;
        name = ExtractTagName(line);
    }
    if (name.front() == '/') {
        XData.Tag = name;
        return XData;
    }

    const int32_t count = LineCountOfStream();
    XData.DataStartStreamPos = XData.DataEndStreamPos = _DataXStreamPointer;
    XData.TagType = kTagPlain;
    int32_t kind = kTagPlain;
    if (HasAttributes(name)) {
        const std::string type = GetAttributeValue(name, "type");
        if (type == "matrix-data") kind = kTagMatrix;
        else if (type == "sparematrix-2D") kind = kTagSparse2D;
        else if (type == "sparematrix-3D") kind = kTagSparse3D;
        else if (type == "bitmap") kind = kTagBitmap;
    }

    switch (kind) {
        case kTagMatrix: {
            XData.DimI = GetAttributeInt(name, "dataI");
            XData.dimJ = GetAttributeInt(name, "dataJ");
            if (XData.DimI < 0) {
                XData.DimI = GetAttributeInt(name, "rows");
                XData.dimJ = GetAttributeInt(name, "columns");
            }
            // Onto the block's last data line; a missing, zero or negative line
            // count, or one beyond the file, never moves the position backwards
            // nor past the last line.
            const int32_t here = _DataXStreamPointer;
            // (64-bit: the count may be any 32-bit value, the lowest included.)
            const int64_t target = std::min<int64_t>(
                int64_t(here) + std::max<int64_t>(int64_t(XData.dimJ) - 1, 0), int64_t(count) - 1);
            _DataXStreamPointer = std::max<int32_t>(here, int32_t(target));
            XData.DataStartStreamPos = here;
            XData.DataEndStreamPos = _DataXStreamPointer;
            XData.LineCount = XData.dimJ;
            XData.Tag = FirstWord(name);
            XData.Data = "0";
            XData.TagType = kTagMatrix;
            break;
        }
        case kTagSparse3D: {
            XData.DimI = GetAttributeInt(name, "rows");
            XData.dimJ = GetAttributeInt(name, "columns");
            XData.dimK = GetAttributeInt(name, "zlayers");
            XData.ValueA = sparseDefault(name);
            XData.DataStartStreamPos = _DataXStreamPointer;
            int32_t lastData = _DataXStreamPointer - 1;
            while (_DataXStreamPointer < count) {
                const int32_t at = _DataXStreamPointer;
                if (ReadFromStream().find("</") != std::string::npos) break;
                lastData = at;
            }
            XData.DataEndStreamPos = lastData;
            XData.Tag = FirstWord(name);
            XData.Data = "0";
            XData.TagType = kTagSparse3D;
            break;
        }
        case kTagBitmap: {
            XData.DimI = GetAttributeInt(name, "width");
            XData.dimJ = GetAttributeInt(name, "height");
            XData.Compression = GetAttributeInt(name, "rle_compression");
            XData.DataStartStreamPos = _DataXStreamPointer;
            const int32_t rows = std::clamp(XData.dimJ, 0, count - _DataXStreamPointer);
            _DataXStreamPointer += rows;
            XData.DataEndStreamPos = _DataXStreamPointer;
            ReadFromStream();  // the block's closing line
            XData.LineCount = XData.dimJ;
            XData.Tag = FirstWord(name);
            XData.Data = "0";
            XData.TagType = kTagBitmap;
            break;
        }
        default: {
            // A plain tag may spread over several lines: they are joined
            // without separator until the closing tag appears.
            const std::string closeName = "</" + name + ">";
            const std::string closeFirst = "</" + FirstWord(name) + ">";
            const size_t overlap = std::max(closeName.size(), closeFirst.size());
            std::string text = line;
            size_t searchFrom = 0;
            while (text.find(closeName, searchFrom) == std::string::npos &&
                   text.find(closeFirst, searchFrom) == std::string::npos && !AtLastLine()) {
                searchFrom = text.size() > overlap ? text.size() - overlap : 0;
                text += ReadFromStream();
            }
            XData.Data = ExtractTagValue(text);
            XData.TagType = kTagPlain;
            XData.Tag = name;
            break;
        }
    }
    return XData;
}

// ---- elements -------------------------------------------------------------------

void TDataXStorage::SetElementMandatory(bool mustExist) { _ElementMustExist = mustExist; }

int32_t TDataXStorage::Collectelements(const std::string& SearchElementTag) {
    if (_DataXFileState != kStateReading) return -1;
    if (_nrElementIndex == 0) {
        BuildElementIndex();
        if (_nrElementIndex == 0) return -2;
    }
    ClearElements();
    const std::string first = FirstWord(SearchElementTag);
    TDataXData record;  // one record reused for every tag, as the reader's callers do
    for (int32_t k = 0; k < _nrElementIndex; ++k) {
        const TElementIndex& entry = _ElementIndex[size_t(k)];
        if (entry.ElementName != SearchElementTag) continue;
        _DataXStreamPointer = entry.StreamStartPos + 1;
        _Elements.emplace_back();
        ++_nrElements;
        TElement& element = _Elements.back();
        do {
            GetNextTagData(record);
            if (isClosingRecord(record.Tag, SearchElementTag, first)) break;
            storeRecord(element, record);
        } while (!AtLastLine());
    }
    if (_nrElements == 0 && _ElementMustExist) {
        throw kwd::GeneralError("Exception: Missing ZML-Element\rTrying to get mandatory element <" +
                                SearchElementTag + "> from file " + _DataXStreamFilename +
                                "\rTag not found. This file is corrupted and reading will "
                                "result in unexpected results");
    }
    return _nrElements;
}

TDataXInfo TDataXStorage::GetDataXFileMetadata(const std::string& nameXfile) {
    const TDataXInfo failed;  // ContentInfo empty
    _DataXStreamFilename = nameXfile;
    if (!kwd::fileExists(nameXfile)) {
        _DataXFileState = kStateMissingOrShort;
        return failed;
    }
    // A file larger than any header whose first line is not the magic line
    // is refused from its first bytes, before it is read whole: a data file
    // named in place of a descriptor may hold gigabytes.
    const std::string start = kwd::readFileStart(nameXfile, kHeaderPeekBytes + 1);
    if (start.size() > kHeaderPeekBytes) {
        TDataXTextEncoding encoding = TDataXTextEncoding::Ansi;
        const std::vector<std::string> lines =
            DecodeTextLines(std::string_view(start).substr(0, kHeaderPeekBytes), encoding);
        const std::string first = lines.empty() ? std::string() : lines.front();
        if (!startsWithNoCase(first, kMagicLine) && !startsWithNoCase(first, kAltMagicLine)) {
            _DataXFileState = kStateNoMagicLine;
            return failed;
        }
    }
    LoadLines(nameXfile);
    ClearElements();
    if (_DataXStream.size() < 5) {
        _DataXFileState = kStateMissingOrShort;
        return failed;
    }
    _DataXFileState = kStateReading;
    RepairLegacyHeader();
    BuildElementIndex();
    _DataXStreamPointer = 0;
    const std::string first = ReadFromStream();
    if (!startsWithNoCase(first, kMagicLine) && !startsWithNoCase(first, kAltMagicLine)) {
        _DataXFileState = kStateNoMagicLine;
        return failed;
    }
    if (Collectelements("Header") != 1) {
        _DataXFileState = kStateNoSingleHeader;
        return failed;
    }
    _headerdata.ContentInfo = GetTagValueAsString(0, "filetype", "");
    _headerdata.Version = GetTagValueAsInt(0, "version", 0);
    _headerdata.RevisionDate = GetTagValueAsString(0, "revisiondate", "23.06.1969");
    _headerdata.Remark = GetTagValueAsString(0, "remark", "");
    _headerdata.EncryptionLevel = GetTagValueAsInt(0, "encryptionlevel", 0);
    _DataXFileState = kStateClosed;
    return _headerdata;
}

// ---- getters --------------------------------------------------------------------

const TDataXData* TDataXStorage::FindTag(int32_t elementindex, const std::string& ID) const {
    if (elementindex < 0 || elementindex >= _nrElements) return nullptr;
    const TElement& element = _Elements[size_t(elementindex)];
    for (int32_t k = 0; k < element.NrTags; ++k)
        if (element.Tags[size_t(k)].Tag == ID) return &element.Tags[size_t(k)];
    return nullptr;
}

std::string TDataXStorage::GetTagValueAsString(int32_t elementindex, const std::string& ID,
                                               const std::string& DefaultValue) {
    const TDataXData* tag = FindTag(elementindex, ID);
    return (tag == nullptr || tag->Data.empty()) ? DefaultValue : tag->Data;
}

int32_t TDataXStorage::GetTagValueAsInt(int32_t elementindex, const std::string& ID,
                                        int32_t DefaultValue) {
    const TDataXData* tag = FindTag(elementindex, ID);
    return tag == nullptr ? DefaultValue : ReadIntegerText(tag->Data);
}

float TDataXStorage::GetTagValueAsFloat(int32_t elementindex, const std::string& ID,
                                        float DefaultValue) {
    const TDataXData* tag = FindTag(elementindex, ID);
    return tag == nullptr ? DefaultValue : ReadFloatText(tag->Data);
}

bool TDataXStorage::GetTagValueAsBool(int32_t elementindex, const std::string& ID,
                                      bool DefaultValue) {
    const TDataXData* tag = FindTag(elementindex, ID);
    return tag == nullptr ? DefaultValue : ReadIntegerText(tag->Data) == 1;
}

void TDataXStorage::GetTagValueAsStringCollection(int32_t elementindex, const std::string& ID,
                                                  const std::string& DefaultValue,
                                                  int32_t& ListCount,
                                                  std::span<std::string> StringCollection) {
    if (elementindex < 0 || elementindex >= _nrElements) return;
    const std::vector<std::string> items =
        SplitCommaList(GetTagValueAsString(elementindex, ID, DefaultValue));
    const size_t count = std::min(items.size(), StringCollection.size());
    ListCount = int32_t(count);
    std::copy_n(items.begin(), count, StringCollection.begin());
}

void TDataXStorage::GetTagValueAsFloatCollection(int32_t elementindex, const std::string& ID,
                                                 const std::string& /*DefaultValue*/,
                                                 int32_t& ListCount,
                                                 std::span<float> FloatCollection) {
    if (elementindex < 0 || elementindex >= _nrElements) return;
    const std::vector<std::string> items =
        SplitCommaList(GetTagValueAsString(elementindex, ID, ""));
    const size_t count = std::min(items.size(), FloatCollection.size());
    ListCount = int32_t(count);
    for (size_t k = 0; k < count; ++k) FloatCollection[k] = ReadFloatText(items[k]);
}

}  // namespace kwd::container
