// Writes the seed corpora of the fuzz targets (fuzz/corpus/<target>/): files
// as the program's writers produce them (descriptor, run configuration,
// container files with every kind of array tag), variants in the older
// header layout and other text encodings, and the test fixtures of
// tests/data. Run from the build: fuzz_seeds <source root>.

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "container/UDataXStorage.h"
#include "dataset/u_ZDXFile.h"
#include "frontend/u_tTRAFile.h"
#include "platform/FileIO.h"

using kwd::frontend::tTRAFile;

using kwd::dataset::ckAtmosphere;
using kwd::dataset::TZDXFile;

using kwd::container::TArray2DBool;
using kwd::container::TArray2DFloat;
using kwd::container::TArray2DInt;
using kwd::container::TArray2DString;
using kwd::container::TArray3DFloat;
using kwd::container::TArray3DInt;
using kwd::container::TArray3DString;
using kwd::container::TBitmap;
using kwd::container::TDataXInfo;
using kwd::container::TDataXStorage;

namespace fs = std::filesystem;

namespace {

std::string gRoot;

std::string corpus(const std::string& target) {
    const std::string dir = gRoot + "/fuzz/corpus/" + target;
    fs::create_directories(dir);
    return dir;
}

void seed(const std::string& target, const std::string& name, const std::string& bytes) {
    kwd::writeWholeFile(corpus(target) + "/" + name, bytes);
}

std::string linesText(const std::vector<std::string>& lines) {
    std::string bytes;
    for (const std::string& l : lines) bytes += l + "\r\n";
    return bytes;
}

TZDXFile sampleDescriptor() {
    TZDXFile d;
    d.filetype = 2;
    d.fileContent = ckAtmosphere;
    d.SpatialDimensions = 3;
    d.GridsI = 3, d.GridsJ = 2, d.GridsK = 4;
    d.sizedx = {1.5f, 2.0f, 2.5f};
    d.sizedy = {3.0f, 4.0f};
    d.sizedz = {0.5f, 1.0f, 1.25f, 2.0f};
    d.numberVars = 3;
    d.DataPerVariable = 1;
    d.nameVars = {"Objects ( )", "Flow u (m/s)", "Temp [K]"};
    d.Title = "Park in summer";
    d.SimBaseID = "Park";
    d.simdate = "01.07.2018";
    d.simtime = "12:30:15";
    d.projectname = "Park";
    d.Locationname = "Old Town";
    d.ModelRotation = 15.0f;
    d.Georef_x = 10.5f, d.Georef_y = 20.25f;
    d.Modelversion = "5.0";
    d.SimGUID = "{1234}";
    d.LicenseHolder = "Someone";
    d.Sunposition = 30.5f;
    d.WindInflow = 270.0f;
    return d;
}

std::string descriptorText(const TZDXFile& d) {
    const std::string path = gRoot + "/fuzz/corpus/.seed.ZDX";
    d.WriteFile(path);
    const std::string bytes = kwd::readWholeFile(path);
    fs::remove(path);
    return bytes;
}

// A container file with every kind of array tag in element "E".
std::string arrayTagsText() {
    TDataXStorage w;
    TDataXInfo info;
    info.ContentInfo = "ZDX";
    info.Version = 1;
    w.SetDataXFileMetadata(info);
    w.InitXFileWriter("unused");
    w.InitNewElement("E");
    TArray2DFloat fm(2, 3);
    fm[0][0] = 1.25f, fm[1][2] = -2.5f;
    w.AddTagAsFloatMatrix("fm", 2, 3, 4, fm);
    TArray2DInt im(3, 2);
    im[0][0] = 7, im[2][1] = -3;
    w.AddTagAsIntMatrix("im", 3, 2, 1, im);
    TArray2DBool bm(2, 2);
    bm[1][0] = true;
    w.AddTagAsBoolMatrix("bm", 2, 2, 1, bm);
    TArray2DString sm(2, 2);
    sm[0][0] = "a b", sm[1][0] = "q\"uote", sm[0][1] = "x,y";
    w.AddTagAsStringMatrix("sm", 2, 2, 1, sm);
    TArray3DFloat f3(2, 2, 2, 0.0f), g3(2, 2, 2, 0.0f);
    f3[1][0][1] = 2.5f, g3[0][1][0] = -1.0f;
    w.AddTagAsSpareMatrix("sf", 2, 2, 2, 0.0f, f3);
    w.AddTagAsSpareMatrix2F("sf2", 2, 2, 2, 0.0f, f3, g3);
    TArray3DInt i3(2, 2, 2, 5), j3(2, 2, 2, 5);
    i3[0][0][1] = 9;
    w.AddTagAsSpareMatrix2I("si2", 2, 2, 2, 5, i3, j3);
    TArray3DString s3(2, 2, 2, "d"), t3(2, 2, 2, "d"), u3(2, 2, 2, "d");
    s3[1][1][1] = "text";
    w.AddTagAsSpareMatrix1S("ss", 2, 2, 2, "d", s3);
    w.AddTagAsSpareMatrix3S("ss3", 2, 2, 2, "d", s3, t3, u3);
    TBitmap bitmap(4, 2, TBitmap::Rgb(1, 2, 3));
    bitmap.SetPixel(3, 1, TBitmap::Rgb(255, 0, 16));
    w.AddTagAsBitmap("bmp", true, &bitmap);
    w.AddTagAsBitmap("raw", false, &bitmap);
    std::string bytes;
    for (int k = 0; k < 100; ++k) bytes += char(k * 7);
    std::istringstream in(bytes);
    w.AddTagAsBinary("bin", in);
    w.AddTagAsFloatCollection("fc", 3, std::vector<float>{1.0f, -2.5f, 3.25f});
    w.AddTagAsStringCollection("sc", 3, std::vector<std::string>{"a", "", "b"});
    w.FinalizeElement();
    std::vector<std::string> lines;
    w.FinalizeXDataFile2List(lines);
    return linesText(lines);
}

std::string utf16le(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii) out += c, out += '\0';
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds <source root>\n");
        return 2;
    }
    gRoot = argv[1];
    fs::create_directories(gRoot + "/fuzz/corpus");
    const std::string data = gRoot + "/tests/data";

    // ---- descriptor files ----
    const std::string zdx = descriptorText(sampleDescriptor());
    const std::string freshZdx = descriptorText(TZDXFile());
    seed("zdx", "full.ZDX", zdx);
    seed("zdx", "fresh.ZDX", freshZdx);
    seed("zdx", "legacy_header.ZDX",
         linesText({"<ZAKO-RIN_Datafile>", "<filetype>zdx old</filetype>", "<version>100</version>",
                    "<revisiondate>01.01.2010</revisiondate>", "<remark>old</remark>",
                    "<encryptionlevel>0</encryptionlevel>", "  <datadescription>",
                    "     <nr_xdata> 2 </nr_xdata>", "     <spacing_x> 1.0,2.0 </spacing_x>",
                    "  </datadescription>", "  <variables>", "     <nr_variables> 1 </nr_variables>",
                    "     <name_variables> Flow u (m/s) </name_variables>", "  </variables>",
                    "</ZAKO-RIN_Datafile>"}));

    // ---- run configuration files ----
    tTRAFile tra;
    tra.fRootPath = "/data/sim";
    tra.setDetectorValues(38.0f, 42.0f, 38.0f, 42.0f, 1.5f, 2.5f);
    tra.setParticleMultiplier(1000000);
    tra.setMinHeight(0.25);
    tra.fZDXFileList = {"/data/sim/atmosphere/a_10.00.00_21.06.2018.ZDX",
                        "/data/sim/atmosphere/a_11.00.00_21.06.2018.ZDX"};
    const std::string traBase = gRoot + "/fuzz/corpus/.seed";
    tra.SaveToFile(traBase);
    const std::string traText = kwd::readWholeFile(traBase + ".tra");
    fs::remove(traBase + ".tra");
    seed("tra", "saved.tra", traText);
    for (const char* name : {"three_paths.tra", "no_detector.tra"})
        seed("tra", name, kwd::readWholeFile(data + "/frontend/" + name));

    // ---- container files: all of the above, array tags, encodings ----
    seed("container", "descriptor.xml", zdx);
    seed("container", "run.xml", traText);
    seed("container", "three_paths.xml", kwd::readWholeFile(data + "/frontend/three_paths.tra"));
    const std::string arrays = arrayTagsText();
    seed("container", "array_tags.xml", arrays);
    seed("container", "array_tags_utf8.xml", "\xEF\xBB\xBF" + arrays);
    seed("container", "run_utf16le.xml", utf16le(traText));
    seed("container", "legacy_header.xml", kwd::readWholeFile(corpus("zdx") + "/legacy_header.ZDX"));
    seed("container", "odd_lines.xml",
         linesText({"<ZML ZAKO-RIN_Datafile> trailing", "<Header>", "<filetype>X</filetype>",
                    "</Header>", "  <E name=\"a\" b>", "     <q> \" quoted value \" </q>",
                    "     <split> first", "part </split>", "", "     <t type=\"sparematrix-2D\"> v </t>",
                    "     <m type=\"matrix-data\" rows=\"2\" columns=\"9\">", "1,2", "  </E>",
                    "  <E>", "     <q>2</q>", "  </E>", "</ZAKO-RIN_Datafile>"}));

    // ---- legacy ZDI files: the first line is the file name ----
    for (const auto& entry : fs::directory_iterator(data + "/dataset")) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".ZDI") continue;
        seed("zdi", name, name + "\n" + kwd::readWholeFile(entry.path().string()));
    }

    // ---- number texts ----
    const char* numbers[] = {"12abc", " 1.5e2", "1,5", "$1F", "0x7fffffff", "-2147483649",
                             "1e39", "1e-50", "3.40282357e38", "-0", ".5", "5.", "+.e5",
                             "  -12.50000", "99999999999999999999", "1e400", "4.9e-324"};
    int n = 0;
    for (const char* text : numbers) seed("numbers", "n" + std::to_string(n++), text);
    return 0;
}
