// CSV_BOUND (quorvil.h) against the worst case it names: rows of no columns
// in multi-row inserts, with the longest numbers, in two records of an undo
// and nine vectors of 21,845 rows, 8 KiB blocks.  The CSV stays within the
// bound and comes within 1% of it.
#include "mined.h"
#include "quorvil.h"

#include <filesystem>

using namespace qvtest;
namespace fs = std::filesystem;

TEST(CsvBound, WorstCaseComesWithinOnePercent)
{
    std::vector<Vector> vecs{v_undo_insert({65535, 65535, 0x80000000u}, 0x80000000u, 0xFFFFFFFFu)};
    Vector rows = v_qmi(std::vector<QmiRow>(21845));
    vecs[0].fields[2].clear();  // fields never read, left empty
    rows.fields[0].clear();
    vecs.resize(10, rows);
    LogBuilder b(LogOptions{32, 8192, MAX_SCN});
    b.add(MAX_SCN, vecs);
    b.add(MAX_SCN, vecs);
    TempDir t;
    b.write(t.path("redo.log"));
    RunResult r = run_quorvil({"-log", "redo.log", "-out", "out.csv"}, t.dir());
    ASSERT_EQ(r.status, 0) << r.err;
    const uint64_t log = fs::file_size(t.path("redo.log")), csv = fs::file_size(t.path("out.csv"));
    EXPECT_EQ(csv, 76 + 2 * 9 * 21845 * 146u);
    EXPECT_LE(csv, CSV_BOUND(log));
    EXPECT_GE(csv * 100, CSV_BOUND(log) * 99) << log << " bytes of log, " << csv << " of CSV";
}
