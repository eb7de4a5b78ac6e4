// VELMORA.CFG and VESK.TXT are found beside the executable: the module path
// cut back to its last separator, then the file name.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "shown_text.h"
#include "program_files.h"

namespace {

std::string sibling(const char* module, char separator, const char* name, std::size_t size = 300)
{
    char out[300];
    std::memset(out, 'Z', sizeof out);
    build_sibling_path(module, separator, name, out, size);
    return out;
}

} // namespace

TEST(SiblingPath, FolderOfTheModuleThenTheName)
{
    EXPECT_EQ(sibling("C:\\VELMORA\\VELMORA.EXE", '\\', "VELMORA.CFG"), "C:\\VELMORA\\VELMORA.CFG");
    EXPECT_EQ(sibling("/opt/velmora/bin/velmora", '/', "VESK.TXT"), "/opt/velmora/bin/VESK.TXT");
    // The last separator counts, not the first.
    EXPECT_EQ(sibling("C:\\A\\B.C\\D.EXE", '\\', "VESK.TXT"), "C:\\A\\B.C\\VESK.TXT");
}

TEST(SiblingPath, RootFolderAndNoSeparator)
{
    EXPECT_EQ(sibling("C:\\VELMORA.EXE", '\\', "VELMORA.CFG"), "C:\\VELMORA.CFG");
    EXPECT_EQ(sibling("/velmora", '/', "VELMORA.CFG"), "/VELMORA.CFG");
    EXPECT_EQ(sibling("VELMORA.EXE", '\\', "VELMORA.CFG"), "VELMORA.CFG");
    EXPECT_EQ(sibling("", '\\', "VESK.TXT"), "VESK.TXT");
    // The other platform's separator is not one.
    EXPECT_EQ(sibling("C:\\VELMORA\\VELMORA.EXE", '/', "VESK.TXT"), "VESK.TXT");
}

TEST(SiblingPath, BuiltInPlaceOverTheModulePath)
{
    char buffer[shown_text_size];
    std::strcpy(buffer, "C:\\PROGRA~1\\VELMORA\\VELMORA.EXE");
    EXPECT_EQ(build_sibling_path(buffer, '\\', "VELMORA.CFG", buffer, sizeof buffer), buffer);
    EXPECT_STREQ(buffer, "C:\\PROGRA~1\\VELMORA\\VELMORA.CFG");
}

TEST(SiblingPath, LongPathIsCutToFitAndStaysTerminated)
{
    const std::string folder = "C:\\" + std::string(250, 'a') + "\\";
    const std::string module = folder + "VELMORA.EXE";
    const std::string full = folder + "VELMORA.CFG";
    // Room for everything: nothing is lost.
    EXPECT_EQ(sibling(module.c_str(), '\\', "VELMORA.CFG"), full);
    // Room for less: the result is the leading part that fits, NUL included.
    for (std::size_t size : {1u, 2u, 100u, 254u, 255u, 256u, 260u}) {
        char out[300];
        std::memset(out, 'Z', sizeof out);
        build_sibling_path(module.c_str(), '\\', "VELMORA.CFG", out, size);
        const std::size_t length = std::strlen(out);
        EXPECT_EQ(length, std::min(size - 1, full.size())) << size;
        EXPECT_EQ(std::string(out), full.substr(0, length)) << size;
        EXPECT_EQ(out[size], 'Z') << "written past the end at size " << size;
    }
}
