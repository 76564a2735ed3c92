#include <gtest/gtest.h>

#include <fstream>

#include "delivery/outputfile.h"
#include "tests/test_folder.h"

TEST(OutputFile, NamesNeverOverwrite) {
    TestFolder folder;
    const FileSpec source = folder.Path() / "clip.mov";
    for (const char* expected : {"clip.pdb", "clip-1.pdb", "clip-2.pdb"}) {
        const FileSpec out = MakeOutputFile(source, "", true, {});
        EXPECT_EQ(out, folder.Path() / expected);
        std::ofstream(out) << "taken";
    }
}

TEST(OutputFile, BaseNamesAndFolders) {
    TestFolder folder;
    const FileSpec source = folder.Path() / "my_holiday.final.mov";
    EXPECT_EQ(MakeOutputFile(source, "", true, {}).filename(), "my holiday.final.pdb");
    // A typed name arrives with the source's extension appended: its own full stops stay.
    EXPECT_EQ(MakeOutputFile(source, "Trip No. 2.mov", true, {}).filename(), "Trip No. 2.pdb");
    const FileSpec other = folder.Path() / "other";
    EXPECT_EQ(MakeOutputFile(source, "", false, other), other / "my holiday.final.pdb");
    EXPECT_EQ(MakeOutputFile(source, "", false, other.string() + "/"), other / "my holiday.final.pdb");
}
