#pragma once
// Container files: a line-oriented, XML-like text format with a magic first
// line, a "Header" element, named elements holding named tags, and a closing
// line. TDataXStorage writes such a file, reads one, and updates one.
// One object serves one file; create it, use it, free it.
//
// Writing:  SetDataXFileMetadata, InitXFileWriter(path), then per element
//           InitNewElement, AddTagAs..., FinalizeElement; FinalizeXDataFile.
// Reading:  InitXFileReader(path), then per element name Collectelements(name)
//           and the GetTagValueAs... getters for element numbers 0..count-1.
//           GetDataXFileMetadata(path) checks a file and returns its header.
// Updating: InitXFileUpdater(path), then new elements as when writing, then
//           FinalizeXDataFile: the old elements are kept, the new ones follow
//           them, the header gets a new revision date, and the file is saved
//           in the text encoding it was read in.
// Array tags (matrices, sparse 3-D matrices, bitmaps, binary data) are added
// and read with the AddTagAs.../GetTagValueAs... operations further below.
//
// Capacities (visible to callers): 10000 indexed elements, 100 tag slots per
// element (every tag beyond the 100th overwrites slot 100), 51 words from
// SplitTokens, 5001 items from SplitCommaList. Storage grows on demand.

#include <algorithm>
#include <cstdint>
#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "container/TBitmap.h"
#include "container/UDataXArrays.h"

namespace kwd::container {

// The header record of a container file.
struct TDataXInfo {
    std::string ContentInfo;                // header tag "filetype"
    int32_t Version = -1;                   // header tag "version"
    std::string RevisionDate = "23.06.1969";  // header tag "revisiondate" as read
    std::string Remark;                     // header tag "remark"
    int32_t EncryptionLevel = 0;            // header tag "encryptionlevel"
    int32_t CheckSum = 0;                   // carried in the record only
};

// Tag kinds (TDataXData::TagType).
constexpr int32_t kTagPlain = 1;          // one value text
constexpr int32_t kTagMatrix = 2;         // type="matrix-data"
constexpr int32_t kTagBitmap = 3;         // type="bitmap"
constexpr int32_t kTagSparse2D = 4;       // type="sparematrix-2D": read as a plain tag
constexpr int32_t kTagSparse3D = 5;       // type="sparematrix-3D"

// One tag.
struct TDataXData {
    std::string Tag;        // tag name; for a block tag being written: name + attributes
    int32_t TagType = 0;    // kTagPlain .. kTagSparse3D
    std::string Data;       // value text of a plain tag ("0" for a block tag read)
    int32_t DimI = 0, dimJ = 0, dimK = 0;  // block dimensions as read
    int32_t Compression = 0;  // bitmap run-length flag as read
    int32_t LineCount = 0;    // data lines of a block tag as read
    float ValueA = 0.0f, ValueB = 0.0f, ValueC = 0.0f;  // ValueA: sparse default as read
    // Data lines of a block tag being written (without the five leading blanks);
    // empty (none) for plain tags and for every tag that was read.
    std::optional<std::vector<std::string>> DataLines;
    // Line range of the tag's data in the line list as found by the reader;
    // -1 when not set. The positions never exceed the line count (they reach
    // it only where the end of the file cuts a block off), so readers of
    // block data check every line index against the line list.
    int32_t DataStartStreamPos = -1, DataEndStreamPos = -1;
};

// One element: its tag slots. Slot n (counting from 1) is Tags[n - 1];
// Tags.size() == NrTags, at most 100.
struct TElement {
    std::vector<TDataXData> Tags;
    int32_t NrTags = 0;
};

// One entry of the element index: the element's name and the indices in the
// line list of its opening and closing lines (-1: not found).
struct TElementIndex {
    std::string ElementName;
    int32_t StreamStartPos = -1;
    int32_t StreamEndPos = -1;
};

// Text encoding of a file as loaded, and as saved again.
enum class TDataXTextEncoding {
    Ansi,     // 8-bit text without byte-order mark; bytes kept as they are
    Utf8,     // UTF-8 with byte-order mark
    Utf16LE,  // UTF-16 little-endian with byte-order mark (held as UTF-8)
    Utf16BE,  // UTF-16 big-endian with byte-order mark (held as UTF-8)
};

class TDataXStorage {
public:
    static constexpr int32_t kMaxElements = 10000;   // filled index entries at most
    static constexpr int32_t kMaxTags = 100;         // tag slots used per element
    static constexpr int32_t kMaxTokens = 51;        // words from SplitTokens
    static constexpr int32_t kMaxListItems = 5001;   // items from SplitCommaList
    static constexpr int32_t kMaxMatrixItems = 2001;  // items read from a matrix data line
    static constexpr int32_t kShortStringLength = 50;  // cells of TArray3DString
    // Most cells a matrix or bitmap tag may size an array to; a tag that
    // declares more is not read.
    static constexpr int64_t kMaxBlockCells = int64_t(1) << 26;
    static constexpr const char* kMagicLine = "<ZAKO-RIN_Datafile>";
    static constexpr const char* kAltMagicLine = "<ZML ZAKO-RIN_Datafile>";
    static constexpr const char* kClosingLine = "</ZAKO-RIN_Datafile>";

    // Create: empty lines, state 0, no element open, default header record.
    TDataXStorage();
    // Destroy: frees everything; an unfinished file is not written.
    ~TDataXStorage();

    // ---- writer ----------------------------------------------------------
    // Copies the whole record into the header data.
    void SetDataXFileMetadata(const TDataXInfo& metadata);
    // Starts a new file in memory (magic line and header). Returns 1, or -1
    // (with a message) when the header's ContentInfo is empty. Touches no disk.
    int32_t InitXFileWriter(const std::string& nameXfile);
    // Opens an element; the tags of an unfinished element are dropped.
    void InitNewElement(const std::string& elementtag);
    // Tag adders: return the open element's tag count after the addition
    // (1..100), or -1 when no element is open (nothing stored).
    int32_t AddTagAsString(const std::string& tagname, const std::string& tagvalue);
    int32_t AddTagAsInt(const std::string& tagname, int32_t tagvalue);
    int32_t AddTagAsFloat(const std::string& tagname, float tagvalue);  // "%.5f", "."
    int32_t AddTagAsBool(const std::string& tagname, bool tagvalue);    // "1" / "0"
    // The first ListCount values (at most the span's length), joined by ",".
    int32_t AddTagAsFloatCollection(const std::string& tagname, int32_t ListCount,
                                    std::span<const float> FloatCollection);
    int32_t AddTagAsStringCollection(const std::string& tagname, int32_t ListCount,
                                     std::span<const std::string> StringCollection);
    // Appends the open element's lines and closes it. Returns 0; -1 no open
    // element (message); -2 not writing or updating (element stays open);
    // -3 element without tags (message, element stays open).
    int32_t FinalizeElement();
    // In the writing or updating state: appends the closing line, saves all
    // lines to the file in one piece (temporary file + rename), state 0, file
    // name cleared. Otherwise it does nothing. A failed save raises
    // kwd::FileError; state, file name and lines then stay as they were.
    void FinalizeXDataFile();
    // As FinalizeXDataFile, but hands a copy of all lines to List instead of
    // saving (List's content is replaced). Otherwise it does nothing.
    void FinalizeXDataFile2List(std::vector<std::string>& List);
    // Appends one line and advances the read position by one.
    void Add2Stream(const std::string& s);

    // ---- reader ----------------------------------------------------------
    // Loads the file, repairs an older header layout, builds the element
    // index. Returns 1, or -1 when the file does not exist (state 0).
    // A file that exists but cannot be read raises kwd::FileError.
    int32_t InitXFileReader(const std::string& nameXfile);
    // Loads and checks the file and returns its header record; on failure the
    // result's ContentInfo is empty and the state is -1 (missing or fewer
    // than five lines), -2 (no magic line) or -3 (not exactly one "Header").
    // On success the state is 0. Unreadable files raise kwd::FileError. A
    // file of more than 4096 bytes whose first line is not the magic line is
    // refused (-2) from its first bytes, without being read whole.
    TDataXInfo GetDataXFileMetadata(const std::string& nameXfile);
    void SetElementMandatory(bool mustExist);
    // Collects all elements of that name (exact, case-sensitive), replacing
    // those collected before. Returns their number (0 or more); -1 when not
    // reading; -2 when the file holds no element. With the mandatory flag set
    // and no such element, raises kwd::GeneralError.
    int32_t Collectelements(const std::string& SearchElementTag);
    // Fills XData with the next tag record from the read position and returns
    // it (reading state only; otherwise the record is just reset). Lines
    // without a tag name are passed over; an empty line gives an empty record;
    // a closing line gives Tag "/name". A plain tag (TagType 1, also for
    // "sparematrix-2D") joins lines until its closing tag; a block tag
    // (TagType 2, 3, 5) gets its first word as Tag, Data "0", its dimensions
    // and its data line range. Compression, LineCount and ValueA..ValueC keep
    // what the record held unless the tag kind sets them.
    TDataXData& GetNextTagData(TDataXData& XData);
    // The line at the read position, which then advances by one; past the
    // last line an empty string (the position stays).
    std::string ReadFromStream();
    // Builds the element index (reading state only, else -1); returns the
    // number of entries.
    int32_t BuildElementIndex();

    // Getters for collected element `elementindex` (0.._nrElements-1) and tag
    // `ID` (exact). The default is returned when the element number is out of
    // range or the tag is missing; the string getter also for an empty text.
    std::string GetTagValueAsString(int32_t elementindex, const std::string& ID,
                                    const std::string& DefaultValue);
    int32_t GetTagValueAsInt(int32_t elementindex, const std::string& ID, int32_t DefaultValue);
    float GetTagValueAsFloat(int32_t elementindex, const std::string& ID, float DefaultValue);
    // True exactly when the tag is there (with any text, the empty one too).
    bool HasTag(int32_t elementindex, const std::string& ID) const {
        return FindTag(elementindex, ID) != nullptr;
    }
    // True exactly when the text reads as the integer 1.
    bool GetTagValueAsBool(int32_t elementindex, const std::string& ID, bool DefaultValue);
    // Splits the text (DefaultValue when the tag is missing or empty) at
    // commas; ListCount := item count, at most the span's length. An element
    // number out of range leaves ListCount and the span untouched.
    void GetTagValueAsStringCollection(int32_t elementindex, const std::string& ID,
                                       const std::string& DefaultValue, int32_t& ListCount,
                                       std::span<std::string> StringCollection);
    // As above, items read as floats; DefaultValue is not used (a missing tag
    // gives ListCount 0).
    void GetTagValueAsFloatCollection(int32_t elementindex, const std::string& ID,
                                      const std::string& DefaultValue, int32_t& ListCount,
                                      std::span<float> FloatCollection);

    // ---- updater -------------------------------------------------------------
    // Loads an existing file for appending elements: the header is taken from
    // its "Header" element (filetype, version, remark, encryptionlevel) and
    // written anew with the current date and time as revision date, the
    // closing line is removed, and the object is in the updating state (3), in
    // which elements are added as when writing. FinalizeXDataFile saves under
    // the same path, in the text encoding (and with the byte-order mark) the
    // file was read in. Returns 1, or -1 when the file does not exist (state 0,
    // no file name). The header record of SetDataXFileMetadata is not used.
    int32_t InitXFileUpdater(const std::string& nameXfile);
    // Removes every element of that name (exact) from the loaded lines, from
    // its opening to its closing line, and from the element index; later
    // index entries move up with the lines. An element whose closing line was
    // never found stays. Returns the number removed (0 or more), or -1 when
    // the loaded lines hold no element.
    int32_t StripElements(const std::string& _elementname);

    // ---- array tags: writers --------------------------------------------------
    // Each adds one block tag to the open element and returns its tag count
    // (1..100), -1 when no element is open, or -2 when the arguments are
    // refused (nothing is added). Dimensions must be positive and the arrays
    // must hold at least that many cells in each direction.
    //
    // Dense matrices (type "matrix-data", attributes dataI, dataJ and, for
    // floats only, signcount). Floats: one line per j from 0, values "%10.4f"
    // joined by ",". Integers, Booleans (1/0) and strings: one line per j
    // from _JJ - 1 down to 0. Strings are quoted where they hold a character
    // up to the blank, a double quote or a comma (inner quotes doubled); a
    // line of one empty item is written as two double quotes. _signcount must
    // be positive (strings: 1 to 5) and shapes nothing else.
    int32_t AddTagAsFloatMatrix(const std::string& tagname, int32_t _II, int32_t _JJ,
                                int32_t _signcount, const TArray2DFloat& Array2DFloat);
    int32_t AddTagAsIntMatrix(const std::string& tagname, int32_t _II, int32_t _JJ,
                              int32_t _signcount, const TArray2DInt& Array2DInt);
    int32_t AddTagAsBoolMatrix(const std::string& tagname, int32_t _II, int32_t _JJ,
                               int32_t _signcount, const TArray2DBool& Array2DBool);
    int32_t AddTagAsStringMatrix(const std::string& tagname, int32_t _II, int32_t _JJ,
                                 int32_t _signcount, const TArray2DString& Array2DString);
    // Sparse matrices (type "sparematrix-3D", attributes dataI, dataJ,
    // zlayers, defaultValue): one line "i,j,k,value[,value...]" per cell that
    // differs from the default in any of its arrays, k outermost, i innermost.
    // defaultValue text: floats "%.5f", integers "%3d", strings as given.
    int32_t AddTagAsSpareMatrix(const std::string& tagname, int32_t _II, int32_t _JJ, int32_t _KK,
                                float DefaultValue, const TArray3DFloat& Array3DFloat);
    int32_t AddTagAsSpareMatrix1S(const std::string& tagname, int32_t _II, int32_t _JJ,
                                  int32_t _KK, const std::string& DefaultValue,
                                  const TArray3DString& Array3DString);
    int32_t AddTagAsSpareMatrix2F(const std::string& tagname, int32_t _II, int32_t _JJ,
                                  int32_t _KK, float DefaultValue,
                                  const TArray3DFloat& Array3DFloat1,
                                  const TArray3DFloat& Array3DFloat2);
    int32_t AddTagAsSpareMatrix2I(const std::string& tagname, int32_t _II, int32_t _JJ,
                                  int32_t _KK, int32_t DefaultValue, const TArray3DInt& Array3DInt1,
                                  const TArray3DInt& Array3DInt2);
    int32_t AddTagAsSpareMatrix3S(const std::string& tagname, int32_t _II, int32_t _JJ,
                                  int32_t _KK, const std::string& DefaultValue,
                                  const TArray3DString& Array3DString1,
                                  const TArray3DString& Array3DString2,
                                  const TArray3DString& Array3DString3);
    // Bitmap (type "bitmap", attributes width, height, rle_compression): one
    // line per row from the top, six upper-case hex digits per pixel, or with
    // RLE " count code" per run of equal pixels. Refused for no bitmap or an
    // empty one.
    int32_t AddTagAsBitmap(const std::string& tagname, bool RLE, const TBitmap* _Bitmap);
    // All bytes of the stream from its start, as MIME Base64 (CR LF after
    // every 76 characters) in a plain tag.
    int32_t AddTagAsBinary(const std::string& tagname, std::istream& aStream);

    // ---- array tags: readers --------------------------------------------------
    // Float matrix: sets the array at its size to the default; a matrix tag
    // then resizes it to dataI x dataJ (default everywhere) and fills it.
    // Returns 0, or -1 (element number out of range, tag missing or no matrix,
    // or more than kMaxBlockCells cells).
    int32_t GetTagValueAsFloatMatrix(int32_t elementindex, const std::string& ID,
                                     float DefaultValue, TArray2DFloat& Array2DFloat);
    // Integer matrix: sets the array at its size to the default and fills the
    // cells inside it (not resized), line j giving cells [i][dimJ - 1 - j].
    // Returns 0, or -1 (element number out of range, tag no matrix); a missing
    // tag raises kwd::GeneralError "Exception: Cannot find or decode matrix
    // tag "<ID>" ".
    int32_t GetTagValueAsIntMatrix(int32_t elementindex, const std::string& ID,
                                   int32_t DefaultValue, TArray2DInt& Array2DInt);
    // Reads the integer matrix (default 0) and sets a cell true exactly where
    // it is 1; DefaultValue has no effect. Results and error as the integer
    // reader (on the error the array is left as it was).
    int32_t GetTagValueAsBoolMatrix(int32_t elementindex, const std::string& ID,
                                    bool DefaultValue, TArray2DBool& Array2DBool);
    // As the integer reader without the error; lines are trimmed and split
    // with their quoting, an empty item gives an empty string.
    int32_t GetTagValueAsStringMatrix(int32_t elementindex, const std::string& ID,
                                      const std::string& DefaultValue,
                                      TArray2DString& Array2DString);
    // Sparse readers: the caller sizes the arrays. A sparse tag sets every
    // cell to the tag's default (the number between the quotes of the
    // "defaultValue" attribute, blanks aside), then stores the cells of its lines that lie inside the array.
    // Float and integer variants take a line only when its last value is a
    // complete number; the integer variant rounds half to even. String cells
    // are cut to 50 characters. Returns 1, or -1 (tag missing or not sparse;
    // the arrays are then untouched).
    int32_t GetTagValueAsSpareMatrix(int32_t elementindex, const std::string& ID,
                                     TArray3DFloat& Array3DFloat);
    int32_t GetTagValueAsSpareMatrix1S(int32_t elementindex, const std::string& ID,
                                       TArray3DString& Array3DString);
    int32_t GetTagValueAsSpareMatrix2F(int32_t elementindex, const std::string& ID,
                                       TArray3DFloat& Array3DFloat1, TArray3DFloat& Array3DFloat2);
    int32_t GetTagValueAsSpareMatrix2I(int32_t elementindex, const std::string& ID,
                                       TArray3DInt& Array3DInt1, TArray3DInt& Array3DInt2);
    // The three arrays start at DefaultValue (cut to 50 characters), not at
    // the tag's default.
    int32_t GetTagValueAsSpareMatrix3S(int32_t elementindex, const std::string& ID,
                                       const std::string& DefaultValue,
                                       TArray3DString& Array3DString1,
                                       TArray3DString& Array3DString2,
                                       TArray3DString& Array3DString3);
    // Bitmap: sized width x height (black), then row y from line y of the
    // block. Pixels a short or missing row does not reach stay black. Returns
    // 0, or -1 (tag missing, no bitmap, more than kMaxBlockCells pixels); a
    // pixel code that is not hexadecimal raises kwd::ConversionError.
    int32_t GetTagValueAsBitmap(int32_t elementindex, const std::string& ID, TBitmap& _Bitmap);
    // Decodes the Base64 text of tag ID in collected element 0 and writes the
    // bytes from the stream's start (the stream is not truncated). Returns the
    // stream position afterwards: the byte count, 0 for a missing or empty tag.
    int32_t GetTagValueAsBinary(const std::string& ID, std::ostream& aStream);

    // ---- array tag text routines ----------------------------------------------
    // A bitmap row of six-character pixel codes as runs: " count code" each.
    static std::string RleEncodeLine(const std::string& codes);
    // The words of text in pairs (count, code): each code repeated count
    // times; stops once maxLength characters are produced.
    static std::string RleDecodeLine(const std::string& text, size_t maxLength);
    // MIME Base64: standard alphabet, "=" padding, CR LF between lines of 76.
    static std::string EncodeBase64Mime(std::string_view bytes);
    // Characters outside the alphabet are passed over; decoding ends at "=".
    static std::string DecodeBase64(std::string_view text);

    // ---- line and text routines shared by reader and writer ----------------
    // Words of a text: "," and "|" count as blanks, blank runs collapse, a
    // leading blank goes; at most 51 words; "" gives one empty word.
    static std::vector<std::string> SplitTokens(const std::string& text);
    static std::string FirstWord(const std::string& name);
    // Comma list with double-quote quoting; "" gives no item; a final comma a
    // final empty item; at most maxItems items.
    static std::vector<std::string> SplitCommaList(const std::string& text,
                                                   int32_t maxItems = kMaxListItems);
    static std::string ExtractTagName(const std::string& line);
    static std::string ExtractTagValue(const std::string& text);
    static bool HasClosingTag(const std::string& text, const std::string& name);
    static bool HasAttributes(const std::string& name);
    // "0" when the name has no attribute, "-1" when the attribute is absent.
    static std::string GetAttributeValue(const std::string& tagname, const std::string& attribute);
    static void SplitAttribute(const std::string& word, std::string& key, std::string& value);
    static int32_t GetAttributeInt(const std::string& tagname, const std::string& attribute);
    // Lenient number reading: leading blanks, optional sign, then digits (or
    // hex digits after "$", "x", "X", "0x", "0X" for integers); reading stops
    // at the first character that does not fit and yields the value read so
    // far (0 if none). `complete` (optional) tells whether the whole text was
    // a number. Integers saturate at the 32-bit range, floats at +-FLT_MAX.
    // (The legacy import reads its texts with its own, narrower rule:
    // dataset_text::leadingInt / leadingFloat.)
    static int32_t ReadIntegerText(std::string_view text, bool* complete = nullptr);
    static double ReadDoubleText(std::string_view text, bool* complete = nullptr);
    static float ReadFloatText(std::string_view text, bool* complete = nullptr);
    // Fixed-point text of a float with `decimals` places and "." (none
    // without places): its exact decimal value rounded a half away from zero;
    // "-" only where a digit shown is not 0; NaN and infinities as to_chars
    // writes them. The one home of the float texts of the container.
    static std::string FormatFloatFixed(float value, int decimals);
    // Five places: the value text of AddTagAsFloat and of the 3-D arrays.
    static std::string FormatFloat5(float value) { return FormatFloatFixed(value, 5); }
    // Text codec: bytes of a file -> lines (UTF-8 inside) and encoding found;
    // lines -> bytes with CR LF after every line in the given encoding.
    static std::vector<std::string> DecodeTextLines(std::string_view bytes,
                                                    TDataXTextEncoding& encoding);
    static std::string EncodeTextLines(const std::vector<std::string>& lines,
                                       TDataXTextEncoding encoding);

    // ---- read-only views of the object's fields ----------------------------
    const std::vector<std::string>& DataXStream() const { return _DataXStream; }
    const std::string& DataXStreamFilename() const { return _DataXStreamFilename; }
    int32_t DataXStreamPointer() const { return _DataXStreamPointer; }
    // 0 closed, 1 reading, 2 writing, 3 updating; -1, -2, -3 after a failed
    // GetDataXFileMetadata.
    int32_t DataXFileState() const { return _DataXFileState; }
    const std::string& ThisElementTag() const { return _thisElementTag; }
    bool ElementMustExist() const { return _ElementMustExist; }
    // Collected elements 0.._nrElements-1; while writing, entry 1 is the open
    // element.
    const std::vector<TElement>& Elements() const { return _Elements; }
    int32_t NrElements() const { return _nrElements; }
    const TDataXInfo& HeaderData() const { return _headerdata; }
    const std::vector<TElementIndex>& ElementIndex() const { return _ElementIndex; }
    int32_t NrElementIndex() const { return _nrElementIndex; }
    TDataXTextEncoding TextEncoding() const { return _DataXEncoding; }

private:
    // Inserts the seven header lines behind the magic line (revisiondate =
    // now) and shifts the element index from entry 1 by +7.
    void WriteHeaderBlock(const TDataXInfo& header);
    // Adds delta to the set line positions of index entries first.._nrElementIndex-1.
    void ShiftElementIndex(int32_t first, int32_t delta);
    // Inserts "<Header>" / "</Header>" into a file of the older layout.
    void RepairLegacyHeader();
    // Replaces the lines by the file's lines (decoded); raises kwd::FileError.
    void LoadLines(const std::string& path);
    // Common step of every tag adder: stores the record in the next slot of
    // the open element. Returns the new NrTags, or -1 with no open element.
    int32_t StoreTag(TDataXData record);
    // The element the writer assembles (entry 1), created on demand.
    TElement& OpenElement();
    // The first slot of collected element elementindex with Tag == ID, or null.
    const TDataXData* FindTag(int32_t elementindex, const std::string& ID) const;
    // Frees collected elements (and their DataLines).
    void ClearElements();
    // Whether the read position has reached the last line.
    bool AtLastLine() const;
    int32_t LineCountOfStream() const;
    // Appends the closing line unless a failed save left it there already.
    void AppendClosingLine();
    // Stores a block tag (name + attributes, kind, value text, data lines).
    int32_t StoreBlockTag(const std::string& tagWithAttributes, int32_t tagType,
                          const std::string& data, std::vector<std::string> lines);
    // The collected tag ID of element elementindex when it has that kind, else null.
    const TDataXData* FindTagOfType(int32_t elementindex, const std::string& ID,
                                    int32_t tagType) const;
    // The line at index, or null outside the line list.
    const std::string* StreamLine(int64_t index) const;
    // The lines of a sparse tag's data, split at commas.
    std::vector<std::vector<std::string>> SparseLines(const TDataXData& tag) const;

    std::vector<std::string> _DataXStream;
    std::string _DataXStreamFilename;
    int32_t _DataXStreamPointer = 0;
    int32_t _DataXFileState = 0;
    std::string _thisElementTag;
    bool _ElementMustExist = false;
    std::vector<TElement> _Elements;
    int32_t _nrElements = 0;
    TDataXInfo _headerdata;
    std::vector<TElementIndex> _ElementIndex;
    int32_t _nrElementIndex = 0;
    TDataXTextEncoding _DataXEncoding = TDataXTextEncoding::Ansi;
    // True while the closing line appended by a failed FinalizeXDataFile is
    // the last line; a retry then does not append a second one.
    bool _ClosingLinePending = false;
};

}  // namespace kwd::container
