#include "expected_tsv.h"

#include <fstream>
#include <sstream>

namespace testdata {

std::vector<std::vector<std::string>> ReadExpectedTsv(const std::filesystem::path& tsv,
                                                      std::size_t fields) {
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(tsv);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> f;
        std::stringstream s(line);
        std::string field;
        while (std::getline(s, field, '\t'))
            f.push_back(field);
        f.resize(fields);
        rows.push_back(std::move(f));
    }
    return rows;
}

} // namespace testdata
