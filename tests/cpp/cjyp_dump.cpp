// Writes to stdout the CJYP file that the drivers' test writer makes of the
// "key<TAB>value" lines on stdin; tests/test_cjyp_writers.py compares it with
// merrow.cjyp.encode.
#include <cstdio>
#include <iostream>
#include <string>

#include "cjyp_test_writer.hpp"

int main() {
    merrow::testing::Table table;
    for (std::string line; std::getline(std::cin, line);) {
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos) return 2;
        table[line.substr(0, tab)] = line.substr(tab + 1);
    }
    const std::string bytes = merrow::testing::encode(table);
    return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() ? 0 : 1;
}
