// CJYP writer for C++ test drivers and fuzz targets: encodes a key -> value
// table (keys sorted bytewise by std::map) and writes small dictionary sets.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

namespace merrow::testing {

using Table = std::map<std::string, std::string>;

inline void put_u32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

inline void put_u16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

// The bytes of a well-formed CJYP file holding `table`, laid out as
// merrow.cjyp.encode lays them out (tests/test_cjyp_writers.py holds the two
// to the same bytes): every distinct string once in the pool, in order of
// first use, the key of each entry before its value.
inline std::string encode(const Table& table) {
    std::string entries, pool;
    std::map<std::string, std::uint32_t> placed;
    auto place = [&](const std::string& s) {
        auto [it, fresh] = placed.try_emplace(s, static_cast<std::uint32_t>(pool.size()));
        if (fresh) pool += s;
        return it->second;
    };
    for (const auto& [k, v] : table) {
        put_u32(entries, place(k));
        put_u16(entries, static_cast<std::uint16_t>(k.size()));
        put_u32(entries, place(v));
        put_u16(entries, static_cast<std::uint16_t>(v.size()));
    }
    std::string out = "CJYP";
    put_u32(out, 1);
    put_u32(out, static_cast<std::uint32_t>(table.size()));
    put_u32(out, static_cast<std::uint32_t>(pool.size()));
    return out + entries + pool;
}

inline bool write_file(const std::string& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// Writes `dir`/`name`.bin for every (name, table) pair; false on any failure.
inline bool write_data_dir(const std::string& dir, const std::map<std::string, Table>& files) {
    for (const auto& [name, table] : files) {
        if (!write_file(dir + "/" + name + ".bin", encode(table))) return false;
    }
    return true;
}

}  // namespace merrow::testing
