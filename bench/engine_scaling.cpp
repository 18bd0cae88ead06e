// How the engine alone scales on the worker pool: one thread converting a
// list of documents in a loop against the pool converting the same list,
// with no Python in either; the pool both with each text's own memo of key
// ranges and, as the batch methods run, with each thread's memo carried from
// text to text. Prints the fastest of 15 rounds of each, taken in
// alternation, and their ratios; run it a few times in a row to see how much
// a shared machine moves it.
//
//   cmake -S . -B build -DMERROW_BUILD_MODULE=OFF && cmake --build build
//   python bench/compare.py --dump-documents docs.txt
//   g++ -O3 -std=c++20 -Isrc bench/engine_scaling.cpp -Lbuild -lmerrow_engine -lpthread -o engine_scaling
//   ./engine_scaling docs.txt python/merrow/data
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "pipeline/batch_prefix_ranges.hpp"
#include "pipeline/convert.hpp"
#include "parallel/worker_pool.hpp"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s DOCUMENTS_FILE DATA_DIR (one document per line)\n", argv[0]);
        return 2;
    }
    std::vector<std::string> docs;
    std::ifstream in(argv[1], std::ios::binary);
    for (std::string line; std::getline(in, line);) docs.push_back(line);
    auto pipeline = merrow::Pipeline::load(argv[2], true, {});
    if (!pipeline) {
        std::fprintf(stderr, "%s\n", pipeline.error().message.c_str());
        return 1;
    }
    auto pool = merrow::WorkerPool::global();
    if (!pool) {
        std::fprintf(stderr, "%s\n", pool.error().message.c_str());
        return 1;
    }
    using clock = std::chrono::steady_clock;
    double loop = 1e9, batch = 1e9, carried = 1e9;
    for (int round = 0; round < 15; ++round) {
        std::vector<std::string> out(docs.size());
        auto t0 = clock::now();
        for (std::size_t i = 0; i < docs.size(); ++i) out[i] = merrow::convert(pipeline.value(), docs[i]);
        auto t1 = clock::now();
        pool.value()->run(docs.size(), [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) out[i] = merrow::convert(pipeline.value(), docs[i]);
        });
        auto t2 = clock::now();
        merrow::BatchPrefixRanges ranges;
        pool.value()->run(docs.size(), [&](std::size_t begin, std::size_t end) {
            merrow::PrefixRanges* memo = ranges.for_this_thread();
            for (std::size_t i = begin; i < end; ++i) out[i] = merrow::convert(pipeline.value(), docs[i], memo);
        });
        auto t3 = clock::now();
        loop = std::min(loop, std::chrono::duration<double>(t1 - t0).count());
        batch = std::min(batch, std::chrono::duration<double>(t2 - t1).count());
        carried = std::min(carried, std::chrono::duration<double>(t3 - t2).count());
    }
    std::printf("%zu documents: one thread %.2f ms; pool of %zu: %.2f ms (ratio %.2f), "
                "memos carried from text to text %.2f ms (ratio %.2f)\n",
                docs.size(), loop * 1e3, pool.value()->size(), batch * 1e3, loop / batch, carried * 1e3,
                loop / carried);
}
