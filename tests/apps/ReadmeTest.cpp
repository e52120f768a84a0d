// The README's table of verdicts, run: each command gives the verdict and the words the
// table promises.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/apps/ProgramRunner.h"

namespace {

// Splits a command line at blanks, keeping double-quoted words whole.
std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false, any = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (c == ' ' && !quoted) {
            if (any)
                words.push_back(word);
            word.clear();
            any = false;
        } else {
            word += c;
            any = true;
        }
    }
    if (any)
        words.push_back(word);
    return words;
}

std::vector<std::string> Cells(const std::string& row) {
    std::vector<std::string> cells;
    std::string cell;
    bool code = false;
    for (size_t i = 1; i < row.size(); i++) {
        const char c = row[i];
        if (c == '`')
            code = !code;
        if (c == '|' && !code && row[i - 1] != '\\') {
            cells.push_back(cell);
            cell.clear();
        } else {
            cell += c;
        }
    }
    return cells;
}

TEST(Readme, TheTableOfVerdictsIsWhatTheProgramSays) {
    if (!program::Built())
        GTEST_SKIP() << "the vrnmath program is not built";
    std::ifstream in(std::string(VRN_TEST_DATA) + "/../../README.md");
    ASSERT_TRUE(in) << "README.md not found";
    std::string line;
    bool inTable = false;
    int rows = 0;
    while (std::getline(in, line)) {
        if (line.rfind("| Command (`vrnmath minimize --quiet", 0) == 0) {
            inTable = true;
            continue;
        }
        if (!inTable)
            continue;
        if (line.empty() || line[0] != '|')
            break;
        if (line.rfind("|---", 0) == 0)
            continue;
        const std::vector<std::string> cells = Cells(line);
        ASSERT_GE(cells.size(), 3u) << line;
        const size_t open = cells[0].find('`'), close = cells[0].rfind('`');
        ASSERT_LT(open, close) << line;
        std::vector<std::string> args = {"minimize", "--quiet"};
        for (const std::string& w : Words(cells[0].substr(open + 1, close - open - 1)))
            args.push_back(w);
        SCOPED_TRACE(line);
        const program::Run run = program::Start(args);
        const std::string verdict = cells[1];
        const int want = verdict.find("yes") != std::string::npos      ? 0
                         : verdict.find("exit 2") != std::string::npos ? 2
                                                                       : 1;
        EXPECT_EQ(run.status, want) << run.out << run.err;
        // Every quoted phrase of the last column (pieces around an ellipsis) is in the output.
        const std::string& why = cells[2];
        for (size_t q = why.find('"'); q != std::string::npos; q = why.find('"', q + 1)) {
            const size_t end = why.find('"', q + 1);
            if (end == std::string::npos)
                break;
            std::stringstream pieces(why.substr(q + 1, end - q - 1));
            std::string piece;
            while (std::getline(pieces, piece, '\xE2')) {
                // Drop the rest of the ellipsis' bytes and surrounding blanks.
                while (!piece.empty() && (static_cast<unsigned char>(piece[0]) >= 0x80 || piece[0] == ' '))
                    piece.erase(0, 1);
                while (!piece.empty() && piece.back() == ' ')
                    piece.pop_back();
                EXPECT_TRUE(piece.empty() || (run.out + run.err).find(piece) != std::string::npos)
                    << piece << "\n"
                    << run.out;
            }
            q = end;
        }
        ++rows;
    }
    EXPECT_GE(rows, 8);
}

} // namespace
