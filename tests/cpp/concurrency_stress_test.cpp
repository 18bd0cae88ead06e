// The worker pool and the three conversion flavours on many threads at once,
// all reading one shared Pipeline. Every result must equal the one computed
// on a single thread. Built with -fsanitize=thread in CI, where it proves
// that the pool, the result slots and the pipeline's lookups are race-free.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "check.hpp"
#include "merrow.hpp"
#include "pipeline/convert.hpp"
#include "parallel/worker_pool.hpp"
#include "record_equality.hpp"
#include "segment/resolve.hpp"
#include "text/utf8.hpp"
#include "test_dictionary_set.hpp"

using namespace merrow;

namespace {

using merrow::testing::check;
using merrow::testing::same;

// Texts of very different lengths over dictionary words, digits, currency,
// punctuation, Latin and unknown characters; an empty text now and then.
std::vector<std::string> make_texts(std::size_t count) {
    const char* pieces[] = {"中國人", "中國", "香港人", "銀行", "行", "樂", "一", "空", "我", "你好", "𠀀", "㐀",
                            "$100", "3.5kg", "12,345", "50%", "3/4", "2:1", "1997年", "「", "」", "、", "……",
                            " ", "\t", "ABC", "AB", "x", "é", "😀", "，", "--", "一二三四五六七八九十百"};
    std::mt19937 rng(2024);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
    std::vector<std::string> texts(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t length = i % 17 == 0 ? 0 : (i % 5 == 0 ? 200 : rng() % 12);
        for (std::size_t k = 0; k < length; ++k) texts[i] += pieces[pick(rng)];
    }
    return texts;
}

struct Expected {
    std::vector<std::string> plain;
    std::vector<std::vector<DetailedToken>> detailed;
    std::vector<std::vector<CandidateToken>> candidates;
};

// Several threads ask for the global pool before it exists: all get one pool.
void test_pool_created_once() {
    constexpr int callers = 8;
    std::vector<WorkerPool*> seen(callers, nullptr);
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < callers; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load()) std::this_thread::yield();
            auto pool = WorkerPool::global();
            seen[t] = pool ? pool.value() : nullptr;
        });
    }
    go = true;
    for (auto& thread : threads) thread.join();
    bool one = seen[0] != nullptr;
    for (WorkerPool* p : seen) one = one && p == seen[0];
    check(one, "concurrent first calls of WorkerPool::global() return one pool");
}

// The owned records of a batch's RecordList, a repeat expanded from its
// earlier record, as convert_detailed (readings = false) or
// convert_candidates would return them.
template <class Record>
std::vector<Record> expand(const RecordList& list) {
    std::vector<Record> out;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const RecordRef r = list[i];
        if (r.earlier != RecordRef::kNoEarlier) {
            out.push_back(out.at(r.earlier));
            continue;
        }
        Record record{std::string(r.token), {}, std::string(label_name(r.lang)), std::string(r.confidence.text),
                      std::string(r.source.text)};
        if constexpr (std::is_same_v<Record, DetailedToken>) {
            record.jyutping = r.is_list ? "(a list)" : std::string(r.reading);
        } else {
            record.candidate_readings = r.is_list ? split_candidates(r.reading)
                                                  : std::vector<std::string>{std::string(r.reading)};
        }
        out.push_back(std::move(record));
    }
    return out;
}

// A batch as the binding runs it, through the engine's convert_batch: every
// text's result handed over once, equal to converting the text alone.
bool batch_matches(const Pipeline& p, const std::vector<std::string>& texts, const Expected& want, Flavour flavour) {
    const std::vector<std::string_view> views(texts.begin(), texts.end());
    std::vector<int> calls(texts.size(), 0);
    bool equal = true;
    auto failure = convert_batch(p, flavour, views, [&](std::size_t i, TextResult& r) {
        ++calls.at(i);
        switch (flavour) {
            case Flavour::plain: equal = equal && r.plain == want.plain[i]; break;
            case Flavour::detailed: equal = equal && same(expand<DetailedToken>(r.records), want.detailed[i]); break;
            case Flavour::candidates:
                equal = equal && same(expand<CandidateToken>(r.records), want.candidates[i]);
                break;
        }
        return true;
    });
    return !failure && equal && std::all_of(calls.begin(), calls.end(), [](int n) { return n == 1; });
}

void test_batches_on_global_pool(const Pipeline& p, const std::vector<std::string>& texts, const Expected& want) {
    for (int round = 0; round < 3; ++round) {
        check(batch_matches(p, texts, want, Flavour::plain), "convert batch on the pool");
        check(batch_matches(p, texts, want, Flavour::detailed), "convert_detailed batch on the pool");
        check(batch_matches(p, texts, want, Flavour::candidates), "convert_candidates batch on the pool");
    }
    // Once ready() declines a result it is not called again; the batch
    // still runs to its end.
    const std::vector<std::string_view> views(texts.begin(), texts.end());
    std::size_t calls = 0;
    auto failure = convert_batch(p, Flavour::plain, views, [&](std::size_t, TextResult&) { return ++calls < 3; });
    check(!failure && calls == 3, "convert_batch stops handing over results once declined");
}

// Several callers run their own batches on the one global pool at once.
void test_concurrent_callers_of_pool(const Pipeline& p, const std::vector<std::string>& texts, const Expected& want) {
    constexpr int callers = 4;
    std::vector<int> ok(callers, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < callers; ++t) {
        threads.emplace_back([&, t] {
            bool good = true;
            for (int round = 0; round < 2; ++round) {
                good = batch_matches(p, texts, want, Flavour::plain) && good;
                good = batch_matches(p, texts, want, Flavour::candidates) && good;
            }
            ok[t] = good;
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < callers; ++t) check(ok[t] == 1, "caller " + std::to_string(t) + " of a shared pool");
}

// Plain threads, no pool: all flavours at once on the shared pipeline, each
// thread starting at a different text so that the same lookups overlap.
void test_flavours_on_many_threads(const Pipeline& p, const std::vector<std::string>& texts, const Expected& want) {
    constexpr int threads_count = 8;
    std::vector<int> mismatches(threads_count, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < threads_count; ++t) {
        threads.emplace_back([&, t] {
            for (std::size_t k = 0; k < texts.size(); ++k) {
                std::size_t i = (k + t * texts.size() / threads_count) % texts.size();
                switch ((k + t) % 3) {
                    case 0: mismatches[t] += convert(p, texts[i]) != want.plain[i]; break;
                    case 1: mismatches[t] += !same(convert_detailed(p, texts[i]), want.detailed[i]); break;
                    default: mismatches[t] += !same(convert_candidates(p, texts[i]), want.candidates[i]); break;
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < threads_count; ++t) {
        check(mismatches[t] == 0, "thread " + std::to_string(t) + ": " + std::to_string(mismatches[t]) + " mismatches");
    }
}

// The aligned flavour: the records of convert_detailed, two in-text offsets
// per token character, never going backwards; on the pool, the same as alone.
void test_aligned_batches(const Pipeline& p, const std::vector<std::string>& texts, const Expected& want) {
    std::vector<AlignedText> alone(texts.size());
    bool sound = true;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        align_text(p, texts[i], alone[i]);
        const AlignedText& a = alone[i];
        sound = sound && same(expand<DetailedToken>(a.records), want.detailed[i]);
        std::size_t chars = 0;
        for (const DetailedToken& t : want.detailed[i]) chars += utf8::count_chars(t.token);
        sound = sound && a.spans.size() == 2 * chars;
        const std::uint32_t length = static_cast<std::uint32_t>(utf8::count_chars(texts[i]));
        for (std::size_t k = 0; sound && k < a.spans.size(); k += 2) {
            sound = a.spans[k] < a.spans[k + 1] && a.spans[k + 1] <= length &&
                    (k == 0 || (a.spans[k] >= a.spans[k - 2] && a.spans[k + 1] >= a.spans[k - 1]));
        }
    }
    check(sound, "aligned records equal convert_detailed's, with ordered spans inside the text");
    const std::vector<std::string_view> views(texts.begin(), texts.end());
    for (int round = 0; round < 3; ++round) {
        std::vector<int> calls(texts.size(), 0);
        bool equal = true;
        auto failure = align_batch(p, views, [&](std::size_t i, AlignedText& r) {
            ++calls.at(i);
            equal = equal && r.spans == alone[i].spans && same(expand<DetailedToken>(r.records),
                                                               expand<DetailedToken>(alone[i].records));
            return true;
        });
        check(!failure && equal && std::all_of(calls.begin(), calls.end(), [](int n) { return n == 1; }),
              "align batch on the pool");
    }
}

}  // namespace

int main() {
    test_pool_created_once();

    auto loaded = testing::load_test_pipeline(true, testing::user_entries());
    check(loaded.has_value(), "the test dictionary set loads");
    if (!loaded) return merrow::testing::report();
    const Pipeline& p = *loaded;
    const std::vector<std::string> texts = make_texts(600);
    Expected want;
    for (const std::string& text : texts) {
        want.plain.push_back(convert(p, text));
        want.detailed.push_back(convert_detailed(p, text));
        want.candidates.push_back(convert_candidates(p, text));
    }
    std::size_t read = 0;
    for (std::size_t i = 0; i < texts.size(); ++i) read += want.plain[i] != texts[i];
    check(read > texts.size() / 2, "most texts get readings from the dictionaries");

    test_batches_on_global_pool(p, texts, want);
    test_concurrent_callers_of_pool(p, texts, want);
    test_flavours_on_many_threads(p, texts, want);
    test_aligned_batches(p, texts, want);

    return merrow::testing::report();
}
