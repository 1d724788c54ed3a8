#include "container/UDataXStorage.h"

TDataXStorage::TDataXStorage() = default;
TDataXStorage::~TDataXStorage() = default;

void TDataXStorage::SetDataXFileMetadata(const TDataXInfo& metadata) { _headerdata = metadata; }
int32_t TDataXStorage::InitXFileWriter(const std::string&) { return -1; }
void TDataXStorage::InitNewElement(const std::string&) {}
int32_t TDataXStorage::AddTagAsString(const std::string&, const std::string&) { return -1; }
int32_t TDataXStorage::AddTagAsInt(const std::string&, int32_t) { return -1; }
int32_t TDataXStorage::AddTagAsFloat(const std::string&, float) { return -1; }
int32_t TDataXStorage::AddTagAsBool(const std::string&, bool) { return -1; }
int32_t TDataXStorage::AddTagAsFloatCollection(const std::string&, int32_t, std::span<const float>) { return -1; }
int32_t TDataXStorage::AddTagAsStringCollection(const std::string&, int32_t, std::span<const std::string>) { return -1; }
int32_t TDataXStorage::FinalizeElement() { return -1; }
void TDataXStorage::FinalizeXDataFile() {}
void TDataXStorage::FinalizeXDataFile2List(std::vector<std::string>&) {}
void TDataXStorage::Add2Stream(const std::string&) {}
int32_t TDataXStorage::InitXFileReader(const std::string&) { return -1; }
TDataXInfo TDataXStorage::GetDataXFileMetadata(const std::string&) { return {}; }
void TDataXStorage::SetElementMandatory(bool m) { _ElementMustExist = m; }
int32_t TDataXStorage::Collectelements(const std::string&) { return -1; }
TDataXData& TDataXStorage::GetNextTagData(TDataXData& x) { return x; }
std::string TDataXStorage::ReadFromStream() { return {}; }
int32_t TDataXStorage::BuildElementIndex() { return -1; }
std::string TDataXStorage::GetTagValueAsString(int32_t, const std::string&, const std::string& d) { return d; }
int32_t TDataXStorage::GetTagValueAsInt(int32_t, const std::string&, int32_t d) { return d; }
float TDataXStorage::GetTagValueAsFloat(int32_t, const std::string&, float d) { return d; }
bool TDataXStorage::GetTagValueAsBool(int32_t, const std::string&, bool d) { return d; }
void TDataXStorage::GetTagValueAsStringCollection(int32_t, const std::string&, const std::string&, int32_t&, std::span<std::string>) {}
void TDataXStorage::GetTagValueAsFloatCollection(int32_t, const std::string&, const std::string&, int32_t&, std::span<float>) {}
std::vector<std::string> TDataXStorage::SplitTokens(const std::string&) { return {""}; }
std::string TDataXStorage::FirstWord(const std::string& n) { return n; }
std::vector<std::string> TDataXStorage::SplitCommaList(const std::string&, int32_t) { return {}; }
std::string TDataXStorage::ExtractTagName(const std::string&) { return {}; }
std::string TDataXStorage::ExtractTagValue(const std::string&) { return {}; }
bool TDataXStorage::HasClosingTag(const std::string&, const std::string&) { return false; }
bool TDataXStorage::HasAttributes(const std::string&) { return false; }
std::string TDataXStorage::GetAttributeValue(const std::string&, const std::string&) { return "0"; }
void TDataXStorage::SplitAttribute(const std::string&, std::string&, std::string&) {}
int32_t TDataXStorage::GetAttributeInt(const std::string&, const std::string&) { return 0; }
int32_t TDataXStorage::ReadIntegerText(std::string_view, bool*) { return 0; }
double TDataXStorage::ReadDoubleText(std::string_view, bool*) { return 0; }
float TDataXStorage::ReadFloatText(std::string_view, bool*) { return 0; }
std::string TDataXStorage::FormatFloat5(float) { return {}; }
std::vector<std::string> TDataXStorage::DecodeTextLines(std::string_view, TDataXTextEncoding&) { return {}; }
std::string TDataXStorage::EncodeTextLines(const std::vector<std::string>&, TDataXTextEncoding) { return {}; }
