// Parse and serialize speed of Tessara next to RapidJSON and nlohmann/json, on generated documents
// shaped like the program's own: the site catalogue, a volume list and the favorites tree.
#include "Tessara.h"

#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

// Deterministic generator, so every run measures the same bytes.
struct Rng {
    uint32_t s = 0x12345678;
    uint32_t next() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    }
    uint32_t below(uint32_t n) { return next() % n; }
};

const char* const kSyllables[] = {"man", "hua", "ko", "mi", "tian", "shi", "ren", "zhe", "long", "feng",
                                  "yue", "xing", "kai", "jin", "bo", "ra", "no", "ta", "ki", "su"};
const char* const kCjk[] = {"\xE6\xBC\xAB\xE7\x94\xBB", "\xE7\xAC\xAC", "\xE5\x8D\xB7", "\xE8\xAF\x9D",
                            "\xE5\xA4\xA9", "\xE4\xB8\x8B", "\xE9\xBE\x99", "\xE9\xA3\x8E"};

std::string word(Rng& r, int parts) {
    std::string w;
    for (int i = 0; i < parts; ++i) w += kSyllables[r.below(20)];
    return w;
}

std::string cjk(Rng& r, int parts) {
    std::string w;
    for (int i = 0; i < parts; ++i) w += kCjk[r.below(8)];
    return w;
}

std::string hex(Rng& r, int digits) {
    static const char d[] = "0123456789abcdef";
    std::string h;
    for (int i = 0; i < digits; ++i) h += d[r.below(16)];
    return h;
}

std::string quote(const std::string& s) { return "\"" + s + "\""; }

// A site's description: words, CJK text and a few escapes, about 200 bytes.
std::string intro(Rng& r) {
    std::string t;
    while (t.size() < 180) {
        t += r.below(3) ? word(r, 1 + r.below(3)) : cjk(r, 1 + r.below(4));
        t += r.below(12) ? " " : "\\n";
    }
    return t + "\\\"" + word(r, 2) + "\\\"";
}

std::string siteCatalogue(Rng& r) {
    std::string t = "{\"version\":20231108,\"updated\":1699430400123,\"service\":\"catalogue\",\"sites\":[";
    for (int i = 0; i < 5000; ++i) {
        std::string host = "www." + word(r, 2 + r.below(2)) + std::to_string(i) + ".example";
        if (i) t += ",";
        t += "{\"host\":" + quote(host) + ",\"key\":" + quote(hex(r, 32)) + ",\"script\":" +
             quote(word(r, 2) + "_" + std::to_string(i)) + ",\"version\":" + std::to_string(1 + r.below(40)) +
             ",\"enabled\":" + (r.below(5) ? "true" : "false") + ",\"rating\":" + std::to_string(r.below(100)) + "." +
             std::to_string(r.below(10)) + ",\"name\":" + quote(cjk(r, 2 + r.below(3)) + " " + word(r, 1)) +
             ",\"languages\":[\"zh\",\"en\"],\"search\":" + (r.below(2) ? "null" : quote("/search?q=%s&p=%d")) +
             ",\"intro\":" + quote(intro(r)) + "}";
    }
    return t + "]}";
}

std::string volumeList(Rng& r) {
    std::string t = "{\"comic\":" + quote(cjk(r, 4)) + ",\"author\":" + quote(word(r, 3)) +
                    ",\"url\":\"http://www.mangasite.example/comic/12345/\",\"volumes\":[";
    for (int i = 0; i < 2000; ++i) {
        if (i) t += ",";
        t += "{\"title\":" + quote(kCjk[1] + std::to_string(i + 1) + kCjk[3]) +
             ",\"url\":" + quote("http://www.mangasite.example/comic/12345/" + std::to_string(100000 + i) + ".html") +
             ",\"pages\":" + std::to_string(18 + r.below(40)) + ",\"state\":" + std::to_string(r.below(3)) +
             ",\"size\":" + std::to_string(r.below(30)) + "." + std::to_string(r.below(100)) +
             ",\"id\":" + std::to_string(1600000000000ull + r.below(1000000000)) +
             ",\"note\":" + quote("vol \\\"" + std::to_string(i) + "\\\"\\n" + word(r, 2)) + "}";
    }
    return t + "]}";
}

std::string favoriteNode(Rng& r, int depth, int& budget) {
    std::string t = "{\"name\":" + quote(depth ? cjk(r, 2) + word(r, 1) : "Favorites") + ",\"children\":[";
    int n = depth == 0 ? 8 : depth == 1 ? 5 : 0;
    for (int c = 0; c < n && budget > 0; ++c) {
        if (c) t += ",";
        t += favoriteNode(r, depth + 1, budget);
    }
    for (int i = 0; depth == 2 && i < 25 && budget > 0; ++i, --budget) {
        if (i) t += ",";
        t += "{\"name\":" + quote(cjk(r, 3) + " " + word(r, 2)) + ",\"url\":" +
             quote("http://comics" + std::to_string(r.below(50)) + ".example/book/" + std::to_string(r.below(90000))) +
             ",\"added\":" + std::to_string(1500000000 + r.below(200000000)) + ",\"volumes\":" +
             std::to_string(r.below(200)) + ",\"new\":" + (r.below(4) ? "false" : "true") + ",\"cover\":" +
             quote(hex(r, 32) + ".jpg") + "}";
    }
    return t + "]}";
}

std::string favoritesTree(Rng& r) {
    int budget = 1000;
    return favoriteNode(r, 0, budget);
}

using Clock = std::chrono::steady_clock;

// Runs op until at least half a second has passed; returns seconds per run.
double timePerRun(const std::function<void()>& op) {
    op();  // warm up
    int runs = 0;
    Clock::time_point start = Clock::now();
    double elapsed = 0;
    do {
        op();
        ++runs;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < 0.5);
    return elapsed / runs;
}

int TESSARA_CALL appendChunk(const char* chunk, void* user) {
    static_cast<std::string*>(user)->append(chunk);
    return 0;
}

JsonValue* tessaraParse(const std::string& text) {
    JsonParseSource* src = startParseMemory(text.data(), (int)text.size());
    JsonValue* v = jsonParse(src);
    finishParsing(&src);
    return v;
}

struct Figures {
    double parse[3];
    double write[3];
};

Figures measure(const std::string& text) {
    double mb = text.size() / 1e6;
    Figures f{};

    f.parse[0] = mb / timePerRun([&] {
        JsonValue* v = tessaraParse(text);
        if (!v) throw std::runtime_error("Tessara rejected the document");
        deleteValue(&v);
    });
    JsonValue* tree = tessaraParse(text);
    f.write[0] = mb / timePerRun([&] {
        std::string out;
        jsonSerialize(tree, appendChunk, &out);
    });
    deleteValue(&tree);

    f.parse[1] = mb / timePerRun([&] {
        rapidjson::Document d;
        d.Parse(text.c_str(), text.size());
        if (d.HasParseError()) throw std::runtime_error("RapidJSON rejected the document");
    });
    rapidjson::Document doc;
    doc.Parse(text.c_str(), text.size());
    f.write[1] = mb / timePerRun([&] {
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        doc.Accept(writer);
    });

    f.parse[2] = mb / timePerRun([&] { nlohmann::json j = nlohmann::json::parse(text); });
    nlohmann::json j = nlohmann::json::parse(text);
    f.write[2] = mb / timePerRun([&] { std::string out = j.dump(); });
    return f;
}

void printRow(const char* name, const char* op, const double* v) {
    printf("%-18s %-6s %10.1f %10.1f %10.1f %9.2f %9.2f\n", name, op, v[0], v[1], v[2], v[0] / v[1], v[0] / v[2]);
}

}  // namespace

int main() {
    Rng rng;
    struct Doc {
        const char* name;
        std::string text;
    } docs[] = {{"site catalogue", siteCatalogue(rng)}, {"volume list", volumeList(rng)},
                {"favorites tree", favoritesTree(rng)}};

    size_t total = 0;
    for (const Doc& d : docs) total += d.text.size();
    printf("JSON benchmark: %zu bytes in %zu documents; figures in MB/s (1 MB = 10^6 bytes)\n\n", total,
           sizeof docs / sizeof docs[0]);
    printf("%-18s %-6s %10s %10s %10s %9s %9s\n", "document", "", "Tessara", "RapidJSON", "nlohmann", "T/Rapid",
           "T/nlohm");
    double sumParse[3] = {0, 0, 0}, sumWrite[3] = {0, 0, 0};
    for (const Doc& d : docs) {
        Figures f = measure(d.text);
        char label[64];
        snprintf(label, sizeof label, "%s", d.name);
        printRow(label, "parse", f.parse);
        printRow("", "write", f.write);
        for (int i = 0; i < 3; ++i) {
            // time-weighted: the whole set's bytes over the sum of the per-document times
            sumParse[i] += d.text.size() / 1e6 / f.parse[i];
            sumWrite[i] += d.text.size() / 1e6 / f.write[i];
        }
        printf("  (%zu bytes)\n", d.text.size());
    }
    double allParse[3], allWrite[3];
    for (int i = 0; i < 3; ++i) {
        allParse[i] = total / 1e6 / sumParse[i];
        allWrite[i] = total / 1e6 / sumWrite[i];
    }
    printRow("whole set", "parse", allParse);
    printRow("", "write", allWrite);
    return 0;
}
