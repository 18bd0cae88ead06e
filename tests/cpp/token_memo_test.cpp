// TokenMemo: lookups in a fresh memo, round trips, slot reuse and short
// texts. CI runs the drivers under valgrind too, where a lookup that reads a
// slot's unset fields shows up.
#include <cstdint>
#include <string>
#include <vector>

#include "check.hpp"
#include "pipeline/token_memo.hpp"

namespace {

using merrow::TokenMemo;
using merrow::testing::check;

void test_fresh_memo_finds_nothing() {
    TokenMemo memo(4096);
    // Tokens of every size hash to empty slots, whose sizes were never set.
    std::string token;
    bool none = true;
    for (int i = 0; i < 2000; ++i) {
        token += static_cast<char>('a' + i % 26);
        none = none && memo.find(token) == nullptr && memo.find(token.substr(i / 2)) == nullptr;
    }
    check(none, "a fresh memo finds no token");
    check(memo.find("") == nullptr, "a fresh memo finds no empty token");
}

void test_round_trip_and_overwrite() {
    TokenMemo memo(4096);
    std::vector<std::string> tokens;
    for (int i = 0; i < 300; ++i) tokens.push_back("token" + std::to_string(i));
    for (std::size_t i = 0; i < tokens.size(); ++i) memo.remember(tokens[i], i);
    // A later token may take an earlier one's slot; whatever is found must be
    // the payload remembered for that very token.
    int found = 0;
    bool right = true;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (const std::uint64_t* p = memo.find(tokens[i])) {
            ++found;
            right = right && *p == i;
        }
    }
    check(right, "a found payload is the one remembered for the token");
    check(found > 0, "remembered tokens are found");
    const std::string last = tokens.back();
    check(memo.find(last) != nullptr && *memo.find(last) == tokens.size() - 1, "the last token remembered is found");
    check(memo.find("token") == nullptr && memo.find("token29x") == nullptr, "a prefix or extension is not found");
}

void test_short_text_remembers_nothing() {
    TokenMemo memo(TokenMemo::kMinTextBytes - 1);
    const std::string token = "香港";
    memo.remember(token, 7);
    check(memo.find(token) == nullptr, "a memo for a short text remembers nothing");
}

}  // namespace

int main() {
    test_fresh_memo_finds_nothing();
    test_round_trip_and_overwrite();
    test_short_text_remembers_nothing();
    return merrow::testing::report();
}
